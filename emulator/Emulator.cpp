#include "Emulator.h"

#include "FrameCollector.h"
#include "PtySpeed.h"
#include "protocol/flashpage.h"
#include "protocol/frame.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

constexpr int cSlowSpeed = 9600;
constexpr int cFastSpeed = 115200;
// While nobody has the slave open the master reports a hang-up at once, so it
// is left out of poll and looked at again after this pause.
constexpr int cHangUpRecheckMs = 20;
// A tool that stops reading gets no more than this to empty its queue.
constexpr int cWriteStallMs = 2000;

std::string SysError(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// What the tool's UART makes of bytes sent at another speed: never a start
// byte, CR or LF, so nothing of it can pass for a frame.
std::string Garble(const std::string& bytes)
{
    std::string out(bytes.size(), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        out[i] = char(0x80 | ((std::uint8_t(bytes[i]) * 37 + 0x4B + i) & 0x7F));
    return out;
}

} // namespace

struct TEmulator::TImpl {
    // Guarded by mu.
    mutable std::mutex mu;
    mutable std::condition_variable cv;
    int master = -1;
    int wakeFd = -1;
    std::string slavePath;
    std::string linkPath;
    std::thread worker;
    bool started = false;
    bool stopping = false;

    int speed = cSlowSpeed;
    std::uint8_t brightness = 0;
    std::uint32_t firmware = 0;
    std::uint8_t board = 0;
    bool pace = true;
    bool paceFrames = false;
    int delayMs = 0;

    int dropCount = 0;
    int corruptCount = 0;
    std::vector<std::size_t> split;
    int splitGapMs = 0;
    std::string noise;
    bool gluePending = false;
    std::optional<std::uint8_t> codeOverride;
    std::optional<std::uint32_t> confirmAddress;
    std::uint8_t response = rec_ResponseOK;
    int responseCount = 0;
    int repeatGapMs = -1;
    std::vector<std::string> outbox;

    std::vector<std::string> frames;
    std::size_t answers = 0;
    std::size_t garbled = 0;
    std::size_t lost = 0;
    std::size_t garbage = 0;
    std::vector<std::uint8_t> flash = std::vector<std::uint8_t>(cFlashSize, cFlashErased);
    std::vector<std::uint32_t> pages;
    TFrameHook hook;

    // Worker thread only.
    TFrameCollector collector;
    std::string inbox;
    std::string held; // first answer of a glued pair
    bool hungUp = false;

    // Caller holds mu (wakeFd is closed under it).
    void Wake()
    {
        const std::uint64_t one = 1;
        if (wakeFd >= 0)
            [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
    }
    bool StopRequested()
    {
        std::lock_guard lock(mu);
        return stopping;
    }

    void Run();
    bool PollOnce(TClock::duration timeout);
    bool Wait(TClock::duration d);
    void ReadIncoming();
    void CheckHangUp();
    void ProcessInbox();
    void FlushOutbox();
    void HandleFrame(const std::string& frame);
    bool Emit(std::string answer);
    // What became of the chunks of one answer.
    struct TWritten {
        bool garbled = false; // the tool listened at another speed
        bool lost = false;    // nobody had the line open
    };
    bool WriteChunk(std::string bytes, TWritten& how);
    bool WriteAll(const std::string& bytes, TWritten& how);
};

// ---------------------------------------------------------------------------
// Worker

void TEmulator::TImpl::Run()
{
    while (!StopRequested()) {
        ProcessInbox();
        FlushOutbox();
        if (inbox.empty()) {
            bool outboxEmpty;
            {
                std::lock_guard lock(mu);
                outboxEmpty = outbox.empty();
            }
            if (outboxEmpty)
                PollOnce(TClock::duration::max());
        }
    }
}

// One wait for the stop/wake event or incoming bytes. Returns false when a
// stop was requested.
bool TEmulator::TImpl::PollOnce(TClock::duration timeout)
{
    // The wake event may have been used up by an earlier wait: the flag
    // counts, and it is set before the event is raised.
    if (StopRequested())
        return false;
    if (hungUp)
        timeout = std::min<TClock::duration>(timeout, std::chrono::milliseconds(cHangUpRecheckMs));
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {master, POLLIN, 0}};
    const nfds_t n = hungUp ? 1 : 2;
    timespec ts{};
    timespec* tsp = nullptr;
    if (timeout != TClock::duration::max()) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count();
        ts.tv_sec = ns > 0 ? ns / 1000000000 : 0;
        ts.tv_nsec = ns > 0 ? ns % 1000000000 : 0;
        tsp = &ts;
    }
    const int r = ::ppoll(fds, n, tsp, nullptr);
    if (r > 0 && (fds[0].revents & POLLIN)) {
        std::uint64_t v;
        [[maybe_unused]] auto got = ::read(wakeFd, &v, sizeof v);
    }
    if (r > 0 && n == 2 && fds[1].revents)
        ReadIncoming();
    if (hungUp)
        CheckHangUp();
    return !StopRequested();
}

