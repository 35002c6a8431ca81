#include "platform/Platform.h"

#include "platform/Elevation.h"
#include "platform/LinuxTools.h"

#include <QCoreApplication>
#include <QDir>

#include <unistd.h>

#ifndef QUORVEL_LIBEXEC_RELATIVE
#define QUORVEL_LIBEXEC_RELATIVE "../libexec/quorvel-ntfs-mount"
#endif

namespace {

// What every Linux mount of ours asks of ntfs-3g: a volume only its owner may enter; never empty
// the journal Windows left unfinished (it refuses such a volume instead, which is then offered
// read-only); and writes in large pieces rather than FUSE's 4 KiB ones (honoured on volumes of
// 4 GiB or more), which the kernel's ntfs3 does not know, so a mount that asks for it never
// falls to that driver.
const QString kLinuxNtfs3gOptions = QStringLiteral("umask=077,norecover,big_writes");

} // namespace

Platform Platform::macOS()
{
    Platform p;
    p.name = QStringLiteral("macOS");
    p.shell = QStringLiteral("/bin/zsh");
    p.shellArguments = {QStringLiteral("-c")};
    p.elevation = Elevation::AppleScript;
    p.osascript = QStringLiteral("/usr/bin/osascript");
    p.privilegedShell = QStringLiteral("/bin/sh");
    p.diskutil = QStringLiteral("/usr/sbin/diskutil");
    p.mountListing = QStringLiteral("/sbin/mount");
    p.opener = QStringLiteral("/usr/bin/open");
    p.unmountCommand = QStringLiteral("/sbin/umount");
    p.processFilesLister = QStringLiteral("/usr/sbin/lsof");
    p.mountRoot = QStringLiteral("/Volumes/");
    p.ntfs3gOptions = QStringLiteral("local,allow_other,auto_xattr,backend=fskit");
    p.homebrewPaths = {QStringLiteral("/opt/homebrew/bin/brew"), QStringLiteral("/usr/local/bin/brew")};
    p.fuseMarkerPaths = {
        QStringLiteral("/usr/local/bin/fuse-t"),
        QStringLiteral("/Library/Filesystems/fuse-t.fs"),
        QStringLiteral("/Library/Application Support/fuse-t/uninstall.sh"),
        QStringLiteral("/Library/Frameworks/fuse-t.framework"),
    };
    p.ntfs3gPaths = {
        QStringLiteral("/opt/homebrew/bin/ntfs-3g"),
        QStringLiteral("/usr/local/bin/ntfs-3g"),
        QStringLiteral("/usr/local/sbin/ntfs-3g"),
        QStringLiteral("/opt/homebrew/sbin/ntfs-3g"),
    };
    p.fuseUninstallScript = QStringLiteral("/Library/Application Support/fuse-t/uninstall.sh");
    p.homebrewInstallerLine = QStringLiteral(
        "NONINTERACTIVE=1 /bin/bash -c \"$(curl -fsSL "
        "https://raw.githubusercontent.com/Homebrew/install/HEAD/install.sh)\"");
    p.words.packageManager = QStringLiteral("Homebrew");
    p.words.fuseLayer = QStringLiteral("fuse-t");
    p.words.ntfs3g = QStringLiteral("ntfs-3g-mac");
    p.words.addingRepository = QStringLiteral("Homebrewのレポジトリ（cask）を追加しているよ...");
    p.words.addingRepositoryFailed = QStringLiteral("Homebrew Caskの登録に失敗したよ。\n");
    p.words.removingFuseLayer = QStringLiteral("fuse-t をアンインストールしているよ...");
    p.words.securityNote = QStringLiteral("セキュリティ設定：デフォルト対応 (Kext不要)");
    p.words.uninstallConfirmation =
        QStringLiteral("fuse-t と ntfs-3g-mac をシステムからアンインストールするよ。本当によろしいですか、お兄ちゃん？");
    p.words.setupInstructions = QStringLiteral(
        "【自動セットアップ機能】\n"
        "このアプリ上から「自動セットアップ」ボタンを押すだけで、Homebrew、fuse-t、ntfs-3g-macを自動的にインストールできるよ！"
        "ターミナルを開く必要はありません。\n"
        "\n"
        "【手動セットアップ方法（もし自動でうまくいかない場合）】\n"
        "1. Terminalを開きます。\n"
        "2. 以下のコマンドを実行して fuse-t と ntfs-3g をインストールします：\n"
        "\n"
        "brew tap macos-fuse-t/homebrew-cask\n"
        "brew install --cask fuse-t\n"
        "brew install ntfs-3g-mac\n"
        "\n"
        "3. インストール完了後、このアプリを再起動するか、「再チェック」ボタンを押してください。");
    return p;
}

QString Platform::defaultLibexecDir()
{
    QString binDir;
    if (QCoreApplication::instance())
        binDir = QCoreApplication::applicationDirPath();
    else
        binDir = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    return QDir::cleanPath(binDir + QLatin1Char('/') + QStringLiteral(QUORVEL_LIBEXEC_RELATIVE));
}

