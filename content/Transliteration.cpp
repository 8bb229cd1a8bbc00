#include "Transliteration.h"

const std::array<char16_t, 18> plchars{
    u'\u0104', u'\u0106', u'\u0118', u'\u0141', u'\u00D3', u'\u0143', u'\u015A', u'\u0179', u'\u017B',
    u'\u0105', u'\u0107', u'\u0119', u'\u0142', u'\u00F3', u'\u0144', u'\u015B', u'\u017A', u'\u017C'};
const std::array<std::uint8_t, 18> achars{0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88,
                                          0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x90, 0x91};

namespace {

std::uint8_t* Codes(std::u16string_view str, std::uint8_t* out)
{
    for (const char16_t c : str) {
        // Anything not in the table keeps its low 8 bits (Ó and ó are in it).
        std::uint8_t ac = std::uint8_t(c & 0xFF);
        for (std::size_t k = 0; k < plchars.size(); ++k)
            if (plchars[k] == c)
                ac = achars[k];
        *out++ = ac;
    }
    return out;
}

} // namespace

void StringToAnsiChar(std::u16string_view str, std::uint8_t* chars)
{
    *Codes(str, chars) = 0;
}

void StringToAnsiCharSS(std::u16string_view str, std::uint8_t* chars)
{
    std::uint8_t* p = Codes(str, chars);
    p[0] = 13;
    p[1] = 10;
    p[2] = 0;
}
