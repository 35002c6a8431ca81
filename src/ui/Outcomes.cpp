#include "ui/Outcomes.h"

namespace Outcomes {
namespace {

// The failure's own description is the message, unchanged.
Outcome failure(const QString &title, const DiskError &error)
{
    return {title, error.description};
}

QString quoted(const QString &volumeName)
{
    return QStringLiteral("「") + volumeName + QStringLiteral("」");
}

QString windowErrorTitle()
{
    return QStringLiteral("エラーが発生したよ");
}

QString windowSuccessTitle()
{
    return QStringLiteral("おめちゃん！");
}

} // namespace

Outcome windowMount(const NTFSDisk &disk, const std::optional<DiskError> &error)
{
    if (error)
        return failure(windowErrorTitle(), *error);
    return {windowSuccessTitle(),
            quoted(disk.volumeName) + QStringLiteral("を書き込み可能でマウントしたよ、お兄ちゃん！")};
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
        return failure(QStringLiteral("マウント失敗"), *error);
    return {QStringLiteral("マウント成功"),
            quoted(disk.volumeName) + QStringLiteral("を書き込み可能にしたよ、お兄ちゃん！")};
}

Outcome menuEject(const NTFSDisk &disk, const std::optional<DiskError> &error)
{
    if (error)
        return failure(QStringLiteral("取り出し失敗"), *error);
    return {QStringLiteral("取り出し成功"), quoted(disk.volumeName) + QStringLiteral("を安全に取り出したよ！")};
}

} // namespace Outcomes