// Sleeps for d, still taking in what the tool sends; false on stop.
bool TEmulator::TImpl::Wait(TClock::duration d)
{
    const auto deadline = TClock::now() + d;
    for (;;) {
        if (StopRequested())
            return false;
        const auto left = deadline - TClock::now();
        if (left <= TClock::duration::zero())
            return true;
        if (!PollOnce(left))
            return false;
    }
}

// Bytes are judged by the speed the tool has set at the moment they are read:
// at another speed than ours they are garbage and never reach the collector.
void TEmulator::TImpl::ReadIncoming()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0) {
            int toolIn = 0, toolOut = 0;
            const bool known = ReadLineSpeeds(master, toolIn, toolOut);
            std::lock_guard lock(mu);
            if (known && toolOut == speed)
                inbox.append(buf, std::size_t(n));
            else
                garbage += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // EIO (or end of file): nobody has the slave open.
        hungUp = true;
        return;
    }
}

void TEmulator::TImpl::CheckHangUp()
{
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return;
    if (p.revents & POLLIN)
        ReadIncoming();
    hungUp = (p.revents & POLLHUP) != 0;
}

void TEmulator::TImpl::ProcessInbox()
{
    while (!inbox.empty() && !StopRequested()) {
        std::string chunk;
        chunk.swap(inbox); // answering may read more into inbox meanwhile
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            if (auto frame = collector.Push(std::uint8_t(chunk[i])))
                HandleFrame(*frame);
            if (StopRequested())
                return;
        }
    }
}

void TEmulator::TImpl::FlushOutbox()
{
    std::vector<std::string> out;
    {
        std::lock_guard lock(mu);
        out.swap(outbox);
    }
    for (auto& bytes : out) {
        TWritten how;
        if (!WriteChunk(std::move(bytes), how))
            return;
    }
}

void TEmulator::TImpl::HandleFrame(const std::string& frame)
{
    const bool good = VerifyFrame(frame);
    TFrameHook h;
    {
        std::lock_guard lock(mu);
        frames.push_back(frame);
        h = hook;
    }
    cv.notify_all();
    if (h)
        h(frame, good);
    if (!good)
        return;

    const std::uint8_t code = std::uint8_t(frame[cOffCommand]);
    if (code < cmd_TestConnect || code > cmd_GetVersion)
        return;
    const auto* p = reinterpret_cast<const std::uint8_t*>(frame.data());

    std::string answer;
    {
        std::lock_guard lock(mu);
        std::uint8_t resp = rec_ResponseOK;
        std::uint32_t address = 0;
        if (code == cmd_setJasnosc && frame.size() >= cSendJasnoscSize)
            brightness = p[cHeaderSize];
        if (code == cmd_ProgramFlashPage) {
            // Only a whole page frame is programmed and confirmed.
            tProgramFlashPage page;
            if (!page.Take(frame))
                return;
            address = page.address();
            if (address <= cFlashSize - cFlashPageSize)
                std::copy_n(page.frame(), cFlashPageSize, flash.begin() + address);
            else
                resp = rec_ResponseWrong; // no such flash: confirmed, but as refused
            pages.push_back(address);
        }
        if (dropCount > 0) {
            --dropCount;
        } else {
            if (responseCount > 0) {
                --responseCount;
                resp = response;
            }
            if (code == cmd_GetVersion) {
                answer = BuildAnswerFrame(code, firmware, resp, board);
            } else if (code == cmd_ProgramFlashPage) {
                const std::uint32_t named = confirmAddress.value_or(address);
                confirmAddress.reset();
                answer = tProgramFlashPageConfirm::Build(named, resp);
            } else {
                answer = BuildAnswerFrame(code, 0, resp, brightness);
            }
            if (codeOverride) {
                answer[cOffCommand] = char(*codeOverride);
                codeOverride.reset();
                SealFrame(answer);
            }
            if (corruptCount > 0) {
                --corruptCount;
                answer[cOffChSum] = char(~std::uint8_t(answer[cOffChSum]));
            }
        }
    }
    if (!answer.empty()) {
        // With frame pacing the answer starts no earlier than the frame's own
        // time on the line after it was taken in, as behind a real UART.
        int spd;
        bool frameTime;
        {
            std::lock_guard lock(mu);
            spd = speed;
            frameTime = pace && paceFrames;
        }
        if (frameTime &&
            !Wait(std::chrono::microseconds(static_cast<long long>(frame.size()) * 10 * 1000000 / spd)))
            return;
        if (!Emit(std::move(answer)))
            return;
    }

    // The new speed holds from the first byte after the answer.
    if (code == cmd_Set9600 || code == cmd_Set115200 || code == cmd_UpgreadeCPU) {
        std::lock_guard lock(mu);
        speed = code == cmd_Set115200 ? cFastSpeed : cSlowSpeed;
    }
}

