// Turns the received byte stream into frames: collects from the start byte to
// CR LF in a 1024-byte ring, logs every complete frame, verifies its checksum
// and calls the answer handler of its command code. Plain C++, no Qt.
#pragma once

#include "frame.h"

#include <cstdint>
#include <string>
#include <string_view>

struct tRS232 {
    std::uint8_t buf[1024];
    std::int32_t pos;
    std::int32_t pos_start;
    bool pos_start_bool;
    std::int32_t pos_CRLF;
    bool pos_CRLF_bool;
};
static_assert(sizeof(tRS232) == 1044);

inline constexpr int cRingSize = 1024;
inline constexpr int cStartPauseMs = 50;

// What the receiver needs from its owner: the operator log, the pause at a
// start byte, and the thirteen answer handlers. The main window implements it.
class IReceiverHost {
public:
    virtual ~IReceiverHost() = default;
    // One line of the operator log, UTF-8.
    virtual void LogLine(const std::string& line) = 0;
    // Blocks the calling thread; tests may shorten or count it.
    virtual void PauseMs(int ms) = 0;

    virtual void fcmd_TestConnect() = 0;
    virtual void fcmd_Restart() = 0;
    virtual void fcmd_UpgreadeCPU() = 0;
    virtual void fcmd_FillScreen() = 0;
    virtual void fcmd_getJasnosc() = 0;
    virtual void fcmd_setJasnosc() = 0;
    virtual void fcmd_putText() = 0;
    virtual void fcmd_putTextFrame() = 0;
    virtual void fcmd_Set9600() = 0;
    virtual void fcmd_Set115200() = 0;
    virtual void fcmd_ProgramFlashPage() = 0;
    virtual void fcmd_putLogo() = 0;
    virtual void fcmd_GetVersion() = 0;
};

class TFrameReceiver {
public:
    explicit TFrameReceiver(IReceiverHost& host);

    // Zeroes the whole receive record (start-up, and after every frame).
    void Reset();

    // The frame the owner wrote last. A received frame equal to it is the
    // line's echo (a loopback plug, a device with local echo), never an
    // answer: a controller does not repeat a request. It is logged, not handled.
    void NoteSent(std::string_view frame) { lastSent_.assign(frame); }

    // Processes one chunk as read from the port, then RecognizeIncomming.
    void ProcessChunk(std::string_view chunk);
    void RecognizeIncomming();

    tRS232 RS232;
    // The frame taken out last, from its start byte on; valid until the next.
    std::uint8_t myCom[1024];
    std::int32_t myComSize = 0;
    std::string srs232;
    // The pause at a start byte; tests may shorten it.
    int StartPauseMs = cStartPauseMs;

private:
    void Dispatch(std::uint8_t code);
    IReceiverHost& host_;
    std::string lastSent_;
};
