// Display texts to the controller's one-byte character codes. Plain C++.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// The 18 Polish letters (UTF-16) and their controller codes, side by side.
extern const std::array<char16_t, 18> plchars;
extern const std::array<std::uint8_t, 18> achars;

// One code per UTF-16 code unit of `str`, then a zero byte. `chars` must
// hold str.size() + 1 bytes; the size is not checked.
void StringToAnsiChar(std::u16string_view str, std::uint8_t* chars);
// The same, ending with CR, LF and a zero byte (str.size() + 3 bytes).
void StringToAnsiCharSS(std::u16string_view str, std::uint8_t* chars);
