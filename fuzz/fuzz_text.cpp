// Display texts of any UTF-16 content and length through the transliteration
// and the static-text and text-window frame builders.
//
// Input: bytes 0-9 the settings (colours, position, font, window), the rest
// the text as little-endian UTF-16 code units.
#include "FuzzCheck.h"

#include "content/CodePage.h"
#include "content/TextRecords.h"
#include "content/Transliteration.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

void CheckTrailer(const TBytes& frame, std::size_t expected, std::uint8_t code)
{
    FUZZ_CHECK(frame.size() == expected);
    FUZZ_CHECK(std::uint8_t(frame[0]) == cBusStart && std::uint8_t(frame[1]) == code);
    FUZZ_CHECK(GetLE16(reinterpret_cast<const std::uint8_t*>(frame.data()) + 2) == expected);
    FUZZ_CHECK(frame[expected - 2] == '\r' && frame[expected - 1] == '\n');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 10)
        return 0;
    std::u16string text;
    for (std::size_t i = 10; i + 1 < size; i += 2)
        text.push_back(char16_t(data[i] | data[i + 1] << 8));

    // The transliteration writes exactly the size it is documented to.
    std::vector<std::uint8_t> chars(text.size() + 1);
    StringToAnsiChar(text, chars.data());
    FUZZ_CHECK(chars.back() == 0);
    std::vector<std::uint8_t> charsSS(text.size() + 3);
    StringToAnsiCharSS(text, charsSS.data());
    FUZZ_CHECK(charsSS[text.size()] == '\r' && charsSS[text.size() + 1] == '\n' && charsSS.back() == 0);

    tStaticText s;
    s.Color = std::uint32_t(data[0]) * 0x010101u;
    s.ColorBack = std::uint32_t(data[1]) * 0x010101u;
    s.X = std::int8_t(data[2]) * 37;
    s.Y = std::int8_t(data[3]) * 37;
    s.Font = data[4];
    s.Text = text;
    tSendText rec;
    CheckTrailer(BuildSendText(rec, s), std::min<std::size_t>(text.size(), cMaxTextLength) + 24, cmd_putText);

    tWindowTextFrame entry;
    entry.Color = s.Color;
    entry.Font = data[5];
    entry.Left = std::int16_t(data[6] << 4);
    entry.Width = std::int16_t(data[7] << 2);
    entry.StepHoriz = std::int8_t(data[8]);
    entry.Text = ToWindows1250(text, cMaxStoredText);
    FUZZ_CHECK(entry.Text.size() <= cMaxStoredText);
    const std::size_t stored = FromWindows1250(entry.Text).size();
    const int window = int(std::int8_t(data[9])) % 9;
    tSendTextFrame frameRec;
    CheckTrailer(BuildSendTextFrame(frameRec, window, entry),
                 std::min<std::size_t>(stored, cMaxTextLength) + 32, cmd_putTextFrame);

    // Stored texts come back from any bytes as well.
    const std::string raw(reinterpret_cast<const char*>(data), size);
    (void)FromWindows1250(raw);
    return 0;
}
