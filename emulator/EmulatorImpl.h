// The emulator's inner state and its worker thread, shared by the public side
// (Emulator.cpp) and the worker (EmulatorWorker.cpp). Not for users of TEmulator.
#pragma once

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

namespace emu {

using TClock = std::chrono::steady_clock;

inline constexpr int cSlowSpeed = 9600;
inline constexpr int cFastSpeed = 115200;
// While nobody has the slave open the master reports a hang-up at once, so it
// is left out of poll and looked at again after this pause.
inline constexpr int cHangUpRecheckMs = 20;
// A tool that stops reading gets no more than this to empty its queue.
inline constexpr int cWriteStallMs = 2000;

inline std::string SysError(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// How long bytes take on the line: 10 bit times each.
inline TClock::duration LineTime(std::size_t bytes, int speed)
{
    return std::chrono::microseconds(static_cast<long long>(bytes) * 10 * 1000000 / speed);
}

// What the tool's UART makes of bytes sent at another speed: never a start
// byte, CR or LF, so nothing of it can pass for a frame.
inline std::string Garble(const std::string& bytes)
{
    std::string out(bytes.size(), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        out[i] = char(0x80 | ((std::uint8_t(bytes[i]) * 37 + 0x4B + i) & 0x7F));
    return out;
}

} // namespace emu


struct TEmulator::TImpl {
    // Guarded by mu.
    mutable std::mutex mu;
    mutable std::condition_variable cv;
    int master = -1;
    int wakeFd = -1;
    // The slave of a pulled pair, held so that its number is given to no
    // other pseudo-terminal while a tool may still open the old name.
    int pulledSlave = -1;
    std::string slavePath;
    std::string linkPath;
    std::thread worker;
    bool started = false;
    bool stopping = false;

    int speed = emu::cSlowSpeed;
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
    int noiseGapMs = 0;
    bool loopback = false;
    bool gluePending = false;
    std::optional<std::uint8_t> codeOverride;
    std::optional<std::uint32_t> confirmAddress;
    std::uint8_t response = rec_ResponseOK;
    int responseCount = 0;
    std::uint8_t refusal = rec_ResponseWrong;
    int refuseCount = 0;
    int repeatGapMs = -1;
    std::vector<std::string> outbox;

    std::vector<std::string> frames;
    std::size_t answers = 0;
    std::size_t garbled = 0;
    std::size_t lost = 0;
    std::size_t garbage = 0;
    std::vector<std::uint8_t> flash = std::vector<std::uint8_t>(cFlashSize, cFlashErased);
    std::vector<std::uint32_t> pages;
    std::vector<bool> written = std::vector<bool>(cFlashSize / cFlashPageSize, false);
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
    // Worker only: takes a raised wake event so that the next wait blocks.
    void DrainWake()
    {
        std::uint64_t v;
        [[maybe_unused]] auto got = ::read(wakeFd, &v, sizeof v);
    }
    bool LockedLoopback()
    {
        std::lock_guard lock(mu);
        return loopback;
    }
    bool StopRequested()
    {
        std::lock_guard lock(mu);
        return stopping;
    }

    void Run();
    bool PollOnce(emu::TClock::duration timeout);
    bool Wait(emu::TClock::duration d);
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
