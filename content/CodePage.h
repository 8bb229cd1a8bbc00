// The text windows keep their texts in Windows-1250, as a Polish Windows
// system does; converted with the C library's iconv. Plain C++.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Characters Windows-1250 lacks (non-BMP ones and lone surrogates included)
// become "?"; at most `maxChars` characters are kept.
std::string ToWindows1250(std::u16string_view text, std::size_t maxChars);
std::u16string FromWindows1250(std::string_view bytes);
// Windows-1250 bytes as UTF-8 (undefined bytes become U+FFFD).
std::string Windows1250ToUtf8(std::string_view bytes);
