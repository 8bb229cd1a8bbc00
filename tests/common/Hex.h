// Frames as spaced hex text and back, for readable comparisons in tests, and
// sealed frames to put on the line.
#pragma once

#include "protocol/frame.h"

#include <QByteArray>
#include <QString>

// "1B 01 0A" -> raw bytes.
inline TBytes Hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', "")).toStdString();
}

// Raw bytes as the operator log writes them: "1B 01 0A " (a blank after each).
inline QString HexText(const std::string& bytes) { return QString::fromStdString(StrToHex(bytes)); }

// The same without the closing blank: "1B 01 0A".
inline QString HexOf(const std::string& bytes) { return HexText(bytes).trimmed(); }

inline std::string Sealed(TBytes frame)
{
    SealFrame(frame);
    return frame;
}

// A sealed flash page frame: header, page address, two zero bytes, the page
// data (256 bytes make the 272-byte frame) and CR LF.
inline std::string PageFrame(std::uint32_t address, const std::string& data)
{
    TBytes f(14, '\0');
    f[0] = char(cBusStart);
    f[1] = char(cmd_ProgramFlashPage);
    PutLE32(reinterpret_cast<std::uint8_t*>(f.data()) + 8, address);
    f += data;
    f += "\r\n";
    PutLE16(reinterpret_cast<std::uint8_t*>(f.data()) + cOffSize, std::uint16_t(f.size()));
    return Sealed(f);
}

inline std::string PageFrame(std::uint32_t address, char fill)
{
    return PageFrame(address, std::string(256, fill));
}
