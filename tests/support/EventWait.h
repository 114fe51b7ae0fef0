#pragma once
// The wait of tests that drive the program: it runs the events of this thread, as the program's own waits
// do, so whatever a click, a timer or the worker sends meanwhile happens as it would for a user.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <functional>

// Runs events until cond holds; false when it does not within the guard time.
inline bool processEventsUntil(const std::function<bool()> &cond, int guardMs = 20000)
{
    const QDeadlineTimer deadline(guardMs);
    while (!cond()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}
