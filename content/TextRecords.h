// The display-content records as they go on the line, their builders, and the
// table of the eight text windows. Plain C++: records are laid out field after
// field with no gaps, little-endian, so a record's bytes are its wire format.
#pragma once

#include "protocol/frame.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

static_assert(std::endian::native == std::endian::little, "records are their own wire format");

// Text field of both records: 199 characters, CR, LF and the zero byte that
// is not sent fit into it and the two bytes behind it.
inline constexpr std::size_t cTextField = 200;
inline constexpr std::size_t cMaxTextLength = 199;
// A text window keeps at most this many characters.
inline constexpr std::size_t cMaxStoredText = 200;

struct tSendText {
    tHeader Header;
    std::uint32_t Color;
    std::uint32_t ColorBack;
    std::int16_t X;
    std::int16_t Y;
    std::uint16_t Font;
    std::uint8_t Text[cTextField];
    std::uint8_t CR;
    std::uint8_t LF;
};
static_assert(sizeof(tSendText) == 224);
static_assert(offsetof(tSendText, Color) == 8 && offsetof(tSendText, Text) == 22 &&
              offsetof(tSendText, LF) == 223);

struct tSendTextFrame {
    tHeader Header;
    std::uint32_t Color;
    std::uint32_t ColorBack;
    std::uint16_t Frame;
    std::uint16_t Font;
    std::int16_t Left;
    std::int16_t Top;
    std::int16_t Width;
    std::int16_t Height;
    std::int8_t StepHoriz;
    std::int8_t StepVert;
    std::uint8_t Text[cTextField];
    std::uint8_t CR;
    std::uint8_t LF;
};
static_assert(sizeof(tSendTextFrame) == 232);
static_assert(offsetof(tSendTextFrame, Frame) == 16 && offsetof(tSendTextFrame, Text) == 30 &&
              offsetof(tSendTextFrame, LF) == 231);

// One text window's settings; Text in Windows-1250, at most 200 characters.
struct tWindowTextFrame {
    std::uint32_t Color = 0;
    std::uint32_t ColorBack = 0;
    std::uint16_t Font = 0;
    std::int16_t Left = 0;
    std::int16_t Top = 0;
    std::int16_t Width = 0;
    std::int16_t Height = 0;
    std::int8_t StepHoriz = 0;
    std::int8_t StepVert = 0;
    std::string Text;
};

// Entries -1..7: 0..7 are the windows "1".."8", -1 the spare entry that a
// selector without a selected entry lands in.
class TWindowTextFrames {
public:
    static constexpr int cFirst = -1;
    static constexpr int cLast = 7;
    // Any index outside -1..7 lands in the spare entry too.
    tWindowTextFrame& operator[](int k) { return entries_[Slot(k)]; }
    const tWindowTextFrame& operator[](int k) const { return entries_[Slot(k)]; }
    // Entries 0..7 to their start values; the spare entry stays as it is.
    void SetDefaults();

private:
    static std::size_t Slot(int k) { return (k < 0 || k > cLast) ? 0 : std::size_t(k + 1); }
    std::array<tWindowTextFrame, 9> entries_{};
};

// The static text's settings as the page shows them.
struct tStaticText {
    std::uint32_t Color = 1;
    std::uint32_t ColorBack = 0;
    std::int32_t X = 0;
    std::int32_t Y = 0;
    std::int32_t Font = 0;
    std::u16string_view Text;
};

// Each builder fills its record afresh (ChSum 0) and returns the bytes that go
// on the line. Texts longer than 199 code units are cut there.
TBytes BuildSendText(tSendText& rec, const tStaticText& s);
// `window` is the selector's position; -1 sends the spare entry's settings
// with Frame 65535.
TBytes BuildSendTextFrame(tSendTextFrame& rec, int window, const tWindowTextFrame& entry);
// The fixed 12-byte logo frame.
TBytes BuildLogoFrame(std::uint8_t logo);
