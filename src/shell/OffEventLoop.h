#pragma once

// Blocking work handed to a thread off the event loop, awaited with a time limit: a stat of a hung
// FUSE mount, a read of a failing disk or a walk of /proc must never freeze the window or the tray.
#include <QCoro/QCoroFuture>
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

// A probe under way: its answer, awaited on the calling thread, and the timer of its limit, which
// goes as soon as the answer has been received, so no timer is left to wake the thread later.
template <typename T>
struct Probe {
    QFuture<T> answer;
    std::unique_ptr<QTimer> limit;

    // Marks, for ThreadSanitizer, that the answer has been awaited, and ends the limit's timer.
    void received()
    {
        takeOver(&answered);
        limit.reset();
    }
};

// `work()` on the blocking pool, or `fallback` once `limit` has passed without an answer (the
// thread is left to finish, or to hang, on its own). The answer is awaited on the calling thread,
// which must run an event loop. (Started outside the awaiting coroutine, and awaited as a named
// value: GCC 12 destroys a temporary in an awaited expression more than once.)
template <typename T, typename Work>
Probe<T> start(Work work, T fallback, std::chrono::milliseconds limit = kProbeLimit)
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
    Probe<T> probe{answer->promise.future(), std::make_unique<QTimer>()};
    QRunnable *task = QRunnable::create([answer, work = std::move(work)]() mutable {
        takeOver(&answered);
        answer->settle(work());
    });
    handOver(&answered);
    blockingPool().start(task); // the pool deletes the task once it has run
    probe.limit->setSingleShot(true);
    QObject::connect(probe.limit.get(), &QTimer::timeout,
                     [answer, fallback = std::move(fallback)]() mutable { answer->settle(std::move(fallback)); });
    probe.limit->start(limit);
    return probe;
}

} // namespace offloop