// Writes one answer with the faults that apply to it. False on stop.
bool TEmulator::TImpl::Emit(std::string answer)
{
    std::string bytes, noiseNow;
    std::vector<std::size_t> chunks;
    int gap = 0, delay = 0;
    std::size_t count = 1;
    {
        std::lock_guard lock(mu);
        if (gluePending) {
            gluePending = false;
            held = std::move(answer);
            return true;
        }
        if (!held.empty()) {
            bytes = std::move(held);
            held.clear();
            count = 2;
        }
        bytes += answer;
        noiseNow.swap(noise);
        chunks.swap(split);
        gap = splitGapMs;
        delay = delayMs;
    }
    if (delay > 0 && !Wait(std::chrono::milliseconds(delay)))
        return false;
    TWritten noiseHow, how;
    if (!noiseNow.empty() && !WriteChunk(std::move(noiseNow), noiseHow))
        return false;
    std::size_t pos = 0;
    for (std::size_t i = 0; i < chunks.size() && pos < bytes.size(); ++i) {
        const std::size_t len = std::min(chunks[i], bytes.size() - pos);
        if (len == 0)
            continue;
        if (!WriteChunk(bytes.substr(pos, len), how))
            return false;
        pos += len;
        if (pos < bytes.size() && gap > 0 && !Wait(std::chrono::milliseconds(gap)))
            return false;
    }
    if (pos < bytes.size() && !WriteChunk(bytes.substr(pos), how))
        return false;
    int repeatGap;
    {
        std::lock_guard lock(mu);
        repeatGap = repeatGapMs;
        repeatGapMs = -1;
    }
    if (repeatGap >= 0) {
        if (!Wait(std::chrono::milliseconds(repeatGap)) || !WriteChunk(bytes, how))
            return false;
        ++count;
    }
    {
        std::lock_guard lock(mu);
        if (how.lost) {
            lost += count;
        } else {
            answers += count;
            if (how.garbled)
                garbled += count;
        }
    }
    cv.notify_all();
    return true;
}

// Writes bytes as one piece after the time they take on the line. The tool's
// speed is checked just before the write. False on stop.
bool TEmulator::TImpl::WriteChunk(std::string bytes, TWritten& how)
{
    if (bytes.empty())
        return true;
    int spd;
    bool paced;
    {
        std::lock_guard lock(mu);
        spd = speed;
        paced = pace;
    }
    if (paced) {
        const auto lineTime = std::chrono::microseconds(
            static_cast<long long>(bytes.size()) * 10 * 1000000 / spd);
        if (!Wait(lineTime))
            return false;
    }
    CheckHangUp();
    if (hungUp) {
        // Nobody listens: the bytes are lost, as on a real line, instead of
        // waiting in the pty for the next open.
        how.lost = true;
        return true;
    }
    int toolIn = 0, toolOut = 0;
    if (!ReadLineSpeeds(master, toolIn, toolOut) || toolIn != spd) {
        bytes = Garble(bytes);
        how.garbled = true;
    }
    return WriteAll(bytes, how);
}

bool TEmulator::TImpl::WriteAll(const std::string& bytes, TWritten& how)
{
    std::size_t done = 0;
    auto stallEnd = TClock::now() + std::chrono::milliseconds(cWriteStallMs);
    while (done < bytes.size()) {
        const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
            stallEnd = TClock::now() + std::chrono::milliseconds(cWriteStallMs);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (TClock::now() >= stallEnd) {
                how.lost = true; // the tool does not read: drop the rest
                return true;
            }
            pollfd fds[2] = {{wakeFd, POLLIN, 0}, {master, POLLOUT, 0}};
            if (::poll(fds, 2, 50) > 0 && (fds[0].revents & POLLIN)) {
                std::uint64_t v;
                [[maybe_unused]] auto got = ::read(wakeFd, &v, sizeof v);
            }
            if (StopRequested())
                return false;
            continue;
        }
        hungUp = true;
        how.lost = true;
        return true;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Public side

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
}

