// The event thread and its hand-over to the GUI thread.
//
// The event thread waits on the port and on its stop eventfd. When bytes are
// waiting it hands DoEvents over to the GUI thread and blocks until it has
// run there. A Close made from inside a delivery does not wait for the thread
// (which waits for that very delivery): it stops it and keeps it as retiring,
// to be joined once it has left.
#include "ComThread.h"

#include "ComNotifier.h"

#include <QMetaObject>
#include <QPointer>

#include <cerrno>
#include <iterator>
#include <system_error>

#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

// ---------------------------------------------------------------------------
// Line events

namespace {

// Mask bit of each TComEvent, in the enumeration's order.
constexpr std::uint32_t kEventBits[] = {
    0x0001, // evRxChar    EV_RXCHAR
    0x0004, // evTxEmpty   EV_TXEMPTY
    0x0002, // evRxFlag    EV_RXFLAG
    0x0100, // evRing      EV_RING
    0x0040, // evBreak     EV_BREAK
    0x0008, // evCTS       EV_CTS
    0x0010, // evDSR       EV_DSR
    0x0080, // evError     EV_ERR
    0x0020, // evRLSD      EV_RLSD
    0x0400, // evRx80Full  EV_RX80FULL
};
static_assert(std::size(kEventBits) == evRx80Full + 1);

void ApplyThreadPriority(TThreadPriority p)
{
    static const int nices[] = {19, 10, 5, 0, -5, -10, -20};
    const int nice = nices[static_cast<int>(p)];
    if (nice != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice); // best effort
}

} // namespace

std::uint32_t EventsToInt(TComEvents events)
{
    std::uint32_t mask = 0;
    for (int e = evRxChar; e <= evRx80Full; ++e)
        if (events.contains(TComEvent(e)))
            mask |= kEventBits[e];
    return mask;
}

TComEvents IntToEvents(std::uint32_t mask)
{
    TComEvents events;
    for (int e = evRxChar; e <= evRx80Full; ++e)
        if (mask & kEventBits[e])
            events.bits = std::uint16_t(events.bits | (1u << e));
    return events;
}

// ---------------------------------------------------------------------------
// The thread

TComThread::TComThread(TCustomComPort& port, int fd, TThreadPriority priority)
    : FComPort(&port), FHandOver(*port.FHandOver), FFd(fd), FPriority(priority)
{
}

TComThread::~TComThread()
{
    if (FThread.joinable()) {
        Stop();
        FThread.join();
    }
    if (FWaitSet >= 0)
        ::close(FWaitSet);
    if (FStopEvent >= 0)
        ::close(FStopEvent);
}

std::unique_ptr<TComThread> TComThread::Start(TCustomComPort& port, int fd, bool watchRx,
                                              TThreadPriority priority)
{
    // Everything the thread waits with is made here, so that a port that could
    // not hear its line fails to open instead of opening deaf.
    std::unique_ptr<TComThread> t(new TComThread(port, fd, priority));
    auto fail = [&port](int err) { throw EComPort(CError_OpenFailed, err, port.Port()); };
    t->FStopEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (t->FStopEvent < 0)
        fail(errno);
    t->FWaitSet = epoll_create1(EPOLL_CLOEXEC);
    if (t->FWaitSet < 0)
        fail(errno);
    // Hang-ups of the port are reported even when nothing else is watched.
    if (!t->Watch(EPOLL_CTL_ADD, t->FStopEvent, 0, EPOLLIN) ||
        !t->Watch(EPOLL_CTL_ADD, fd, 1, watchRx ? std::uint32_t(EPOLLIN) : 0u))
        fail(errno);
    try {
        t->FThread = std::thread([self = t.get()] { self->Execute(); });
    } catch (const std::system_error& e) {
        fail(e.code().value());
    }
    pthread_setname_np(t->FThread.native_handle(), "qv-comevents"); // named for debuggers and tests
    return t;
}

