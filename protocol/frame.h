// Frame format of the controller link: header, trailer, checksum, codes, and
// the hexadecimal text used in the operator log. Plain C++, no Qt.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Byte strings are std::string holding raw bytes.
using TBytes = std::string;

inline constexpr std::uint8_t cBusStart = 27;
inline constexpr std::uint8_t cCR = 13;
inline constexpr std::uint8_t cLF = 10;

inline constexpr std::uint8_t cmd_TestConnect = 1;
inline constexpr std::uint8_t cmd_Restart = 2;
inline constexpr std::uint8_t cmd_UpgreadeCPU = 3;
inline constexpr std::uint8_t cmd_FillScreen = 4;
inline constexpr std::uint8_t cmd_getJasnosc = 5;
inline constexpr std::uint8_t cmd_setJasnosc = 6;
inline constexpr std::uint8_t cmd_putText = 7;
inline constexpr std::uint8_t cmd_putTextFrame = 8;
inline constexpr std::uint8_t cmd_Set9600 = 9;
inline constexpr std::uint8_t cmd_Set115200 = 10;
inline constexpr std::uint8_t cmd_ProgramFlashPage = 11;
inline constexpr std::uint8_t cmd_putLogo = 12;
inline constexpr std::uint8_t cmd_GetVersion = 13;

inline constexpr std::uint8_t rec_ResponseOK = 1;
inline constexpr std::uint8_t rec_ResponseWrong = 2;
inline constexpr std::uint8_t rec_ResponseRepeat = 3;

// Offsets of the header fields on the wire (little-endian, no gaps).
inline constexpr std::size_t cHeaderSize = 8;
inline constexpr std::size_t cOffCommand = 1;
inline constexpr std::size_t cOffSize = 2;
inline constexpr std::size_t cOffChSum = 4;

struct tHeader {
    std::uint8_t BusStart = cBusStart;
    std::uint8_t Command = 0;
    std::uint16_t Size = 0;
    std::uint16_t ChSum = 0;
    std::uint8_t Nothing1 = 0;
    std::uint8_t Nothing2 = 0;

    // Writes the eight wire bytes to out[0..7].
    void Encode(std::uint8_t* out) const;
    static tHeader Decode(const std::uint8_t* in);
};
static_assert(sizeof(tHeader) == cHeaderSize);

// Little-endian field access on raw frame bytes.
inline std::uint16_t GetLE16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline std::uint32_t GetLE32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}
inline void PutLE16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline void PutLE32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}

namespace detail {
constexpr std::array<std::uint16_t, 256> MakeCrcTable()
{
    std::array<std::uint16_t, 256> t{};
    for (unsigned n = 0; n < 256; ++n) {
        unsigned r = n << 8;
        for (int k = 0; k < 8; ++k)
            r = (r & 0x8000) ? ((r << 1) ^ 0x1021) : (r << 1);
        t[n] = std::uint16_t(r);
    }
    return t;
}
} // namespace detail

// CRC-16/XMODEM, byte-wise table of polynomial 0x1021.
inline constexpr std::array<std::uint16_t, 256> cCRC = detail::MakeCrcTable();

constexpr std::uint16_t NewCRC(std::uint16_t OldCRC, std::uint8_t ch)
{
    return std::uint16_t((OldCRC << 8) ^ cCRC[((OldCRC >> 8) ^ ch) & 0xFF]);
}

std::uint16_t GetCRC(std::string_view buf);

// Two upper-case hex digits and a blank per byte.
std::string StrToHex(std::string_view str);
// The operator log's line for a frame sent: its hex, " wielkość: ", its length.
std::string SentFrameLogLine(std::string_view frame);

// Stores the checksum of the complete frame (trailer included) at offsets 4/5.
// The checksum field counts as zero whatever it held before. Frames too short
// to hold the field are left as they are.
void SealFrame(TBytes& frame);

// True when the checksum at offsets 4/5 matches the frame with that field
// counted as zero. A frame too short to hold the field never verifies.
bool VerifyFrame(std::string_view frame);

// Request records, laid out as on the wire.
// The frame of every command without payload.
struct tSendCommand {
    tHeader Header; // Size 10
    std::uint8_t CR = cCR;
    std::uint8_t LF = cLF;
    TBytes Bytes() const; // the wire bytes
};
// The brightness command.
struct tSendJasnosc {
    tHeader Header; // Command 6, Size 12
    std::uint8_t Jasnosc = 0; // 0..15, 0 automatic
    std::uint8_t ForFuture = 0;
    std::uint8_t CR = cCR;
    std::uint8_t LF = cLF;
    TBytes Bytes() const;
};
inline constexpr std::size_t cSendCommandSize = 10;
inline constexpr std::size_t cSendJasnoscSize = 12;
static_assert(sizeof(tSendCommand) == cSendCommandSize && sizeof(tSendJasnosc) == cSendJasnoscSize);

// Unsealed frames of the commands without payload and of the brightness
// command, built from their records.
TBytes BuildCommandFrame(std::uint8_t code);
TBytes BuildJasnoscFrame(std::uint8_t jasnosc);

// Answer records: kept as their 16 wire bytes so that a short answer
// overwrites only its own length, as a plain memory copy would. Both answers
// share one layout: header, a 32-bit field, Response, an 8-bit field.
inline constexpr std::size_t cAnswerSize = 16;
inline constexpr std::size_t cOffResponse = 12;
struct tAnswerRecord {
    std::array<std::uint8_t, cAnswerSize> raw{};
    tHeader Header() const { return tHeader::Decode(raw.data()); }
    std::uint8_t Response() const { return raw[cOffResponse]; }

protected:
    std::uint32_t Field32() const { return GetLE32(&raw[8]); }
    std::uint8_t Field8() const { return raw[13]; }
};
struct tGetCommand : tAnswerRecord {
    std::uint32_t ForFuture1() const { return Field32(); }
    std::uint8_t Jasnosc() const { return Field8(); }
};
struct tGetVersion : tAnswerRecord {
    std::uint32_t Wersja() const { return Field32(); }
    std::uint8_t WersjaPCB() const { return Field8(); }
};
static_assert(sizeof(tGetCommand) == cAnswerSize && sizeof(tGetVersion) == cAnswerSize);

// Builds a complete sealed 16-byte answer (used by the emulator and tests).
// Bytes 8..11 carry `value32`, byte 12 `response`, byte 13 `value8`.
TBytes BuildAnswerFrame(std::uint8_t code, std::uint32_t value32, std::uint8_t response,
                        std::uint8_t value8);
