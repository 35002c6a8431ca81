#pragma once

// Blocking work handed to a thread off the event loop, awaited with a time limit: a stat of a hung
// FUSE mount, a read of a failing disk or a walk of /proc must never freeze the window or the tray.
#include "shell/Log.h"

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>
#include <QFuture>
#include <QPromise>
#include <QRunnable>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace offloop {

// ThreadSanitizer cannot see the synchronisation inside Qt (which is not built for it) that hands a
// task to a pool thread, and its result back to the waiting thread; these mark the two edges for it.
inline void handOver([[maybe_unused]] void *token)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(token);
#endif
}
inline void takeOver([[maybe_unused]] void *token)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(token);
#endif
}

// The token of the edges between a probe's thread and its awaiting one.
inline char answered = 0;

// The threads that may block on a disk, apart from the scan's pool: a hung one holds only its own.
QThreadPool &blockingPool();

// How long a probe of the file system or a device may take before its caller goes on without it.
inline constexpr std::chrono::seconds kProbeLimit{10};

// `work()` on the blocking pool, awaited on the calling thread (which must run an event loop), or
// `fallback` once `limit` has passed without an answer (the thread is left to finish, or to hang,
// on its own). `what` names the path the work looks at, for the log line that tells of a missing
// answer: the caller then acts on the cautious fallback, and the log says why. The limit's timer
// belongs to this coroutine and goes with the answer, so nothing is left to wake the thread later.
// (Awaited as a named task: GCC 12 destroys a temporary in an awaited expression more than once.)
template <typename T, typename Work>
QCoro::Task<T> run(QString what, Work work, T fallback, std::chrono::milliseconds limit = kProbeLimit)
{
    struct Answer {
        QPromise<T> promise;
        std::atomic<bool> settled = false;
        void settle(T value)
        {
            if (settled.exchange(true))
                return;
            promise.addResult(std::move(value));
            handOver(&answered);
            promise.finish();
        }
    };
    const auto answer = std::make_shared<Answer>();
    answer->promise.start();
    const QFuture<T> done = answer->promise.future();
    QRunnable *task = QRunnable::create([answer, work = std::move(work)]() mutable {
        takeOver(&answered);
        answer->settle(work());
    });
    handOver(&answered);
    blockingPool().start(task); // the pool deletes the task once it has run
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [answer, fallback = std::move(fallback), what, limit]() mutable {
        writeLogLine(QStringLiteral("No answer within %1 s from %2; going on without it").arg(double(limit.count()) / 1000).arg(what));
        answer->settle(std::move(fallback));
    });
    timer.start(limit);
    T value = co_await done;
    takeOver(&answered);
    co_return value;
}

} // namespace offloop
