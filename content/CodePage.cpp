#include "CodePage.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

// Both directions from one pass over the 256 byte values. Bytes the code
// page leaves undefined decode as U+FFFD and are never produced.
struct TTables {
    std::array<char16_t, 256> toUnicode{};
    std::vector<std::pair<char16_t, char>> fromUnicode; // sorted by code unit

    TTables()
    {
        iconv_t cd = iconv_open("UTF-16LE", "WINDOWS-1250");
        if (cd == iconv_t(-1))
            throw std::runtime_error("iconv: no WINDOWS-1250");
        for (int b = 0; b < 256; ++b) {
            char in = char(b);
            unsigned char out[4] = {};
            char* pin = &in;
            char* pout = reinterpret_cast<char*>(out);
            std::size_t nin = 1, nout = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            const bool ok = iconv(cd, &pin, &nin, &pout, &nout) != std::size_t(-1) && nout == 2;
            const char16_t u = ok ? char16_t(out[0] | (out[1] << 8)) : u'\uFFFD';
            toUnicode[std::size_t(b)] = u;
            if (ok)
                fromUnicode.emplace_back(u, in);
        }
        iconv_close(cd);
        std::sort(fromUnicode.begin(), fromUnicode.end());
    }
};

const TTables& Tables()
{
    static const TTables tables;
    return tables;
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

} // namespace

std::string ToWindows1250(std::u16string_view text, std::size_t maxChars)
{
    const auto& map = Tables().fromUnicode;
    std::string out;
    for (std::size_t i = 0; i < text.size() && out.size() < maxChars; ++i) {
        const char16_t c = text[i];
        if (IsHigh(c) && i + 1 < text.size() && IsLow(text[i + 1])) {
            ++i; // one character outside the BMP: one "?"
            out += '?';
            continue;
        }
        const auto it = std::lower_bound(map.begin(), map.end(), std::make_pair(c, char(0)),
                                         [](const auto& a, const auto& b) { return a.first < b.first; });
        out += (it != map.end() && it->first == c) ? it->second : '?';
    }
    return out;
}

std::u16string FromWindows1250(std::string_view bytes)
{
    const auto& table = Tables().toUnicode;
    std::u16string out;
    out.reserve(bytes.size());
    for (const char b : bytes)
        out += table[std::uint8_t(b)];
    return out;
}

std::string Windows1250ToUtf8(std::string_view bytes)
{
    std::string out;
    // Every character of the code page lies in the BMP: at most three bytes.
    for (const char16_t c : FromWindows1250(bytes)) {
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}
