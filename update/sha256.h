// SHA-256 (FIPS 180-4), plain C++: the fingerprint of an update file that the
// resume record and the station's report carry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class TSha256 {
public:
    TSha256();
    void Update(const std::uint8_t* data, std::size_t length);
    // The digest of everything given; the object is spent afterwards.
    std::array<std::uint8_t, 32> Final();
    // The digest as 64 lower-case hexadecimal digits.
    std::string FinalHex();

private:
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 8> h_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0; // bytes given so far
};
