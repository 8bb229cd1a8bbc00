// The controller emulator's public side: start, stop, faults and observation.
#include "EmulatorImpl.h"

using namespace emu;

namespace {
// A copy of one field of the shared state, taken under its lock.
template <class T>
T LockedCopy(std::mutex& mu, const T& field)
{
    std::lock_guard lock(mu);
    return field;
}

template <class T, class V>
void LockedSet(std::mutex& mu, T& field, V value)
{
    std::lock_guard lock(mu);
    field = std::move(value);
}
} // namespace

TEmulator::TEmulator() : TEmulator(Options{}) {}

TEmulator::TEmulator(Options options) : d(std::make_unique<TImpl>())
{
    d->brightness = options.brightness;
    d->firmware = options.firmwareVersion;
    d->board = options.boardVersion;
    d->pace = options.pace;
    d->paceFrames = options.paceFrames;
    d->delayMs = options.answerDelayMs;
    d->linkPath = options.symlink;
    d->loopback = options.loopback;
}

TEmulator::~TEmulator()
{
    Stop();
    if (d->pulledSlave >= 0)
        ::close(d->pulledSlave);
}

bool TEmulator::Start(std::string* error)
{
    auto fail = [&](const std::string& message, int fd1 = -1, int fd2 = -1) {
        if (fd1 >= 0)
            ::close(fd1);
        if (fd2 >= 0)
            ::close(fd2);
        if (error)
            *error = message;
        return false;
    };
    std::lock_guard lock(d->mu);
    if (d->started)
        return fail("emulator already started");

    const int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0)
        return fail(SysError("posix_openpt"));
    if (::grantpt(m) != 0)
        return fail(SysError("grantpt"), m);
    if (::unlockpt(m) != 0)
        return fail(SysError("unlockpt"), m);
    char name[128];
    if (::ptsname_r(m, name, sizeof name) != 0)
        return fail(SysError("ptsname_r"), m);
    const int flags = ::fcntl(m, F_GETFL);
    if (flags < 0 || ::fcntl(m, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail(SysError("fcntl"), m);

    // Raw from the start, so nothing is echoed or translated before the tool
    // sets the line up. The settings stay with the pair after this close.
    const int s = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s < 0)
        return fail(SysError(name), m);
    termios t{};
    if (::tcgetattr(s, &t) != 0)
        return fail(SysError("tcgetattr"), s, m);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::cfsetspeed(&t, B9600);
    if (::tcsetattr(s, TCSANOW, &t) != 0)
        return fail(SysError("tcsetattr"), s, m);
    ::close(s);

    const int w = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (w < 0)
        return fail(SysError("eventfd"), m);

    if (!d->linkPath.empty()) {
        ::unlink(d->linkPath.c_str()); // a stale link of an earlier run
        if (::symlink(name, d->linkPath.c_str()) != 0)
            return fail(SysError(("symlink " + d->linkPath).c_str()), w, m);
    }

    // What a worker of an earlier start left half done goes with its line.
    d->collector.Reset();
    d->inbox.clear();
    d->held.clear();
    d->master = m;
    d->wakeFd = w;
    if (d->pulledSlave >= 0) { // the new pair has its own number now
        ::close(d->pulledSlave);
        d->pulledSlave = -1;
    }
    d->slavePath = name;
    d->stopping = false;
    d->hungUp = false;
    d->started = true;
    d->worker = std::thread([impl = d.get()] { impl->Run(); });
    return true;
}

void TEmulator::Stop()
{
    {
        // The name goes before the line, so that nothing opens it in between.
        std::lock_guard lock(d->mu);
        if (d->started && !d->linkPath.empty())
            ::unlink(d->linkPath.c_str());
    }
    Unplug();
    std::lock_guard lock(d->mu);
    d->started = false;
}