Platform Platform::linux(const QString &libexecDir)
{
    const QString libexec = libexecDir.isEmpty() ? defaultLibexecDir() : libexecDir;
    Platform p;
    p.name = QStringLiteral("Linux");
    p.shell = QString::fromLatin1(linuxtools::shell);
    p.shellArguments = {QStringLiteral("-c")};
    p.elevation = elevation::haveRights() ? Elevation::Direct : Elevation::Pkexec;
    p.pkexec = QString::fromLatin1(linuxtools::pkexec);
    p.privilegedShell = QString::fromLatin1(linuxtools::shell);
    p.diskutil = libexec + QStringLiteral("/diskutil");
    p.mountListing = libexec + QStringLiteral("/mount");
    p.opener = QStringLiteral("/usr/bin/xdg-open");
    p.unmountCommand = QString::fromLatin1(linuxtools::umount);
    p.volumeStateReader = libexec + QStringLiteral("/volume-state");
    p.unmountKeepsDirectory = true; // the stand-in can leave it: killed midway, or no right to remove it
    p.mountRoot = QString::fromLatin1(linuxtools::mountRoot);
    // ntfs-3g runs as root, so the user reaches the volume only through allow_other; the owner and
    // the umask then keep every other account out of it.
    p.ntfs3gOptions = QStringLiteral("allow_other,uid=%1,gid=%2,").arg(::getuid()).arg(::getgid()) + kLinuxNtfs3gOptions;
    p.mountSettleTime = std::chrono::milliseconds(0); // ntfs-3g exits once the volume is up
    p.fuseMountsAreWritable = false;
    p.diskService = QStringLiteral("org.freedesktop.UDisks2");
    // udisks2 makes the volume the user's by itself.
    p.diskServiceMountOptions = kLinuxNtfs3gOptions;
    p.deviceDirectory = QStringLiteral("/dev");
    p.mountTableFile = QStringLiteral("/proc/self/mountinfo");
    p.homebrewPaths = {libexec + QStringLiteral("/brew")};
    for (const char *fusermount : linuxtools::fusermount)
        p.fuseMarkerPaths.append(QString::fromLatin1(fusermount));
    p.ntfs3gPaths = {
        QStringLiteral("/usr/bin/ntfs-3g"),
        QStringLiteral("/bin/ntfs-3g"),
        QStringLiteral("/usr/local/bin/ntfs-3g"),
        QStringLiteral("/usr/sbin/ntfs-3g"),
    };
    p.ntfs3gMountHelperPaths = {
        QStringLiteral("/sbin/mount.ntfs"),
        QStringLiteral("/usr/sbin/mount.ntfs"),
        QStringLiteral("/usr/bin/mount.ntfs"),
        QStringLiteral("/bin/mount.ntfs"),
    };
    p.ntfs3gRemovalMayBeRefused = true;
    // The Homebrew stand-in answers the same command lines through the system's package manager:
    // the texts name what it really does.
    p.words.packageManager = QStringLiteral("パッケージマネージャー");
    p.words.fuseLayer = QStringLiteral("FUSE 3 (fuse3)");
    p.words.ntfs3g = QStringLiteral("ntfs-3g");
    p.words.addingRepository = QStringLiteral("パッケージの一覧を更新しているよ...");
    p.words.addingRepositoryFailed = QStringLiteral("パッケージ一覧の更新に失敗したよ。\n");
    p.words.removingFuseLayer =
        QStringLiteral("FUSE 3 (fuse3) はほかのシステム部品も使っているから、そのまま残しておくよ...");
    p.words.securityNote = QStringLiteral("セキュリティ設定：デフォルト対応 (追加のカーネルモジュール不要)");
    p.words.uninstallConfirmation = QStringLiteral(
        "ntfs-3g をシステムからアンインストールするよ（FUSE 3 はほかのシステム部品も使っているから残しておくね）。"
        "本当によろしいですか、お兄ちゃん？");
    p.words.setupInstructions = QStringLiteral(
        "【自動セットアップ機能】\n"
        "このアプリ上から「自動セットアップ」ボタンを押すだけで、システムのパッケージマネージャーを使って"
        "FUSE 3 (fuse3)、ntfs-3gを自動的にインストールできるよ！"
        "ターミナルを開く必要はありません。\n"
        "\n"
        "【手動セットアップ方法（もし自動でうまくいかない場合）】\n"
        "1. ターミナルを開きます。\n"
        "2. 以下のコマンドを実行して fuse3 と ntfs-3g をインストールします（管理者パスワードを聞かれたら入力してね）：\n"
        "\n"
        "sudo apt install ntfs-3g fuse3\n"
        "\n"
        "（Fedora なら sudo dnf install ntfs-3g fuse3、openSUSE なら sudo zypper install ntfs-3g fuse3、"
        "Arch Linux なら sudo pacman -S ntfs-3g fuse3 だよ）\n"
        "ntfs-3g がシステムの mount から mount.ntfs として使えないと、カーネルのドライバーが代わりに答えて書き込めないから、"
        "ntfs-3g は入っていないことにしているよ。\n"
        "\n"
        "3. インストール完了後、このアプリを再起動するか、「再チェック」ボタンを押してください。");
    return p;
}

Platform Platform::host()
{
#if defined(Q_OS_MACOS)
    return macOS();
#else
    return linux();
#endif
}
