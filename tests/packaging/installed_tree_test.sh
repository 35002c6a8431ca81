#!/usr/bin/env bash
# Installs the build tree into a scratch directory (cmake --install, prefix /usr) and checks what
# a desktop and the package rely on: the programs and the stand-ins, executable, where the
# application looks for them; the launcher, the metainfo and every icon size they name; the licence.
# Usage: installed_tree_test.sh BUILD_DIR APP_ID
set -uo pipefail
build=$1
app_id=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

DESTDIR="$scratch" cmake --install "$build" --prefix /usr >"$scratch.log" 2>&1 ||
  { cat "$scratch.log"; rm -f "$scratch.log"; echo "FAIL: cmake --install"; exit 1; }
rm -f "$scratch.log"
usr=$scratch/usr

for program in bin/quorvel-ntfs-mount bin/quorvel-disks \
  libexec/quorvel-ntfs-mount/diskutil libexec/quorvel-ntfs-mount/mount libexec/quorvel-ntfs-mount/brew \
  libexec/quorvel-ntfs-mount/volume-state; do
  [ -f "$usr/$program" ] && [ -x "$usr/$program" ] || fail "$program is missing or not executable"
done
# The stand-ins answer as themselves from the installed place (brew needs no package manager
# to refuse a command line it does not know).
"$usr/libexec/quorvel-ntfs-mount/diskutil" list -plist 2>/dev/null | grep -q '<plist' ||
  fail "the installed diskutil does not list"
"$usr/libexec/quorvel-ntfs-mount/brew" frobnicate >/dev/null 2>&1 && fail "the installed brew accepted nonsense"

# Launcher and metainfo agree with each other and with what is installed.
desktop=$usr/share/applications/$app_id.desktop
metainfo=$usr/share/metainfo/$app_id.metainfo.xml
[ -f "$desktop" ] || fail "no launcher $desktop"
[ -f "$metainfo" ] || fail "no metainfo $metainfo"
key() { sed -n "s/^$1=//p" "$desktop"; }
exec_line=$(key Exec)
[ -x "$usr/bin/${exec_line%% *}" ] || fail "the launcher starts '$exec_line', not an installed program"
grep -q "^Comment\[ja\]=" "$desktop" && grep -q "^Name\[ja\]=" "$desktop" ||
  fail "the launcher has no Japanese name and comment"
grep -q "<id>$app_id</id>" "$metainfo" || fail "the metainfo is not about $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
  fail "the metainfo does not launch $app_id.desktop"
grep -q '@[A-Z_]*@' "$desktop" "$metainfo" && fail "a placeholder was left unreplaced"
# A launcher that activates the application over D-Bus finds the bus's service for it, which
# starts the installed program from the prefix the tree was installed to.
service=$usr/share/dbus-1/services/$app_id.service
grep -q '^DBusActivatable=true$' "$desktop" || fail "the launcher is not D-Bus-activatable"
grep -q "^Name=$app_id$" "$service" || fail "no D-Bus service for $app_id"
grep -q "^Exec=/usr/bin/${exec_line%% *}$" "$service" || fail "the D-Bus service starts $(grep ^Exec= "$service")"

# pkexec finds the privileged reader's action by the installed program's exact path.
policy=$usr/share/polkit-1/actions/$app_id.policy
grep -q "<annotate key=\"org.freedesktop.policykit.exec.path\">/usr/libexec/quorvel-ntfs-mount/volume-state</annotate>" \
  "$policy" 2>/dev/null || fail "$policy does not name /usr/libexec/quorvel-ntfs-mount/volume-state"

# AppStream's own look at the tree: the metainfo together with the launcher it names.
if command -v appstreamcli >/dev/null; then
  appstreamcli validate-tree --no-net "$scratch" >"$scratch/appstream" 2>&1 ||
    fail "appstreamcli validate-tree: $(cat "$scratch/appstream")"
else
  echo "note: appstreamcli is not installed; the tree's AppStream check is left out"
fi

icon=$(key Icon)
[ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon.svg"
# Width and height from the PNG header, big-endian at bytes 16 and 20.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $3 * 256 + $4, $7 * 256 + $8 }'; }
for size in 16 22 24 32 48 64 128 256; do
  png=$usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
  if [ ! -f "$png" ]; then
    fail "no ${size}x${size} icon"
  elif [ "$(png_size "$png")" != "${size}x${size}" ]; then
    fail "${size}x${size} icon is $(png_size "$png")"
  fi
done

# The licence where Debian looks for it, in its machine-readable form.
copyright=$usr/share/doc/quorvel-ntfs-mount/copyright
head -n 1 "$copyright" 2>/dev/null | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "no machine-readable $copyright"
grep -q '^License: Expat$' "$copyright" || fail "$copyright does not give the MIT (Expat) licence"

# Nothing of the build or the tests gets into the installed tree.
unexpected=$(cd "$usr" && find . -type f | grep -v -E '^\./(bin/quorvel-(ntfs-mount|disks)|libexec/quorvel-ntfs-mount/(diskutil|mount|brew|volume-state)|share/(applications|metainfo|dbus-1/services|polkit-1/actions|icons/hicolor/[^/]+/apps)/[^/]+|share/doc/quorvel-ntfs-mount/copyright)$')
[ -z "$unexpected" ] || fail "unexpected installed files: $unexpected"

# The programs look for the stand-ins relative to their own bin/ folder: a scan from the installed
# quorvel-disks must start the installed diskutil (here wrapped by one that leaves a mark).
standins=$usr/libexec/quorvel-ntfs-mount
mv "$standins/diskutil" "$standins/diskutil.real"
printf '#!/bin/sh\n: > "%s"\nexec "%s" "$@"\n' "$scratch/started" "$standins/diskutil.real" >"$standins/diskutil"
chmod +x "$standins/diskutil"
"$usr/bin/quorvel-disks" >"$scratch/disks" 2>&1 || fail "the installed quorvel-disks failed: $(cat "$scratch/disks")"
[ -e "$scratch/started" ] || fail "the installed quorvel-disks did not start the installed diskutil"

[ $status -eq 0 ] && echo "installed tree: ok"
exit $status
