// Text rules of the operator log's view, kept once for all its files: what
// breaks a line, the one walk over UTF-8 text, words, and the search's
// case-insensitive match over the stored UTF-8.
#pragma once

#include <QString>

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

namespace logtext {

// The characters that start another line of the log.
constexpr bool IsLineBreak(char32_t c)
{
    return c == U'\n' || c == U'\r' || c == 0x2028 || c == 0x2029;
}

// The code point that begins at byte `at` of `s` and its length in bytes;
// length 0 where the text is not well-formed UTF-8 there.
inline std::size_t DecodeAt(std::string_view s, std::size_t at, char32_t& cp)
{
    const auto b = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned lead = b(at);
    std::size_t len;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if (lead >= 0xC2 && lead < 0xE0) {
        len = 2, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        len = 3, cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead < 0xF5) {
        len = 4, cp = lead & 0x07;
    } else {
        return 0;
    }
    if (at + len > s.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((b(at + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(at + k) & 0x3F);
    }
    // Overlong forms, surrogates and code points past the last.
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp < 0xE000))
        return 0;
    return len;
}

// Calls f(code point, byte where it starts) for each code point until f
// returns false. False when the walk met text that is not well-formed.
template <class F>
bool Walk(std::string_view s, F&& f)
{
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp;
        const std::size_t len = DecodeAt(s, i, cp);
        if (len == 0)
            return false;
        if (!f(cp, i))
            return true;
        i += len;
    }
    return true;
}

constexpr qsizetype Utf16Width(char32_t c) { return c >= 0x10000 ? 2 : 1; }

// Bytes of well-formed UTF-8 text that hold its first `units` UTF-16 units.
std::size_t Utf8Offset(std::string_view s, qsizetype units);
// UTF-16 units of the first `bytes` bytes of well-formed UTF-8 text.
qsizetype Utf16Units(std::string_view s, std::size_t bytes);

// The word holding the character at `column` of `line`, as Qt's text
// widgets pick it on a double-click: [start, end).
std::pair<qsizetype, qsizetype> WordAt(const QString& line, qsizetype column);

// A search text matched without regard to case against UTF-8 lines.
class TMatcher {
public:
    explicit TMatcher(const QString& needle);
    bool Empty() const { return folded_.empty(); }
    // Byte of the first match starting at or after byte `from`, or npos.
    std::size_t First(std::string_view line, std::size_t from = 0) const;
    // Byte of the last match starting before byte `before`, or npos.
    std::size_t Last(std::string_view line, std::size_t before) const;
    // Bytes of the match that starts at byte `at`.
    std::size_t Length(std::string_view line, std::size_t at) const;

private:
    bool MatchesAt(std::string_view line, std::size_t at, std::size_t* end) const;

    std::vector<char32_t> folded_;
    // Where only ASCII can begin a match: its one or two bytes (either case).
    bool ascii_ = false;
    char first_[2] = {};
    bool firstByte_[256] = {};
};

} // namespace logtext
