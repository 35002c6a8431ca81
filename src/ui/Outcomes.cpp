#include "ui/Outcomes.h"

namespace Outcomes {
namespace {

// The failure's own description, unchanged, then our explanation where there is one.
Outcome failure(const QString &title, const DiskError &error)
{
    if (error.explanation.isEmpty())
        return {title, error.description};
    return {title, error.description + QStringLiteral("\n\n") + error.explanation};
}

QString quoted(const QString &volumeName)
{
    return QStringLiteral("「") + volumeName + QStringLiteral("」");
}

QString mountedReadOnly(const NTFSDisk &disk)
{
    return quoted(disk.volumeName) + QStringLiteral("を読み取り専用でマウントしたよ。");
}

QString windowErrorTitle()
{
    return QStringLiteral("エラーが発生したよ");
}

QString windowSuccessTitle()
{
    return QStringLiteral("おめちゃん！");
}

QString menuMountedTitle()
{
    return QStringLiteral("マウント成功");
}

QString menuMountFailedTitle()
{
    return QStringLiteral("マウント失敗");
}

} // namespace

Outcome windowMount(const NTFSDisk &disk, const std::optional<DiskError> &error)
{
    if (error)
        return failure(windowErrorTitle(), *error);
    return {windowSuccessTitle(),
            quoted(disk.volumeName) + QStringLiteral("を書き込み可能でマウントしたよ、お兄ちゃん！")};
}

Outcome windowMountReadOnly(const NTFSDisk &disk, const std::optional<DiskError> &error)
{
    if (error)
        return failure(windowErrorTitle(), *error);
    return {windowSuccessTitle(), mountedReadOnly(disk)};
}

Outcome windowUnmount(const NTFSDisk &disk, const std::optional<DiskError> &error)
{
    if (error)
        return failure(windowErrorTitle(), *error);
    return {windowSuccessTitle(), quoted(disk.volumeName) + QStringLiteral("を安全に取り外したよ！")};
}

Outcome windowNoNtfs3g()
{
    return {windowErrorTitle(), QStringLiteral("ntfs-3gのパスが見つかりません。")};
}

Outcome menuMount(const NTFSDisk &disk, const std::optional<DiskError> &error)
{
    if (error)
        return failure(menuMountFailedTitle(), *error);
    return {menuMountedTitle(), quoted(disk.volumeName) + QStringLiteral("を書き込み可能にしたよ、お兄ちゃん！")};
}

Outcome menuMountReadOnly(const NTFSDisk &disk, const std::optional<DiskError> &error)
{
    if (error)
        return failure(menuMountFailedTitle(), *error);
    return {menuMountedTitle(), mountedReadOnly(disk)};
}

Outcome menuEject(const NTFSDisk &disk, const std::optional<DiskError> &error)
{
    if (error)
        return failure(QStringLiteral("取り出し失敗"), *error);
    return {QStringLiteral("取り出し成功"), quoted(disk.volumeName) + QStringLiteral("を安全に取り出したよ！")};
}

Outcome removedWhileMounted(const NTFSDisk &disk)
{
    return {QStringLiteral("ディスクが取り外されたよ"),
            quoted(disk.volumeName)
                + QStringLiteral("はアンマウントしないまま取り外されたよ。直前に保存したファイルは、ディスクに書き込まれていない"
                                 "かもしれないよ。次からは、取り外す前にアンマウントしてね。")};
}

Outcome arrived(const NTFSDisk &disk)
{
    return {QStringLiteral("NTFSドライブが接続されたよ"),
            quoted(disk.volumeName)
                + QStringLiteral("は今のままだと書き込めないよ。書き込めるようにマウントする？")};
}

QString mountReadWriteLabel()
{
    return QStringLiteral("読み書きマウント");
}

QString remedyLabel(DiskError::Remedy remedy)
{
    switch (remedy) {
    case DiskError::Remedy::MountReadOnly: return QStringLiteral("読み取り専用でマウント");
    case DiskError::Remedy::Retry: return QStringLiteral("もう一度試す");
    case DiskError::Remedy::None: break;
    }
    return {};
}

} // namespace Outcomes
