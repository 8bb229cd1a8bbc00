// The emulator's worker thread: reads the tool's bytes, collects frames,
// answers them with the faults asked for, and writes at the line's pace.
#include "EmulatorImpl.h"

using namespace emu;

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
    if (r > 0 && (fds[0].revents & POLLIN))
        DrainWake();
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
            if (LockedLoopback()) {
                // Wired back at once, whatever the speed; collected for the log.
                TWritten how;
                WriteAll(std::string(buf, std::size_t(n)), how);
                std::lock_guard lock(mu);
                inbox.append(buf, std::size_t(n));
                continue;
            }
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
    if (!good || LockedLoopback())
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
            if (refuseCount > 0) {
                --refuseCount; // not taken: the flash stays as it was
                resp = refusal;
            } else if (address <= cFlashSize - cFlashPageSize) {
                std::copy_n(page.frame(), cFlashPageSize, flash.begin() + address);
                written[address / cFlashPageSize] = true;
            } else {
                resp = rec_ResponseWrong; // no such flash: confirmed, but as refused
            }
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
        if (frameTime && !Wait(LineTime(frame.size(), spd)))
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
    int gap = 0, delay = 0, noiseGap = 0;
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
        noiseGap = noiseGapMs;
        noiseGapMs = 0;
        chunks.swap(split);
        gap = splitGapMs;
        delay = delayMs;
    }
    if (delay > 0 && !Wait(std::chrono::milliseconds(delay)))
        return false;
    TWritten noiseHow, how;
    if (!noiseNow.empty() && !WriteChunk(std::move(noiseNow), noiseHow))
        return false;
    if (noiseGap > 0 && !Wait(std::chrono::milliseconds(noiseGap)))
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
    if (paced && !Wait(LineTime(bytes.size(), spd)))
        return false;
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
            if (::poll(fds, 2, 50) > 0 && (fds[0].revents & POLLIN))
                DrainWake();
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
