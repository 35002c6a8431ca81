#include "disks/FailureAdvice.h"

namespace FailureAdvice {
namespace {

// hiberfil.sys of a hibernated Windows, and of one shut down with Fast Startup, begins with this
// (in either case); a Windows that resumed leaves "wake" or zeros there.
const QByteArray kHibernationSignature = QByteArrayLiteral("hibr");

const QString kReadOnlyStill = QStringLiteral(
    "それまでは、読み取り専用でマウントしてファイルを読むことはできるよ。");

bool saysAny(const QString &output, std::initializer_list<const char *> words)
{
    for (const char *word : words)
        if (output.contains(QLatin1String(word), Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace

ReadOnlyCause readOnlyCause(const QString &ntfs3gOutput, const QByteArray &hibernationFile)
{
    if (hibernationFile.left(kHibernationSignature.size()).toLower() == kHibernationSignature
        || saysAny(ntfs3gOutput, {"hibernated"}))
        return ReadOnlyCause::Hibernated;
    if (saysAny(ntfs3gOutput, {"unclean file system", "unsafe state", "Windows cache", "dirty"}))
        return ReadOnlyCause::Unclean;
    return ReadOnlyCause::Unknown;
}

DiskError offerReadOnly(DiskError error, ReadOnlyCause cause)
{
    switch (cause) {
    case ReadOnlyCause::Hibernated:
        error.cause = DiskError::Cause::Hibernated;
        error.explanation = QStringLiteral(
            "Windows が休止状態、または高速スタートアップのまま終了していて、このボリュームはまだ Windows が使っている"
            "ことになっているよ。書き込むとデータが壊れるおそれがあるから、書き込み可能にはしなかったよ。\n\n"
            "Windows を起動して、完全にシャットダウンしてね（Shift キーを押しながら「シャットダウン」を選ぶか、"
            "電源オプションで「高速スタートアップを有効にする」をオフにしてね）。")
            + kReadOnlyStill;
        break;
    case ReadOnlyCause::Unclean:
        error.cause = DiskError::Cause::Unclean;
        error.explanation = QStringLiteral(
            "このボリュームは Windows で正しく閉じられていなくて、修復が必要な状態だよ。書き込むとデータが壊れる"
            "おそれがあるから、書き込み可能にはしなかったよ。\n\n"
            "Windows につないでディスクのチェック（ドライブのプロパティ →「ツール」→「チェック」、または chkdsk /f）"
            "をしてから、完全にシャットダウンしてね。")
            + kReadOnlyStill;
        break;
    case ReadOnlyCause::Unknown:
        error.cause = DiskError::Cause::ReadOnly;
        error.explanation = QStringLiteral("このボリュームは読み取り専用でしかマウントできなかったよ。") + kReadOnlyStill;
        break;
    }
    error.remedy = DiskError::Remedy::MountReadOnly;
    return error;
}

DiskError markedDirty()
{
    return offerReadOnly({DiskError::MountFailed,
                          QStringLiteral("Mount failed: Windows did not close the volume cleanly (it is marked dirty, or its journal was left open)")},
                         ReadOnlyCause::Unclean);
}

DiskError stateNotRead(const QString &why)
{
    DiskError error = offerReadOnly(
        {DiskError::MountFailed, QStringLiteral("Mount failed: could not tell whether Windows closed the volume cleanly: ") + why},
        ReadOnlyCause::Unknown);
    error.explanation = QStringLiteral("このボリュームを Windows が正しく閉じたかどうか、確かめられなかったよ。書き込むとデータが"
                                       "壊れるおそれがあるから、書き込み可能にはしなかったよ。")
        + kReadOnlyStill;
    return error;
}

DiskError offerRetry(DiskError error, const Holders &holders)
{
    if (holders.isEmpty() && error.cause != DiskError::Cause::Busy)
        return error;
    error.cause = DiskError::Cause::Busy;
    QString text;
    if (holders.isEmpty()) {
        text = QStringLiteral("このボリュームのファイルを使っているプログラムがあるよ（ほかのアカウントのものかもしれないよ）。");
    } else {
        text = QStringLiteral("次のプログラムがこのボリュームのファイルを使っているよ：");
        for (const Holder &holder : holders.named)
            text += QStringLiteral("\n・%1（PID %2）").arg(holder.name).arg(holder.pid);
        if (holders.othersCount > 0)
            text += QStringLiteral("\n・ほかのアカウントのプログラム %1 個").arg(holders.othersCount);
    }
    error.explanation = text + QStringLiteral("\n\nファイルを閉じるかプログラムを終了してから、もう一度試してね。");
    error.remedy = DiskError::Remedy::Retry;
    return error;
}

} // namespace FailureAdvice
