// The port itself: construction, opening and closing, line settings, writes
// and reads. The event thread is in ComThread.cpp, the port list in
// EnumComPorts.cpp.
#include "CPort.h"

#include "ComNotifier.h"
#include "ComThread.h"
#include "TtyLine.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The device does not know the request (a pty has no modem lines).
bool NotSupported(int err) { return err == ENOTTY || err == EINVAL; }

// The device is gone (adapter pulled out, pty master closed): nothing is left to purge.
bool DeviceGone(int err) { return err == EIO || err == ENODEV || err == ENXIO; }

// A write that fails so has found the line hung up.
bool WriteHungUp(int err) { return DeviceGone(err) || err == EPIPE; }

} // namespace

TCustomComPort::TCustomComPort(QObject* owner)
    : TComPortAbstract(owner), FHandOver(std::make_unique<THandOver>())
{
    FHandOver->notifier = new TComNotifier([this] { ServeHandOvers(); }, this);
}

TCustomComPort::~TCustomComPort()
{
    // The handler belongs to an owner that may already be half destroyed (the
    // window destroys its children last): a delivery still queued runs without it.
    OnRxChar = nullptr;
    OnLineLost = nullptr;
    try {
        CloseImpl(false);
    } catch (...) {
    }
    ReleaseRetired();
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
    line.parity = static_cast<int>(FParity.Bits());
    line.parityCheck = FParity.Check();
    line.twoStopBits = FStopBits != sbOneStopBit; // no 1.5 on Linux: 2 is the nearest
    const TComFlowControl& fc = FFlowControl;
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

void TCustomComPort::WriteFailed(int err)
{
    if (WriteHungUp(err) && FConnected) {
        // The line is lost, as when the event thread sees the hang-up; a
        // delivery it has queued meanwhile has nothing left to read and is
        // dropped rather than run inside this write.
        CloseImpl(false, true);
        DoLineLost();
    }
    throw EComPort(CError_WriteFailed, err, FPort);
}

void TCustomComPort::CloseImpl(bool raisePurge, bool dropQueued)
{
    ReapRetired();
    // Loops because a delivery run while waiting may close the port and open it again.
    while (FConnected) {
        // Aborts what is still going out only: bytes already received stay for
        // a delivery the event thread has queued, which runs below (DestroyHandle
        // drops the rest).
        if (tcflush(FHandle, TCOFLUSH) != 0 && !DeviceGone(errno) && raisePurge)
            throw EComPort(CError_PurgeFailed, errno, FPort);
        if (TComThread* t = FEventThread.get()) {
            t->Stop();
            if (DeliveryRunning(*t)) {
                // Called from this thread's own delivery: it waits for us, so do
                // not wait for it. It leaves as soon as the delivery returns,
                // without touching the descriptor, and is joined later.
                FHandOver->retiring.push_back(std::move(FEventThread));
                FThreadCreated = false;
            } else {
                if (dropQueued) {
                    std::lock_guard lk(FHandOver->mx);
                    if (t->FSlot == TComThread::TSlot::Filled)
                        t->FSlot = TComThread::TSlot::Done;
                    FHandOver->cv.notify_all();
                }
                WaitForThread(*t);
                if (FEventThread.get() != t) {
                    // A delivery closed the port (and maybe opened it again) meanwhile.
                    ReapRetired();
                    continue;
                }
                FThreadCreated = false;
                FEventThread.reset(); // joins
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
    std::uint64_t limitMs = limitValue(FTimeouts.WriteTotalMultiplier()) * static_cast<std::uint64_t>(count) +
                            limitValue(FTimeouts.WriteTotalConstant());
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
            WriteFailed(errno);
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

void TCustomComPort::DoLineLost()
{
    if (OnLineLost)
        OnLineLost(this);
}

void TCustomComPort::SetPort(const std::string& v)
{
    if (StoreIfChanged(FPort, v) && FConnected) {
        Close();
        Open();
    }
}

namespace {
// A setting that cannot change while the port is open.
template <class T>
void StoreWhileClosed(T& field, const T& value, bool connected)
{
    if (value == field)
        return;
    if (connected)
        throw EComPort(CError_ConnChangeProp);
    field = value;
}
} // namespace

void TCustomComPort::SetSyncMethod(TSyncMethod v)
{
    StoreWhileClosed(FSyncMethod, v, FConnected);
}

void TCustomComPort::SetEventThreadPriority(TThreadPriority v)
{
    StoreWhileClosed(FEventThreadPriority, v, FConnected);
}
