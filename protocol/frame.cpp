#include "frame.h"

#include <initializer_list>

void tHeader::Encode(std::uint8_t* out) const
{
    out[0] = BusStart;
    out[1] = Command;
    PutLE16(out + 2, Size);
    PutLE16(out + 4, ChSum);
    out[6] = Nothing1;
    out[7] = Nothing2;
}

tHeader tHeader::Decode(const std::uint8_t* in)
{
    tHeader h;
    h.BusStart = in[0];
    h.Command = in[1];
    h.Size = GetLE16(in + 2);
    h.ChSum = GetLE16(in + 4);
    h.Nothing1 = in[6];
    h.Nothing2 = in[7];
    return h;
}

std::uint16_t GetCRC(std::string_view buf)
{
    std::uint16_t crc = 0;
    for (char c : buf)
        crc = NewCRC(crc, std::uint8_t(c));
    return crc;
}

std::string StrToHex(std::string_view str)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(str.size() * 3);
    for (char c : str) {
        const auto b = std::uint8_t(c);
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
        out.push_back(' ');
    }
    return out;
}

void SealFrame(TBytes& frame)
{
    if (frame.size() < cOffChSum + 2)
        return;
    frame[cOffChSum] = 0;
    frame[cOffChSum + 1] = 0;
    const std::uint16_t crc = GetCRC(frame);
    PutLE16(reinterpret_cast<std::uint8_t*>(frame.data()) + cOffChSum, crc);
}

bool VerifyFrame(std::string_view frame)
{
    if (frame.size() < cOffChSum + 2)
        return false;
    std::string copy(frame);
    copy[cOffChSum] = 0;
    copy[cOffChSum + 1] = 0;
    const auto* p = reinterpret_cast<const std::uint8_t*>(frame.data());
    return GetCRC(copy) == GetLE16(p + cOffChSum);
}

static TBytes BuildFrame(std::uint8_t code, std::string_view payload)
{
    TBytes f(cHeaderSize + payload.size() + 2, '\0');
    tHeader h;
    h.Command = code;
    h.Size = std::uint16_t(f.size());
    h.Encode(reinterpret_cast<std::uint8_t*>(f.data()));
    f.replace(cHeaderSize, payload.size(), payload);
    f[f.size() - 2] = char(cCR);
    f[f.size() - 1] = char(cLF);
    return f;
}

namespace {
// A record's wire bytes: the header, then its one-byte fields in order.
TBytes EncodeRecord(const tHeader& header, std::initializer_list<std::uint8_t> fields)
{
    TBytes out(cHeaderSize, '\0');
    header.Encode(reinterpret_cast<std::uint8_t*>(out.data()));
    for (const std::uint8_t b : fields)
        out += char(b);
    return out;
}
} // namespace

TBytes tSendCommand::Bytes() const { return EncodeRecord(Header, {CR, LF}); }
TBytes tSendJasnosc::Bytes() const { return EncodeRecord(Header, {Jasnosc, ForFuture, CR, LF}); }

TBytes BuildCommandFrame(std::uint8_t code)
{
    tSendCommand f;
    f.Header.Command = code;
    f.Header.Size = cSendCommandSize;
    return f.Bytes();
}

TBytes BuildJasnoscFrame(std::uint8_t jasnosc)
{
    tSendJasnosc f;
    f.Header.Command = cmd_setJasnosc;
    f.Header.Size = cSendJasnoscSize;
    f.Jasnosc = jasnosc;
    return f.Bytes();
}

TBytes BuildAnswerFrame(std::uint8_t code, std::uint32_t value32, std::uint8_t response,
                        std::uint8_t value8)
{
    std::uint8_t payload[6];
    PutLE32(payload, value32);
    payload[4] = response;
    payload[5] = value8;
    TBytes f = BuildFrame(code, std::string_view(reinterpret_cast<const char*>(payload), 6));
    SealFrame(f);
    return f;
}

std::string SentFrameLogLine(std::string_view frame)
{
    return StrToHex(frame) + " wielkość: " + std::to_string(frame.size());
}
