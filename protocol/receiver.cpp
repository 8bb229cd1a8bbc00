#include "receiver.h"

#include <algorithm>
#include <cstring>

namespace {
// Ring index of a position. Folded positions may be negative; the mask
// still gives the index the byte was stored at.
inline int Ring(std::int32_t p) { return int(p & (cRingSize - 1)); }

// Positions are signed 32-bit counts. Endless noise would overflow them after
// 2^31 bytes, so they are folded back by whole rings well before that; the
// ring indices, and so every byte, stay where they were.
constexpr std::int32_t cFoldAt = 1 << 30;
constexpr std::int32_t cFoldBy = cFoldAt - 4 * cRingSize; // multiple of the ring size
static_assert(cFoldBy % cRingSize == 0);
constexpr std::int32_t cFloor = -cFoldBy;
} // namespace

TFrameReceiver::TFrameReceiver(IReceiverHost& host) : host_(host)
{
    Reset();
    std::memset(myCom, 0, sizeof myCom);
}

void TFrameReceiver::Reset() { std::memset(&RS232, 0, sizeof RS232); }

void TFrameReceiver::ProcessChunk(std::string_view chunk)
{
    tRS232& r = RS232;
    for (char c : chunk) {
        const auto b = std::uint8_t(c);
        r.buf[Ring(r.pos)] = b;
        if (!r.pos_start_bool && b == cBusStart) {
            r.pos_start = r.pos;
            r.pos_start_bool = true;
            // Lets the rest of a short answer arrive, so it is read as one chunk.
            host_.PauseMs(StartPauseMs);
        }
        // The byte before b is still in the ring, also across chunks.
        if (r.pos_start_bool && b == cLF && r.buf[Ring(r.pos - 1)] == cCR) {
            r.pos_CRLF = r.pos;
            r.pos_CRLF_bool = true;
        }
        ++r.pos;
        if (r.pos >= cFoldAt) {
            // Start and end move together, so a frame keeps its length. Only
            // positions long gone can fall below cFloor; held there, they
            // still lie before the ring's oldest byte.
            r.pos -= cFoldBy;
            if (r.pos_start_bool)
                r.pos_start = std::max(r.pos_start - cFoldBy, cFloor);
            if (r.pos_CRLF_bool)
                r.pos_CRLF = std::max(r.pos_CRLF - cFoldBy, cFloor);
        }
    }
    RecognizeIncomming();
}

void TFrameReceiver::RecognizeIncomming()
{
    srs232.clear();
    tRS232& r = RS232;
    if (!(r.pos_start_bool && r.pos_CRLF_bool))
        return;

    const std::int32_t length = r.pos_CRLF - r.pos_start + 1;
    // The ring holds the last 1024 bytes stored. A frame longer than that, or
    // one followed in its chunk by enough bytes to wrap onto its start, has
    // lost its beginning: show what is left of it and drop it.
    const std::int32_t oldest = r.pos - cRingSize;
    if (r.pos_start < oldest) {
        for (std::int32_t p = oldest; p <= r.pos_CRLF; ++p)
            srs232.push_back(char(r.buf[Ring(p)]));
        Reset();
        host_.LogLine(StrToHex(srs232) + " Wielkość: " + std::to_string(length));
        return;
    }

    for (std::int32_t p = r.pos_start; p <= r.pos_CRLF; ++p) {
        const std::uint8_t b = r.buf[Ring(p)];
        myCom[p - r.pos_start] = b;
        srs232.push_back(char(b));
    }
    myComSize = length;
    Reset();
    host_.LogLine(StrToHex(srs232) + " Wielkość: " + std::to_string(myComSize));

    if (srs232 == lastSent_)
        return; // our own frame coming back
    // A frame too short for its checksum field counts as a bad frame.
    if (!VerifyFrame(srs232))
        return;
    Dispatch(myCom[cOffCommand]);
}

void TFrameReceiver::Dispatch(std::uint8_t code)
{
    using Handler = void (IReceiverHost::*)();
    static constexpr Handler handlers[] = {
        nullptr,
        &IReceiverHost::fcmd_TestConnect,
        &IReceiverHost::fcmd_Restart,
        &IReceiverHost::fcmd_UpgreadeCPU,
        &IReceiverHost::fcmd_FillScreen,
        &IReceiverHost::fcmd_getJasnosc,
        &IReceiverHost::fcmd_setJasnosc,
        &IReceiverHost::fcmd_putText,
        &IReceiverHost::fcmd_putTextFrame,
        &IReceiverHost::fcmd_Set9600,
        &IReceiverHost::fcmd_Set115200,
        &IReceiverHost::fcmd_ProgramFlashPage,
        &IReceiverHost::fcmd_putLogo,
        &IReceiverHost::fcmd_GetVersion,
    };
    if (code == 0 || code >= std::size(handlers))
        return;
    (host_.*handlers[code])();
}
