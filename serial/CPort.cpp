#include "CPort.h"

#include "ComNotifier.h"
#include "TtyLine.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <mutex>
#include <system_error>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

// ---------------------------------------------------------------------------
// Errors

namespace {

const char* const kErrorTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};
static_assert(std::size(kErrorTexts) == CError_RegError);

// The device does not know the request (a pty has no modem lines).
bool NotSupported(int err) { return err == ENOTTY || err == EINVAL; }

// The device is gone (adapter pulled out, pty master closed): nothing is left to purge.
bool DeviceGone(int err) { return err == EIO || err == ENODEV || err == ENXIO; }

} // namespace

std::string ComErrorMessage(std::int32_t index)
{
    if (index >= 1 && index <= CError_RegError)
        return kErrorTexts[index - 1];
    return "Unknown Error #" + std::to_string(index);
}

EComPort::EComPort(std::int32_t code, std::int32_t winCode, const std::string& portText)
    : std::runtime_error("COM Port Error: " + ComErrorMessage(code) + " on " + portText),
      WinCode(winCode), Code(code)
{
}

EComPort::EComPort(std::int32_t code)
    : std::runtime_error("COM Port Error: " + ComErrorMessage(code)), WinCode(-1), Code(code)
{
}

// ---------------------------------------------------------------------------
// Speeds

const char* const BaudRateStrings[16] = {
    "Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400",
    "19200", "38400", "56000", "57600", "115200", "128000", "256000",
};

std::string BaudRateToStr(TBaudRate value)
{
    if (value < brCustom || value > br256000)
        return std::string();
    return BaudRateStrings[value];
}

TBaudRate StrToBaudRate(const std::string& str)
{
    for (int i = 0; i < 16; ++i)
        if (strcasecmp(str.c_str(), BaudRateStrings[i]) == 0 && std::strlen(BaudRateStrings[i]) == str.size())
            return TBaudRate(i);
    return br9600;
}

std::int32_t BaudRateToInt(TBaudRate value, std::int32_t customRate)
{
    static const std::int32_t rates[16] = {0, 110, 300, 600, 1200, 2400, 4800, 9600, 14400,
                                           19200, 38400, 56000, 57600, 115200, 128000, 256000};
    if (value == brCustom || value < brCustom || value > br256000)
        return customRate;
    return rates[value];
}

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
// Port names and the port list

std::string PortNameToDevice(const std::string& name)
{
    if (!name.empty() && name[0] == '/')
        return name;
    if (name.size() > 3 && name.size() <= 12 && strncasecmp(name.c_str(), "COM", 3) == 0 &&
        std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const unsigned long n = std::stoul(name.substr(3));
        if (n >= 1)
            return "/dev/ttyS" + std::to_string(n - 1);
    }
    return "/dev/" + name;
}

