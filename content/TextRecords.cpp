#include "TextRecords.h"

#include "CodePage.h"
#include "Transliteration.h"

#include <cstring>

namespace {

std::u16string_view Cut(std::u16string_view text)
{
    return text.substr(0, cMaxTextLength);
}

template <class Record>
void Clear(Record& rec)
{
    std::memset(static_cast<void*>(&rec), 0, sizeof rec);
}

template <class Record>
void SetHeader(Record& rec, std::uint8_t command, std::size_t size)
{
    rec.Header.BusStart = cBusStart;
    rec.Header.Command = command;
    rec.Header.Size = std::uint16_t(size);
}

template <class Record>
TBytes Leading(const Record& rec, std::size_t size)
{
    return TBytes(reinterpret_cast<const char*>(&rec), size);
}

} // namespace

void TWindowTextFrames::SetDefaults()
{
    for (int k = 0; k <= cLast; ++k) {
        tWindowTextFrame& e = (*this)[k];
        e = {};
        e.Color = 1;
        e.Width = 128;
        e.Height = 32;
        e.StepHoriz = 5;
        e.Text = "Dyn. Tekst " + std::to_string(k + 1);
    }
}

TBytes BuildSendText(tSendText& rec, const tStaticText& s)
{
    const std::u16string_view text = Cut(s.Text);
    const std::size_t ssize = text.size() + 24;
    Clear(rec);
    SetHeader(rec, cmd_putText, ssize);
    rec.Color = s.Color;
    rec.ColorBack = s.ColorBack;
    rec.X = std::int16_t(s.X);
    rec.Y = std::int16_t(s.Y);
    rec.Font = std::uint16_t(s.Font);
    StringToAnsiCharSS(text, rec.Text);
    return Leading(rec, ssize);
}

TBytes BuildSendTextFrame(tSendTextFrame& rec, int window, const tWindowTextFrame& entry)
{
    // The size follows the text actually sent, the stored one.
    const std::u16string stored = FromWindows1250(entry.Text);
    const std::u16string_view text = Cut(stored);
    const std::size_t ssize = text.size() + 32;
    Clear(rec);
    SetHeader(rec, cmd_putTextFrame, ssize);
    rec.Frame = std::uint16_t(window);
    rec.Color = entry.Color;
    rec.ColorBack = entry.ColorBack;
    rec.Font = entry.Font;
    rec.Left = entry.Left;
    rec.Top = entry.Top;
    rec.Width = entry.Width;
    rec.Height = entry.Height;
    rec.StepHoriz = entry.StepHoriz;
    rec.StepVert = entry.StepVert;
    StringToAnsiCharSS(text, rec.Text);
    return Leading(rec, ssize);
}

TBytes BuildLogoFrame(std::uint8_t logo)
{
    // The logo's number, a spare zero byte, CR and LF behind the header.
    const char tail[] = {char(logo), 0, char(cCR), char(cLF)};
    tHeader h;
    h.Command = cmd_putLogo;
    h.Size = std::uint16_t(cHeaderSize + sizeof tail);
    TBytes frame(cHeaderSize, '\0');
    h.Encode(reinterpret_cast<std::uint8_t*>(frame.data()));
    return frame.append(tail, sizeof tail);
}
