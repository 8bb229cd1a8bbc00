// The event thread's wake-up target on the GUI thread. An object of its own,
// created with the port and destroyed after the port's threads are joined, so
// the event thread never calls into a port that is being destroyed.
#pragma once

#include <QObject>

#include <functional>
#include <utility>

class TComNotifier final : public QObject {
    Q_OBJECT
public:
    TComNotifier(std::function<void()> serve, QObject* parent) : QObject(parent), FServe(std::move(serve)) {}

public Q_SLOTS:
    void Serve() { FServe(); }

private:
    std::function<void()> FServe;
};
