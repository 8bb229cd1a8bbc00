// The event thread of the serial port and the hand-over it shares with the
// port's GUI side. Private to the component.
#pragma once

#include "CPort.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TComNotifier;

// The event thread fills its one-slot mailbox, wakes the GUI thread with a
// queued call and blocks until the GUI thread has run the delivery. The fields
// marked "guarded" cross threads, always under mx.
struct TCustomComPort::THandOver {
    std::mutex mx;
    std::condition_variable cv;
    // Threads stopped from inside their own delivery; joined once finished.
    std::vector<std::unique_ptr<TComThread>> retiring; // GUI thread only
    std::int64_t deliveryRead = 0;    // GUI thread only: bytes read by the running delivery
    TComNotifier* notifier = nullptr; // child of the port; target of the queued wake-ups
};

class TComThread {
public:
    enum class TSlot { Empty, Filled, Running, Done };

    // Makes the stop signal and the wait set and starts the thread. Raises
    // EComPort (CError_OpenFailed) when any of them cannot be had.
    static std::unique_ptr<TComThread> Start(TCustomComPort& port, int fd, bool watchRx,
                                             TThreadPriority priority);
    ~TComThread(); // Stop, then wait until the thread has ended

    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // Signals FStopEvent; the thread leaves before its next wait.
    void Stop();

    // GUI thread, inside the hand-over. Both return the Count handed to
    // OnRxChar (0: none) and never touch the thread object once the handler
    // has run: the handler may destroy the port and with it this object.
    std::int32_t DoEvents();
    std::int32_t CallRxChar();

    TCustomComPort* const FComPort;
    TCustomComPort::THandOver& FHandOver;

    // guarded
    bool FStop = false;
    bool FFinished = false;
    bool FFailed = false;  // the last delivery raised
    bool FConsumed = true; // the last delivery read bytes (or found none)
    TSlot FSlot = TSlot::Empty;

private:
    TComThread(TCustomComPort& port, int fd, TThreadPriority priority);
    void Execute();
    bool DispatchComMsg(bool& consumed);
    bool Watch(int op, int fd, std::uint32_t tag, std::uint32_t events);
    // True when the last delivery failed because the line hung up under it.
    bool FailedOnHangUp();
    // Hands the hang-up over; the thread leaves afterwards.
    void DispatchLineLost();

    const int FFd; // the port's descriptor; never touched once FStop is seen
    const TThreadPriority FPriority;
    int FStopEvent = -1; // eventfd, readable once stop is asked
    int FWaitSet = -1;   // epoll set of FStopEvent and the port
    // The events of the last line event: written by the event thread before a
    // hand-over, read by the GUI thread while it runs.
    TComEvents FEvents;
    bool FLineLost = false; // the same, for the hang-up of the line
    std::thread FThread;
};