namespace {

bool IsVirtualConsole(const std::string& name)
{
    return name.size() > 3 && name.compare(0, 3, "tty") == 0 &&
           std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A serial_core port without hardware behind it reports type 0 (PORT_UNKNOWN).
bool IsAbsentUart(const std::string& entry)
{
    const int fd = ::open((entry + "/type").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[32];
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    buf[n] = 0;
    return std::strtol(buf, nullptr, 10) == 0 && buf[0] == '0';
}

bool LessNoCase(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

void SortPortNames(std::vector<std::string>& ports)
{
    // Names equal but for case keep a fixed order between them.
    std::sort(ports.begin(), ports.end());
    std::stable_sort(ports.begin(), ports.end(), LessNoCase);
}

void EnumComPortsFrom(const std::string& sysClassTty, std::vector<std::string>& ports)
{
    DIR* dir = opendir(sysClassTty.c_str());
    if (!dir)
        throw EComPort(CError_RegError, errno, "registry read");
    std::vector<std::string> found;
    for (;;) {
        errno = 0;
        const dirent* e = readdir(dir);
        if (!e) {
            const int err = errno;
            closedir(dir);
            if (err != 0)
                throw EComPort(CError_RegError, err, "registry read");
            break;
        }
        const std::string name = e->d_name;
        if (name == "." || name == ".." || IsVirtualConsole(name))
            continue;
        const std::string entry = sysClassTty + "/" + name;
        struct stat st;
        if (lstat((entry + "/device").c_str(), &st) != 0)
            continue; // no hardware behind it (consoles, ptys, ptmx)
        if (IsAbsentUart(entry))
            continue;
        std::string dev = name;
        std::replace(dev.begin(), dev.end(), '!', '/'); // sysfs writes subfolders of /dev with '!'
        found.push_back("/dev/" + dev);
    }
    SortPortNames(found);
    ports = std::move(found);
}

void EnumComPorts(std::vector<std::string>& ports)
{
    EnumComPortsFrom("/sys/class/tty", ports);
}

// ---------------------------------------------------------------------------
// Settings objects of this file

void TComBuffer::SetInputSize(std::int32_t v)
{
    if (v > 0 && v % 2 == 1)
        --v;
    if (StoreIfChanged(FInputSize, v))
        FComPort->ApplyBuffer();
}

void TComBuffer::SetOutputSize(std::int32_t v)
{
    if (v > 0 && v % 2 == 1)
        --v;
    if (StoreIfChanged(FOutputSize, v))
        FComPort->ApplyBuffer();
}

#define QV_FLOW_SETTER(Name, Type, Field)  \
    void TComFlowControl::Name(Type v)     \
    {                                      \
        if (StoreIfChanged(Field, v))      \
            FComPort->ApplyDCB();          \
    }
QV_FLOW_SETTER(SetOutCTSFlow, bool, FOutCTSFlow)
QV_FLOW_SETTER(SetOutDSRFlow, bool, FOutDSRFlow)
QV_FLOW_SETTER(SetControlDTR, TDTRFlowControl, FControlDTR)
QV_FLOW_SETTER(SetControlRTS, TRTSFlowControl, FControlRTS)
QV_FLOW_SETTER(SetXonXoffOut, bool, FXonXoffOut)
QV_FLOW_SETTER(SetXonXoffIn, bool, FXonXoffIn)
QV_FLOW_SETTER(SetDSRSensitivity, bool, FDSRSensitivity)
QV_FLOW_SETTER(SetTxContinueOnXoff, bool, FTxContinueOnXoff)
QV_FLOW_SETTER(SetXonChar, char, FXonChar)
QV_FLOW_SETTER(SetXoffChar, char, FXoffChar)
#undef QV_FLOW_SETTER

// ---------------------------------------------------------------------------
// The event thread and the hand-over
//
// The event thread waits on the port and on its stop eventfd. When bytes are
// waiting it fills its one-slot mailbox, wakes the GUI thread with a queued
// call and blocks until the GUI thread has run the delivery. Only the fields
// marked "guarded" cross threads, always under THandOver::mx.

struct TCustomComPort::THandOver {
    std::mutex mx;
    std::condition_variable cv;
    // Threads stopped from inside their own delivery; joined once finished.
    std::vector<TComThread*> retiring; // GUI thread only
    std::int64_t deliveryRead = 0;     // GUI thread only: bytes read by the running delivery
    TComNotifier* notifier = nullptr;  // child of the port; target of the queued wake-ups
};

class TComThread {
public:
    enum class TSlot { Empty, Filled, Running, Done };

    TComThread(TCustomComPort* port, int fd, int stopFd, bool watchRx, TThreadPriority priority)
        : FComPort(port), FFd(fd), FStopFd(stopFd), FWatchRx(watchRx), FPriority(priority)
    {
    }
    ~TComThread() { ::close(FStopFd); }

    void Execute();

    TCustomComPort* const FComPort;
    const int FFd;     // the port's descriptor; never touched once FStop is seen
    const int FStopFd; // eventfd, readable once stop is asked
    const bool FWatchRx;
    const TThreadPriority FPriority;
    std::thread FThread;

    // guarded
    bool FStop = false;
    bool FFinished = false;
    bool FFailed = false;   // the last delivery raised
    bool FConsumed = true;  // the last delivery read bytes (or found none)
    TSlot FSlot = TSlot::Empty;
};

namespace {

void ApplyThreadPriority(TThreadPriority p)
{
    static const int nices[] = {19, 10, 5, 0, -5, -10, -20};
    const int nice = nices[static_cast<int>(p)];
    if (nice != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice); // best effort
}

} // namespace

void TComThread::Execute()
{
    ApplyThreadPriority(FPriority);
    TCustomComPort::THandOver& ho = *FComPort->FHandOver;

    // Level-triggered while deliveries read what they are given; edge-triggered
    // after one that read nothing, so unread bytes are handed over again only
    // when more arrive (as a received-character event would) and never spin.
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    bool ok = ep >= 0;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u32 = 0;
    ok = ok && epoll_ctl(ep, EPOLL_CTL_ADD, FStopFd, &ev) == 0;
    ev.events = FWatchRx ? std::uint32_t(EPOLLIN) : 0u; // hang-ups are reported regardless
    ev.data.u32 = 1;
    ok = ok && epoll_ctl(ep, EPOLL_CTL_ADD, FFd, &ev) == 0;
    bool edge = false;

    while (ok) {
        {
            std::lock_guard lk(ho.mx);
            if (FStop)
                break;
        }
        epoll_event evs[2];
        const int n = epoll_wait(ep, evs, 2, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break; // a failed wait ends the loop
        }
        bool leave = false, rx = false;
        for (int i = 0; i < n; ++i) {
            if (evs[i].data.u32 == 0)
                leave = true;
            else if (evs[i].events & (EPOLLHUP | EPOLLERR))
                leave = true; // line gone: read would return 0 for ever
            else if (evs[i].events & EPOLLIN)
                rx = true;
        }
        if (leave)
            break;
        if (!rx)
            continue;

        {
            std::lock_guard lk(ho.mx);
            if (FStop)
                break;
            FSlot = TSlot::Filled;
            // Posted under the lock that Serve takes first: Qt's own locking of its
            // event queue is invisible to ThreadSanitizer, this order is not.
            QMetaObject::invokeMethod(ho.notifier, "Serve", Qt::QueuedConnection);
        }
        bool consumed;
        {
            std::unique_lock lk(ho.mx);
            ho.cv.wait(lk, [this] { return FSlot == TSlot::Done; });
            FSlot = TSlot::Empty;
            if (FFailed || FStop)
                break;
            consumed = FConsumed;
        }
        if (consumed == edge) {
            edge = !consumed;
            ev.events = std::uint32_t(EPOLLIN) | (edge ? std::uint32_t(EPOLLET) : 0u);
            ev.data.u32 = 1;
            if (epoll_ctl(ep, EPOLL_CTL_MOD, FFd, &ev) != 0)
                break;
        }
    }
    if (ep >= 0)
        ::close(ep);
    std::lock_guard lk(ho.mx);
    FFinished = true;
    ho.cv.notify_all();
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

void TCustomComPort::StartEventThread()
{
    const int stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd < 0)
        throw EComPort(CError_OpenFailed, errno, FPort);
    // Of the watched events only received characters have a wait on this platform.
    const bool watchRx = (EventsToInt(FEvents) & kEventBits[evRxChar]) != 0;
    auto* t = new TComThread(this, FHandle, stopFd, watchRx, FEventThreadPriority);
    try {
        t->FThread = std::thread([t] { t->Execute(); });
        pthread_setname_np(t->FThread.native_handle(), "qv-comevents"); // named for debuggers and tests
    } catch (const std::system_error& e) {
        delete t;
        throw EComPort(CError_OpenFailed, e.code().value(), FPort);
    }
    FEventThread = t;
    FThreadCreated = true;
}

void TCustomComPort::RequestStop(TComThread* t)
{
    std::lock_guard lk(FHandOver->mx);
    if (t->FStop)
        return; // asked once only
    t->FStop = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(t->FStopFd, &one, sizeof one);
}

// Waits for a stopped thread to end, running its deliveries meanwhile.
void TCustomComPort::WaitForThread(TComThread* t)
{
    std::unique_lock lk(FHandOver->mx);
    while (!t->FFinished) {
        if (t->FSlot == TComThread::TSlot::Filled) {
            lk.unlock();
            RunDelivery(t);
            lk.lock();
            continue;
        }
        FHandOver->cv.wait(lk);
    }
}

void TCustomComPort::JoinThread(TComThread* t)
{
    if (t->FThread.joinable())
        t->FThread.join();
    delete t;
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
        if (finished) {
            JoinThread(*it);
            it = r.erase(it);
        } else {
            ++it;
        }
    }
}

void TCustomComPort::ServeHandOvers()
{
    // Pairs with the posting thread's lock, also for a wake-up that finds nothing to run.
    { std::lock_guard lk(FHandOver->mx); }
    ReapRetired();
    if (FEventThread)
        RunDelivery(FEventThread);
}

void TCustomComPort::RunDelivery(TComThread* t)
{
    THandOver& ho = *FHandOver;
    {
        std::lock_guard lk(ho.mx);
        if (t->FSlot != TComThread::TSlot::Filled)
            return; // already run (by Close) or never queued
        t->FSlot = TComThread::TSlot::Running;
    }
    QPointer<TCustomComPort> alive(this);
    const std::int64_t outerRead = ho.deliveryRead;
    ho.deliveryRead = 0;
    bool failed = false;
    std::int32_t count = 0;
    try {
        count = InputCount();
        if (count > 0)
            DoRxChar(count);
    } catch (...) {
        failed = true; // ends the event thread without a word
    }
    if (!alive)
        return; // destroyed inside its own delivery; the destructor released the thread
    const bool consumed = count <= 0 || ho.deliveryRead > 0;
    ho.deliveryRead = outerRead;
    {
        std::lock_guard lk(ho.mx);
        t->FFailed = failed;
        t->FConsumed = consumed;
        t->FSlot = TComThread::TSlot::Done;
    }
    ho.cv.notify_all();
}

// ---------------------------------------------------------------------------
// The port

TCustomComPort::TCustomComPort(QObject* owner)
    : TComPortAbstract(owner), FBuffer(new TComBuffer(this)), FFlowControl(new TComFlowControl(this)),
      FHandOver(std::make_unique<THandOver>())
{
    FHandOver->notifier = new TComNotifier([this] { ServeHandOvers(); }, this);
}

TCustomComPort::~TCustomComPort()
{
    // The handler belongs to an owner that may already be half destroyed (the
    // window destroys its children last): a delivery still queued runs without it.
    OnRxChar = nullptr;
    try {
        CloseImpl(false);
    } catch (...) {
    }
    // A thread stopped inside a delivery that is still running (the port is
    // being destroyed from its own handler) is released here, not by the delivery.
    {
        std::lock_guard lk(FHandOver->mx);
        for (TComThread* t : FHandOver->retiring)
            if (t->FSlot == TComThread::TSlot::Running)
                t->FSlot = TComThread::TSlot::Done;
    }
    FHandOver->cv.notify_all();
    for (TComThread* t : FHandOver->retiring)
        JoinThread(t);
    FHandOver->retiring.clear();
    delete FBuffer;
    delete FFlowControl;
}

void TCustomComPort::SetConnected(bool value)
{
    if (value == FConnected)
        return;
    if (value)
        Open();
    else
        Close();
}

bool TCustomComPort::GetConnected() const
{
    return FConnected;
}

void TCustomComPort::CreateHandle()
{
    const std::string dev = PortNameToDevice(FPort);
    const int fd = ::open(dev.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw EComPort(CError_OpenFailed, errno, FPort);
    auto fail = [&](int err) {
        ::close(fd);
        throw EComPort(CError_OpenFailed, err, FPort);
    };
    struct stat st;
    if (fstat(fd, &st) != 0)
        fail(errno);
    if (!S_ISCHR(st.st_mode))
        fail(ENOTTY);
    // Exclusive use: the lock also holds against root, whom TIOCEXCL lets through.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        fail(errno);
    if (ioctl(fd, TIOCEXCL) != 0)
        fail(errno); // not a terminal
    FHandle = fd;
}

void TCustomComPort::DestroyHandle()
{
    if (FHandle < 0)
        return;
    // Dropping unsent bytes first keeps close() from waiting for them to drain.
    tcflush(FHandle, TCIOFLUSH);
    ioctl(FHandle, TIOCNXCL);
    flock(FHandle, LOCK_UN);
    ::close(FHandle);
    FHandle = -1;
}

void TCustomComPort::ApplyDCB()
{
    if (!FConnected || FHandle < 0)
        return;
    const std::int32_t rate = BaudRateToInt(FBaudRate, FCustomBaudRate);
    if (rate <= 0)
        throw EComPort(CError_SetStateFailed, EINVAL, FPort);
    qv_serial::TTtyLine line;
    line.baud = static_cast<std::uint32_t>(rate);
    line.dataBits = 5 + static_cast<int>(FDataBits);
    line.parity = static_cast<int>(FParity->Bits());
    line.parityCheck = FParity->Check();
    line.twoStopBits = FStopBits != sbOneStopBit; // no 1.5 on Linux: 2 is the nearest
    const TComFlowControl& fc = *FFlowControl;
    line.rtsCts = fc.OutCTSFlow() || fc.ControlRTS() == rtsHandshake;
    line.xonXoffOut = fc.XonXoffOut();
    line.xonXoffIn = fc.XonXoffIn();
    line.xonChar = static_cast<unsigned char>(fc.XonChar());
    line.xoffChar = static_cast<unsigned char>(fc.XoffChar());
    if (const int err = qv_serial::TtyApplyLine(FHandle, line))
        throw EComPort(CError_SetStateFailed, err, FPort);

    // DTR and RTS as chosen; a device without modem lines (a pty) has nothing to set.
    int set = 0, clear = 0;
    (fc.ControlDTR() == dtrDisable ? clear : set) |= TIOCM_DTR;
    if (fc.ControlRTS() == rtsEnable)
        set |= TIOCM_RTS;
    else if (fc.ControlRTS() != rtsHandshake)
        clear |= TIOCM_RTS; // off, and off between sends when toggled
    if ((clear && ioctl(FHandle, TIOCMBIC, &clear) != 0 && !NotSupported(errno)) ||
        (set && ioctl(FHandle, TIOCMBIS, &set) != 0 && !NotSupported(errno)))
        throw EComPort(CError_SetStateFailed, errno, FPort);
}

void TCustomComPort::ApplyTimeouts()
{
    // Nothing to hand to the driver: Write applies its limit itself and reads never wait.
}

void TCustomComPort::ApplyBuffer()
{
    // Linux keeps fixed tty queues; the sizes are kept for the record only.
}

void TCustomComPort::SetupComPort()
{
    ApplyBuffer();
    ApplyDCB();
    ApplyTimeouts();
}

void TCustomComPort::Open()
{
    ReapRetired();
    if (FConnected)
        return;
    CreateHandle();
    FConnected = true;
    try {
        SetupComPort();
        if (!FEvents.empty())
            StartEventThread();
    } catch (...) {
        DestroyHandle();
        FConnected = false;
        throw;
    }
    int status = 0;
    if (ioctl(FHandle, TIOCMGET, &status) != 0 && !NotSupported(errno))
        throw EComPort(CError_ModemStatFailed, errno, FPort);
}

void TCustomComPort::Close()
{
    CloseImpl(true);
}

void TCustomComPort::CloseImpl(bool raisePurge)
{
    ReapRetired();
    // Loops because a delivery run while waiting may close the port and open it again.
    while (FConnected) {
        // Aborts what is still going out only: bytes already received stay for
        // a delivery the event thread has queued, which runs below (DestroyHandle
        // drops the rest).
        if (tcflush(FHandle, TCOFLUSH) != 0 && !DeviceGone(errno) && raisePurge)
            throw EComPort(CError_PurgeFailed, errno, FPort);
        TComThread* t = FEventThread;
        if (t) {
            RequestStop(t);
            bool inside;
            {
                std::lock_guard lk(FHandOver->mx);
                inside = t->FSlot == TComThread::TSlot::Running;
            }
            if (inside) {
                // Called from this thread's own delivery: it waits for us, so do
                // not wait for it. It leaves as soon as the delivery returns,
                // without touching the descriptor, and is joined later.
                FHandOver->retiring.push_back(t);
                FEventThread = nullptr;
                FThreadCreated = false;
            } else {
                WaitForThread(t);
                if (FEventThread != t) {
                    // A delivery closed the port (and maybe opened it again) meanwhile.
                    ReapRetired();
                    continue;
                }
                FEventThread = nullptr;
                FThreadCreated = false;
                JoinThread(t);
            }
        }
        DestroyHandle();
        FConnected = false;
    }
}

std::int32_t TCustomComPort::InputCount()
{
    if (!FConnected || FHandle < 0)
        throw EComPort(CError_ClearComFailed, EBADF, FPort);
    int n = 0;
    if (ioctl(FHandle, FIONREAD, &n) != 0)
        throw EComPort(CError_ClearComFailed, errno, FPort);
    return n;
}

std::int32_t TCustomComPort::Write(const void* buffer, std::int32_t count)
{
    using Clock = std::chrono::steady_clock;
    if (count <= 0)
        return 0;
    if (!FConnected || FHandle < 0)
        throw EComPort(CError_WriteFailed, EBADF, FPort);

    // -1 stands for the largest value, as with the driver's own time limits.
    auto limitValue = [](std::int32_t v) { return static_cast<std::uint64_t>(static_cast<std::uint32_t>(v)); };
    std::uint64_t limitMs = limitValue(FTimeouts->WriteTotalMultiplier()) * static_cast<std::uint64_t>(count) +
                            limitValue(FTimeouts->WriteTotalConstant());
    if (limitMs == 0) // "no limit" would let a stopped line block the GUI thread for ever
        limitMs = 100ull * static_cast<std::uint64_t>(count) + 1000ull;
    limitMs = std::min<std::uint64_t>(limitMs, 1ull << 40);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    auto msLeft = [&] {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
    };
    // At the limit: bytes still queued in the driver are dropped, so they never
    // go out later in front of the next frame, and are not counted as written.
    auto timedOut = [&](std::int32_t accepted) {
        int queued = 0;
        if (ioctl(FHandle, TIOCOUTQ, &queued) != 0 || queued < 0)
            queued = 0;
        if (queued > 0)
            tcflush(FHandle, TCOFLUSH);
        return std::max<std::int32_t>(0, accepted - queued);
    };

    const char* p = static_cast<const char*>(buffer);
    std::int32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(FHandle, p + done, static_cast<std::size_t>(count - done));
        if (n > 0) {
            done += static_cast<std::int32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            throw EComPort(CError_WriteFailed, errno, FPort);
        const int left = msLeft();
        if (left <= 0)
            return timedOut(done);
        pollfd pfd{FHandle, POLLOUT, 0};
        if (poll(&pfd, 1, left) < 0 && errno != EINTR)
            throw EComPort(CError_WriteFailed, errno, FPort);
    }

    // The bytes have left the computer once the driver's output queue is empty.
    const std::int32_t rate = std::max<std::int32_t>(BaudRateToInt(FBaudRate, FCustomBaudRate), 1);
    for (;;) {
        int queued = 0;
        if (ioctl(FHandle, TIOCOUTQ, &queued) != 0) {
            if (NotSupported(errno))
                break;
            throw EComPort(CError_WriteFailed, errno, FPort);
        }
        if (queued <= 0)
            break;
        const int left = msLeft();
        if (left <= 0)
            return timedOut(done);
        // About the time the queued bytes take on the line, checked again at least every 50 ms.
        const long long lineMs = static_cast<long long>(queued) * 10000 / rate + 1;
        poll(nullptr, 0, static_cast<int>(std::min<long long>({lineMs, 50, left})));
    }
    return done;
}

std::int32_t TCustomComPort::WriteStr(const std::string& str)
{
    return Write(str.data(), static_cast<std::int32_t>(str.size()));
}

std::int32_t TCustomComPort::Read(void* buffer, std::int32_t count)
{
    if (count < 1)
        return 0;
    if (!FConnected || FHandle < 0) {
        ++FReadAsyncErrorCount;
        FReadAsyncLastError = EBADF;
        return 0;
    }
    ssize_t n;
    do
        n = ::read(FHandle, buffer, static_cast<std::size_t>(count));
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno != EAGAIN) { // could not read at all: counted, not raised
            ++FReadAsyncErrorCount;
            FReadAsyncLastError = static_cast<std::uint32_t>(errno);
        }
        n = 0;
    }
    FHandOver->deliveryRead += n;
    // The queue is looked at after each read; bytes already read are never
    // thrown away for a failure there.
    int waiting = 0;
    if (ioctl(FHandle, FIONREAD, &waiting) != 0 && n == 0)
        throw EComPort(CError_ClearComFailed, errno, FPort);
    return static_cast<std::int32_t>(n);
}

std::int32_t TCustomComPort::ReadStr(std::string& str, std::int32_t count)
{
    if (count < 1) {
        str.clear();
        return 0;
    }
    str.resize(static_cast<std::size_t>(count));
    const std::int32_t n = Read(str.data(), count);
    str.resize(static_cast<std::size_t>(n));
    return n;
}

void TCustomComPort::DoRxChar(std::int32_t count)
{
    if (OnRxChar)
        OnRxChar(this, count);
}

void TCustomComPort::SetBaudRate(TBaudRate v)
{
    if (StoreIfChanged(FBaudRate, v))
        ApplyDCB();
}

void TCustomComPort::SetCustomBaudRate(std::int32_t v)
{
    if (StoreIfChanged(FCustomBaudRate, v))
        ApplyDCB();
}

void TCustomComPort::SetPort(const std::string& v)
{
    if (StoreIfChanged(FPort, v) && FConnected) {
        Close();
        Open();
    }
}

void TCustomComPort::SetDataBits(TDataBits v)
{
    if (StoreIfChanged(FDataBits, v))
        ApplyDCB();
}

void TCustomComPort::SetStopBits(TStopBits v)
{
    if (StoreIfChanged(FStopBits, v))
        ApplyDCB();
}

void TCustomComPort::SetEventChar(char v)
{
    if (StoreIfChanged(FEventChar, v))
        ApplyDCB();
}

void TCustomComPort::SetDiscardNull(bool v)
{
    if (StoreIfChanged(FDiscardNull, v))
        ApplyDCB();
}

void TCustomComPort::SetSyncMethod(TSyncMethod v)
{
    if (v == FSyncMethod)
        return;
    if (FConnected)
        throw EComPort(CError_ConnChangeProp);
    FSyncMethod = v;
}

void TCustomComPort::SetEventThreadPriority(TThreadPriority v)
{
    if (v == FEventThreadPriority)
        return;
    if (FConnected)
        throw EComPort(CError_ConnChangeProp);
    FEventThreadPriority = v;
}