bool TComThread::Watch(int op, int fd, std::uint32_t tag, std::uint32_t events)
{
    epoll_event ev{};
    ev.events = events;
    ev.data.u32 = tag;
    return epoll_ctl(FWaitSet, op, fd, &ev) == 0;
}

void TComThread::Stop()
{
    std::lock_guard lk(FHandOver.mx);
    if (FStop)
        return; // asked once only
    FStop = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(FStopEvent, &one, sizeof one);
}

void TComThread::Execute()
{
    ApplyThreadPriority(FPriority);
    // Level-triggered while deliveries read what they are given; edge-triggered
    // after one that read nothing, so unread bytes are handed over again only
    // when more arrive (as a received-character event would) and never spin.
    bool edge = false;
    for (;;) {
        {
            std::lock_guard lk(FHandOver.mx);
            if (FStop)
                break;
        }
        epoll_event evs[2];
        const int n = epoll_wait(FWaitSet, evs, 2, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break; // a failed wait ends the loop
        }
        bool leave = false, lost = false, rx = false;
        for (int i = 0; i < n; ++i) {
            if (evs[i].data.u32 == 0)
                leave = true; // stop
            else if (evs[i].events & (EPOLLHUP | EPOLLERR))
                lost = true; // line gone: read would return 0 for ever
            else if (evs[i].events & EPOLLIN)
                rx = true;
        }
        if (leave)
            break;
        if (lost) {
            // The driver has dropped its input queue by now; deliveries made
            // before this one have run, as the mailbox holds one at a time.
            DispatchLineLost();
            break;
        }
        if (!rx)
            continue;
        FEvents = IntToEvents(kEventBits[evRxChar]);
        bool consumed = true;
        if (!DispatchComMsg(consumed)) {
            // Queue counts fail once the line has hung up: that is the loss,
            // not an error to be kept quiet about.
            if (FailedOnHangUp())
                DispatchLineLost();
            break;
        }
        if (consumed == edge) {
            edge = !consumed;
            if (!Watch(EPOLL_CTL_MOD, FFd, 1, std::uint32_t(EPOLLIN) | (edge ? std::uint32_t(EPOLLET) : 0u)))
                break;
        }
    }
    std::lock_guard lk(FHandOver.mx);
    FFinished = true;
    FHandOver.cv.notify_all();
}

// Hands DoEvents over to the GUI thread and waits until it has run there.
// False when the thread is to end: stop was asked or the delivery raised.
bool TComThread::DispatchComMsg(bool& consumed)
{
    {
        std::lock_guard lk(FHandOver.mx);
        if (FStop)
            return false;
        FSlot = TSlot::Filled;
        // Posted under the lock that the GUI side takes first: Qt's own locking
        // of its event queue is invisible to ThreadSanitizer, this order is not.
        QMetaObject::invokeMethod(FHandOver.notifier, "Serve", Qt::QueuedConnection);
    }
    std::unique_lock lk(FHandOver.mx);
    FHandOver.cv.wait(lk, [this] { return FSlot == TSlot::Done; });
    FSlot = TSlot::Empty;
    consumed = FConsumed;
    return !FFailed && !FStop;
}

bool TComThread::FailedOnHangUp()
{
    {
        std::lock_guard lk(FHandOver.mx);
        if (FStop || !FFailed)
            return false; // once stopped, the descriptor may be closed already
    }
    pollfd p{FFd, 0, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)) != 0;
}

void TComThread::DispatchLineLost()
{
    FLineLost = true;
    bool consumed = true;
    DispatchComMsg(consumed); // the thread leaves whatever the delivery did
}

std::int32_t TComThread::DoEvents()
{
    if (FLineLost) {
        FComPort->LineLost(*this);
        return 0;
    }
    // Of the line events only received characters have a handler here.
    return FEvents.contains(evRxChar) ? CallRxChar() : 0;
}

std::int32_t TComThread::CallRxChar()
{
    TCustomComPort* const port = FComPort;
    const std::int32_t count = port->InputCount();
    if (count > 0)
        port->DoRxChar(count);
    return count;
}

