// Finds frames in the byte stream received from the tool, the way the
// controller does: a frame opens with byte 27 and closes with CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

class TFrameCollector {
public:
    // Longest frame kept; a frame that grows beyond it is closed as it stands.
    static constexpr std::size_t cMaxFrame = 1024;

    // Feeds one byte; returns the frame when this byte completes one.
    // Bytes outside a frame are ignored.
    std::optional<std::string> Push(std::uint8_t b);
    bool Collecting() const { return collecting_; }
    void Reset();

private:
    std::optional<std::string> Finish();

    std::string cur_;
    bool collecting_ = false;
};
