#!/usr/bin/env bash
# Builds the Debian package from the build tree (or takes $QUORVEL_TEST_DEB), installs it on this
# machine, and checks the installed application: the package's dependencies and the installed
# program under Xvfb showing its main window (the installed tree itself, and where its programs
# find the stand-ins, are installed_tree_test.sh's). The package is purged again on every way
# out, and nothing of it may stay behind.
# Usage: deb_install_test.sh BUILD_DIR [--sanitized]
set -uo pipefail
build=$1
package=quorvel-ntfs-mount
libexec=/usr/libexec/quorvel-ntfs-mount
title='Quorvel NTFS Mount'

skip() { echo "skipped: $*"; exit 77; }
[ "${2:-}" = --sanitized ] && skip "sanitizer build: the package is made from the plain build"
[ "$(id -u)" -eq 0 ] || skip "needs root to install a package"
for tool in dpkg dpkg-deb cpack Xvfb xdotool xprop; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/setup test installs it)"
done
case "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" in
  "" | *not-installed) ;;
  *) skip "$package is already installed here; the test will not replace it" ;;
esac

scratch=$(mktemp -d)
pids=()
installed=""
status=0
fail() { echo "FAIL: $*"; status=1; }

# apt-get waits for a lock another dpkg or apt holds, where dpkg would refuse at once.
apt=(apt-get -y -q -o DPkg::Lock::Timeout=120)

# The started processes end, newest first, each with its children: dbus-run-session, killed, would
# leave its bus daemon running.
stop_all() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do pkill -P "${pids[i]}"; kill "${pids[i]}" 2>/dev/null; wait "${pids[i]}" 2>/dev/null; done
  pids=()
}

cleanup() {
  stop_all
  if [ -n "$installed" ]; then
    "${apt[@]}" purge "$package" >/dev/null || echo "FAIL: apt-get purge $package"
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

wait_for() {
  local tries=$1
  shift
  until "$@" >/dev/null 2>&1; do
    [ $((tries--)) -gt 0 ] || return 1
    sleep 0.2
  done
}

# ---- The package ----
deb=${QUORVEL_TEST_DEB:-}
if [ -z "$deb" ]; then
  (cd "$build" && cpack -G DEB -B "$scratch/cpack") >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; echo "FAIL: cpack"; exit 1; }
  deb=$(ls "$scratch"/cpack/*.deb)
fi
depends=$(dpkg-deb -f "$deb" Depends)
echo "package: $deb; Depends: $depends"
# Each library family comes from dpkg-shlibdeps; each program the application starts is named.
for dependency in 'libqt6core6' 'libqt6widgets6' 'libqt6dbus6' 'libqcoro6' 'libplist' 'libblkid1' \
  'ntfs-3g' 'fuse3' 'udisks2' 'pkexec' 'xdg-utils'; do
  grep -q -E "(^|, )$dependency" <<<"$depends" || fail "Depends lacks $dependency"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = fonts-noto-cjk ] || fail "fonts-noto-cjk is not recommended"

installed=yes
# A path, so that apt-get installs this file rather than a package of that name from a mirror.
"${apt[@]}" install "$(realpath "$deb")" >"$scratch/apt.log" 2>&1 ||
  { cat "$scratch/apt.log"; echo "FAIL: apt-get install $deb"; exit 1; }
dpkg -L "$package" >"$scratch/files"

# ---- The installed application under Xvfb ----
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$scratch/display" >"$scratch/xvfb.log" 2>&1 &
pids+=($!)
wait_for 50 test -s "$scratch/display" || { cat "$scratch/xvfb.log"; echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n 1 "$scratch/display")"
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1

session=()
command -v dbus-run-session >/dev/null && session=(dbus-run-session --)
"${session[@]}" /usr/bin/quorvel-ntfs-mount >"$scratch/app.log" 2>&1 &
pids+=($!)

if wait_for 150 xdotool search --onlyvisible --name "^$title\$"; then
  window=$(xdotool search --onlyvisible --name "^$title\$" | head -n 1)
  # Docks group the window under the launcher whose StartupWMClass names its class.
  wm_class=$(xprop -id "$window" WM_CLASS)
  launcher_file=$(grep '^/usr/share/applications/.*\.desktop$' "$scratch/files")
  startup_class=$(sed -n 's/^StartupWMClass=//p' "$launcher_file")
  grep -q "\"$startup_class\"" <<<"$wm_class" || fail "window class $wm_class, launcher says '$startup_class'"
else
  fail "the main window \"$title\" did not appear"
fi
# Still running, and the installed program itself.
app_pid=$(pgrep -x -f /usr/bin/quorvel-ntfs-mount) && pids+=($app_pid) || fail "the installed application is not running"
[ $status -eq 0 ] || { echo "application output:"; sed 's/^/  /' "$scratch/app.log"; }

# ---- Removal leaves nothing behind ----
stop_all
"${apt[@]}" purge "$package" >/dev/null || fail "apt-get purge $package"
installed=""
[ -z "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -v not-installed)" ] || fail "$package is still known to dpkg"
while read -r path; do
  # Shared folders (/usr, /usr/share/icons/hicolor/...) stay; the package's own files and folders go.
  if { [ -f "$path" ] || [ "$path" = "$libexec" ]; } && [ -e "$path" ]; then fail "left behind: $path"; fi
done <"$scratch/files"

[ $status -eq 0 ] && echo "package install: ok"
exit $status
