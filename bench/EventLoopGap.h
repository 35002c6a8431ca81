#pragma once

// The longest pause of the event loop while an operation runs: a 1 ms timer notes when it fires.
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <functional>

// The longest pause of a 1 ms timer while `operation` runs, in milliseconds.
inline double longestGap(const std::function<QCoro::Task<>()> &operation)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    ticker.start(1);
    last = clock.nsecsElapsed();
    QCoro::waitFor(operation());
    const qint64 now = clock.nsecsElapsed();
    longest = std::max(longest, now - last);
    return double(longest) / 1e6;
}