void TEmulator::Unplug()
{
    std::thread worker;
    {
        std::lock_guard lock(d->mu);
        d->stopping = true;
        worker.swap(d->worker);
        d->Wake();
    }
    if (worker.joinable())
        worker.join();
    std::lock_guard lock(d->mu);
    if (d->master >= 0) {
        // A pair's number is free again once both sides are closed, and the
        // next pseudo-terminal made (by any process) takes the lowest free
        // one: a tool reopening the pulled name would find someone else's
        // line. Holding the slave keeps the number taken; the name itself
        // goes with the master, as a pulled adapter's node does.
        if (d->pulledSlave < 0 && !d->slavePath.empty())
            d->pulledSlave = ::open(d->slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ::close(d->master);
        d->master = -1;
    }
    if (d->wakeFd >= 0) {
        ::close(d->wakeFd);
        d->wakeFd = -1;
    }
    d->cv.notify_all();
}

const std::string& TEmulator::SlavePath() const
{
    return d->slavePath;
}

int TEmulator::Speed() const { return LockedCopy(d->mu, d->speed); }

int TEmulator::ToolSpeed() const
{
    std::lock_guard lock(d->mu);
    int in = 0, out = 0;
    if (!ReadLineSpeeds(d->master, in, out))
        return 0;
    return out;
}

std::uint8_t TEmulator::Brightness() const { return LockedCopy(d->mu, d->brightness); }

void TEmulator::SetBrightness(std::uint8_t value) { LockedSet(d->mu, d->brightness, value); }

void TEmulator::SetVersion(std::uint32_t firmware, std::uint8_t board)
{
    std::lock_guard lock(d->mu);
    d->firmware = firmware;
    d->board = board;
}

void TEmulator::SetPace(bool on) { LockedSet(d->mu, d->pace, on); }

void TEmulator::SetPaceFrames(bool on) { LockedSet(d->mu, d->paceFrames, on); }

void TEmulator::SetAnswerDelayMs(int ms) { LockedSet(d->mu, d->delayMs, std::max(0, ms)); }

void TEmulator::DropAnswers(int n) { LockedSet(d->mu, d->dropCount, std::max(0, n)); }

void TEmulator::CorruptChecksum(int n) { LockedSet(d->mu, d->corruptCount, std::max(0, n)); }

void TEmulator::SplitAnswer(std::vector<std::size_t> chunkSizes, int gapMs)
{
    std::lock_guard lock(d->mu);
    d->split = std::move(chunkSizes);
    d->splitGapMs = std::max(0, gapMs);
}

void TEmulator::NoiseBeforeAnswer(std::string bytes, int gapMs)
{
    std::lock_guard lock(d->mu);
    d->noise = std::move(bytes);
    d->noiseGapMs = std::max(0, gapMs);
}

void TEmulator::SetLoopback(bool on) { LockedSet(d->mu, d->loopback, on); }

void TEmulator::GlueAnswers() { LockedSet(d->mu, d->gluePending, true); }

void TEmulator::AnswerWithCode(std::uint8_t code) { LockedSet(d->mu, d->codeOverride, code); }

void TEmulator::ConfirmPageAt(std::uint32_t address) { LockedSet(d->mu, d->confirmAddress, address); }

void TEmulator::SetResponse(std::uint8_t response, int n)
{
    std::lock_guard lock(d->mu);
    d->response = response;
    d->responseCount = std::max(0, n);
}

void TEmulator::RefusePages(std::uint8_t response, int n)
{
    std::lock_guard lock(d->mu);
    d->refusal = response;
    d->refuseCount = std::max(0, n);
}

void TEmulator::RepeatAnswer(int gapMs) { LockedSet(d->mu, d->repeatGapMs, std::max(gapMs, 0)); }

void TEmulator::SendRaw(const std::string& bytes)
{
    std::lock_guard lock(d->mu);
    d->outbox.push_back(bytes);
    d->Wake();
}

std::vector<std::string> TEmulator::Frames() const { return LockedCopy(d->mu, d->frames); }

std::vector<std::string> TEmulator::FrameLog() const
{
    std::lock_guard lock(d->mu);
    std::vector<std::string> lines;
    lines.reserve(d->frames.size());
    for (const auto& f : d->frames)
        lines.push_back(StrToHex(f));
    return lines;
}

bool TEmulator::WaitForFrames(std::size_t n, int timeoutMs) const
{
    std::unique_lock lock(d->mu);
    return d->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return d->frames.size() >= n; });
}

bool TEmulator::WaitForAnswers(std::size_t n, int timeoutMs) const
{
    std::unique_lock lock(d->mu);
    return d->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return d->answers >= n; });
}

std::size_t TEmulator::AnswersSent() const { return LockedCopy(d->mu, d->answers); }

std::size_t TEmulator::GarbledAnswers() const { return LockedCopy(d->mu, d->garbled); }

std::size_t TEmulator::AnswersLost() const { return LockedCopy(d->mu, d->lost); }

std::size_t TEmulator::GarbageBytes() const { return LockedCopy(d->mu, d->garbage); }

std::vector<std::uint8_t> TEmulator::FlashImage() const { return LockedCopy(d->mu, d->flash); }

std::vector<std::uint32_t> TEmulator::PageAddresses() const { return LockedCopy(d->mu, d->pages); }

std::vector<std::uint32_t> TEmulator::WrittenPages() const
{
    std::lock_guard lock(d->mu);
    std::vector<std::uint32_t> indexes;
    for (std::size_t i = 0; i < d->written.size(); ++i)
        if (d->written[i])
            indexes.push_back(std::uint32_t(i));
    return indexes;
}

void TEmulator::ForgetWrittenPages()
{
    std::lock_guard lock(d->mu);
    d->written.assign(d->written.size(), false);
}

void TEmulator::ClearLog()
{
    std::lock_guard lock(d->mu);
    d->frames.clear();
    d->pages.clear();
    d->answers = 0;
    d->garbled = 0;
    d->lost = 0;
    d->garbage = 0;
}

void TEmulator::OnFrame(TFrameHook hook)
{
    std::lock_guard lock(d->mu);
    d->hook = std::move(hook);
}

bool TEmulator::WriteFlashImage(const std::string& path, std::string* error) const
{
    const auto image = FlashImage();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        if (error)
            *error = SysError(path.c_str());
        return false;
    }
    const bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    const bool closed = std::fclose(f) == 0;
    if (!(ok && closed)) {
        if (error)
            *error = "cannot write " + path;
        return false;
    }
    return true;
}