TEmulator::~TEmulator()
{
    Stop();
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

    d->master = m;
    d->wakeFd = w;
    d->slavePath = name;
    d->stopping = false;
    d->hungUp = false;
    d->started = true;
    d->worker = std::thread([impl = d.get()] { impl->Run(); });
    return true;
}

void TEmulator::Stop()
{
    Unplug();
    std::lock_guard lock(d->mu);
    if (d->started && !d->linkPath.empty())
        ::unlink(d->linkPath.c_str());
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

int TEmulator::Speed() const
{
    std::lock_guard lock(d->mu);
    return d->speed;
}

int TEmulator::ToolSpeed() const
{
    std::lock_guard lock(d->mu);
    int in = 0, out = 0;
    if (!ReadLineSpeeds(d->master, in, out))
        return 0;
    return out;
}

std::uint8_t TEmulator::Brightness() const
{
    std::lock_guard lock(d->mu);
    return d->brightness;
}

void TEmulator::SetBrightness(std::uint8_t value)
{
    std::lock_guard lock(d->mu);
    d->brightness = value;
}

void TEmulator::SetVersion(std::uint32_t firmware, std::uint8_t board)
{
    std::lock_guard lock(d->mu);
    d->firmware = firmware;
    d->board = board;
}

void TEmulator::SetPace(bool on)
{
    std::lock_guard lock(d->mu);
    d->pace = on;
}

void TEmulator::SetPaceFrames(bool on)
{
    std::lock_guard lock(d->mu);
    d->paceFrames = on;
}

void TEmulator::SetAnswerDelayMs(int ms)
{
    std::lock_guard lock(d->mu);
    d->delayMs = std::max(0, ms);
}

void TEmulator::DropAnswers(int n)
{
    std::lock_guard lock(d->mu);
    d->dropCount = std::max(0, n);
}

void TEmulator::CorruptChecksum(int n)
{
    std::lock_guard lock(d->mu);
    d->corruptCount = std::max(0, n);
}

void TEmulator::SplitAnswer(std::vector<std::size_t> chunkSizes, int gapMs)
{
    std::lock_guard lock(d->mu);
    d->split = std::move(chunkSizes);
    d->splitGapMs = std::max(0, gapMs);
}

void TEmulator::NoiseBeforeAnswer(std::string bytes)
{
    std::lock_guard lock(d->mu);
    d->noise = std::move(bytes);
}

void TEmulator::GlueAnswers()
{
    std::lock_guard lock(d->mu);
    d->gluePending = true;
}

void TEmulator::AnswerWithCode(std::uint8_t code)
{
    std::lock_guard lock(d->mu);
    d->codeOverride = code;
}

void TEmulator::ConfirmPageAt(std::uint32_t address)
{
    std::lock_guard lock(d->mu);
    d->confirmAddress = address;
}

void TEmulator::SetResponse(std::uint8_t response, int n)
{
    std::lock_guard lock(d->mu);
    d->response = response;
    d->responseCount = std::max(0, n);
}

void TEmulator::RepeatAnswer(int gapMs)
{
    std::lock_guard lock(d->mu);
    d->repeatGapMs = std::max(gapMs, 0);
}

void TEmulator::SendRaw(const std::string& bytes)
{
    std::lock_guard lock(d->mu);
    d->outbox.push_back(bytes);
    d->Wake();
}

std::vector<std::string> TEmulator::Frames() const
{
    std::lock_guard lock(d->mu);
    return d->frames;
}

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

std::size_t TEmulator::AnswersSent() const
{
    std::lock_guard lock(d->mu);
    return d->answers;
}

std::size_t TEmulator::GarbledAnswers() const
{
    std::lock_guard lock(d->mu);
    return d->garbled;
}

std::size_t TEmulator::AnswersLost() const
{
    std::lock_guard lock(d->mu);
    return d->lost;
}

std::size_t TEmulator::GarbageBytes() const
{
    std::lock_guard lock(d->mu);
    return d->garbage;
}

std::vector<std::uint8_t> TEmulator::FlashImage() const
{
    std::lock_guard lock(d->mu);
    return d->flash;
}

std::vector<std::uint32_t> TEmulator::PageAddresses() const
{
    std::lock_guard lock(d->mu);
    return d->pages;
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