// ---------------------------------------------------------------------------
// The port's side of the hand-over

void TCustomComPort::StartEventThread()
{
    // Of the watched events only received characters have a wait on this platform.
    FEventThread = TComThread::Start(*this, FHandle, FEvents.contains(evRxChar), FEventThreadPriority);
    FThreadCreated = true;
}

bool TCustomComPort::EventThreadActive() const
{
    if (!FEventThread)
        return false;
    std::lock_guard lk(FHandOver->mx);
    return !FEventThread->FFinished;
}

bool TCustomComPort::DeliveryPending() const
{
    if (!FEventThread)
        return false;
    std::lock_guard lk(FHandOver->mx);
    return FEventThread->FSlot == TComThread::TSlot::Filled;
}

bool TCustomComPort::DeliveryRunning(TComThread& t) const
{
    std::lock_guard lk(FHandOver->mx);
    return t.FSlot == TComThread::TSlot::Running;
}

// Waits for a stopped thread to end, running its deliveries meanwhile.
void TCustomComPort::WaitForThread(TComThread& t)
{
    std::unique_lock lk(FHandOver->mx);
    while (!t.FFinished) {
        if (t.FSlot == TComThread::TSlot::Filled) {
            lk.unlock();
            RunDelivery(t);
            lk.lock();
            continue;
        }
        FHandOver->cv.wait(lk);
    }
}

void TCustomComPort::ReapRetired()
{
    auto& r = FHandOver->retiring;
    for (auto it = r.begin(); it != r.end();) {
        bool finished;
        {
            std::lock_guard lk(FHandOver->mx);
            finished = (*it)->FFinished;
        }
        it = finished ? r.erase(it) : std::next(it); // erasing joins
    }
}

void TCustomComPort::ReleaseRetired()
{
    // A thread stopped inside a delivery that is still running (the port is
    // being destroyed from its own handler) is released here, not by the delivery.
    {
        std::lock_guard lk(FHandOver->mx);
        for (const auto& t : FHandOver->retiring)
            if (t->FSlot == TComThread::TSlot::Running)
                t->FSlot = TComThread::TSlot::Done;
    }
    FHandOver->cv.notify_all();
    FHandOver->retiring.clear();
}

void TCustomComPort::ServeHandOvers()
{
    // Pairs with the posting thread's lock, also for a wake-up that finds nothing to run.
    { std::lock_guard lk(FHandOver->mx); }
    ReapRetired();
    if (FEventThread)
        RunDelivery(*FEventThread);
}

void TCustomComPort::LineLost(TComThread& t)
{
    {
        std::lock_guard lk(FHandOver->mx);
        if (t.FStop)
            return; // a Close is already under way; its caller knows
    }
    // As a Close from inside this delivery: the thread is not waited for,
    // and the descriptor goes at once so the device can come back under its name.
    CloseImpl(false);
    DoLineLost();
}

void TCustomComPort::RunDelivery(TComThread& t)
{
    THandOver& ho = *FHandOver;
    {
        std::lock_guard lk(ho.mx);
        if (t.FSlot != TComThread::TSlot::Filled)
            return; // already run (by Close) or never queued
        t.FSlot = TComThread::TSlot::Running;
    }
    QPointer<TCustomComPort> alive(this);
    const std::int64_t outerRead = ho.deliveryRead;
    ho.deliveryRead = 0;
    bool failed = false;
    std::int32_t count = 0;
    try {
        count = t.DoEvents();
    } catch (...) {
        failed = true; // ends the event thread without a word
    }
    if (!alive)
        return; // destroyed inside its own delivery; the destructor released the thread
    const bool consumed = count <= 0 || ho.deliveryRead > 0;
    ho.deliveryRead = outerRead;
    {
        std::lock_guard lk(ho.mx);
        t.FFailed = failed;
        t.FConsumed = consumed;
        t.FSlot = TComThread::TSlot::Done;
    }
    ho.cv.notify_all();
}
