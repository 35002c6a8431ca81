#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

// GNU mode compilers predefine `linux`; it would rename Platform::linux().
#ifdef linux
#undef linux
#endif

// Every outside program, path and constant that differs between macOS and Linux. Core code asks
// the profile it was given for these; it names itself only what belongs to one system and has
// no counterpart on the other: udisks2's object paths and the directories udisks2 mounts in
// (UDisks2Objects), and Linux's /proc (VolumeHolders, the udisks2 backend's mount states).
struct Platform {
    // How a command line gets administrator rights.
    enum class Elevation {
        AppleScript, // osascript -e 'do shell script "…" with administrator privileges'
        Direct,      // already root: the privileged shell runs the line itself
        Pkexec,      // pkexec <privileged shell> -c LINE; exit 126 means the prompt was dismissed
    };

    // What the user reads about the platform's tools, in the application's own voice. The setup
    // and uninstall texts name the tools through these; the views show the rest as they are.
    struct Words {
        // The prerequisites, as the texts name them and as the dependency-warning panel lists them,
        // in its order.
        QString packageManager; // installs the other two (Homebrew on macOS)
        QString fuseLayer;
        QString ntfs3g;
        // The setup step that runs `tap macos-fuse-t/homebrew-cask`, and its failure (followed by
        // the command's output).
        QString addingRepository;
        QString addingRepositoryFailed;
        // The uninstall step that runs `uninstall --cask fuse-t`.
        QString removingFuseLayer;
        // The footer's note beside the shield, and the question before an uninstall.
        QString securityNote;
        QString uninstallConfirmation;
        // How to set up the prerequisites, by the application or by hand.
        QString setupInstructions;
    };

    QString name;
    Words words;

    // Shell for `run`: shell, shellArguments..., command line.
    QString shell;
    QStringList shellArguments;

    Elevation elevation = Elevation::AppleScript;
    QString osascript;       // AppleScript host
    QString pkexec;          // Linux elevation helper
    QString privilegedShell; // shell that runs a privileged line on Linux

    QString diskutil;       // disk utility: list -plist, info -plist ID, unmount /dev/ID
    QString mountListing;   // mount-table listing
    QString opener;         // file-browser opener
    QString unmountCommand; // unmounts a directory (used with administrator rights)
    // Tells whether an NTFS volume is marked dirty or its journal open (VOLUME_STATE DEVICE:
    // "clean" or "dirty"), run through pkexec where this process may not read raw devices. Empty:
    // none.
    QString volumeStateReader;
    // Lists the processes with files open on a file system (lsof -F pcu +f -- DIRECTORY), to name
    // those that keep a volume from being unmounted. Empty: they are read from /proc.
    QString processFilesLister;
    // The disk utility's unmount can leave the mount directory behind; the model removes it then.
    bool unmountKeepsDirectory = false;
    QString mountRoot;      // ends with "/"
    QString ntfs3gOptions;  // the -o argument of ntfs-3g
    // How long a fresh ntfs-3g mount is left to settle before it is looked at and opened.
    std::chrono::milliseconds mountSettleTime{1000};
    // The mount table counts every FUSE or NFS mount as writable: the FUSE layer on macOS shows
    // its read-write volumes with the system's read-only word. Elsewhere the mount's flags decide.
    bool fuseMountsAreWritable = true;

    // The disk service that discovers, mounts and unmounts disks where it runs on the system bus
    // (udisks2 on Linux); the command lines above are then only the fallback. Empty: none.
    QString diskService;
    // The options of the disk service's mounts (its file-system type is always NTFS).
    QString diskServiceMountOptions;
    // Watched on the command-line path, which has no change signals of its own: the directory of
    // device nodes (disks attached and removed) and the kernel's mount table, which wakes its
    // readers when mounts change. Empty: not watched.
    QString deviceDirectory;
    QString mountTableFile;

    QStringList homebrewPaths;
    QStringList fuseMarkerPaths;
    QStringList ntfs3gPaths;
    // The helpers through which the system's mount starts ntfs-3g for a file system of type "ntfs"
    // (mount.ntfs); where the profile names them, ntfs-3g counts as installed only beside one.
    QStringList ntfs3gMountHelperPaths;
    // The package manager may refuse to remove ntfs-3g (it would take other packages along); the
    // uninstall then stops there instead of going on.
    bool ntfs3gRemovalMayBeRefused = false;
    QString fuseUninstallScript;  // empty: none on this platform
    QString homebrewInstallerLine; // empty: not used on this platform

    // The macOS values: the real paths and commands the system was designed around.
    static Platform macOS();
    // Our stand-ins. `libexecDir` defaults to libexec/quorvel-ntfs-mount beside the
    // running executable's bin/ folder.
    static Platform linux(const QString &libexecDir = QString());
    // The profile of the machine we run on.
    static Platform host();

    // libexec/quorvel-ntfs-mount beside the running executable's bin/ folder.
    static QString defaultLibexecDir();
};
