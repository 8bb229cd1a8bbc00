// Waiting for a condition in tests: events are processed until it holds or
// the deadline has passed.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

inline bool WaitUntil(const std::function<bool()>& cond, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}
