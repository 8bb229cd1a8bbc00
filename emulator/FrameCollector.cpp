#include "FrameCollector.h"

#include "protocol/frame.h"

std::optional<std::string> TFrameCollector::Push(std::uint8_t b)
{
    if (!collecting_) {
        if (b == cBusStart) {
            collecting_ = true;
            cur_.assign(1, char(b));
        }
        return std::nullopt;
    }
    cur_.push_back(char(b));
    // CR LF may occur inside a frame (the version command's code and size are
    // 0D 0A, page data holds anything), so a CR LF closes the frame only once
    // the frame is as long as its Size field says. A Size that no frame can
    // have is not trusted: then the first CR LF after the field closes it.
    if (b == cLF && cur_.size() >= 4 && std::uint8_t(cur_[cur_.size() - 2]) == cCR) {
        const std::size_t declared =
            GetLE16(reinterpret_cast<const std::uint8_t*>(cur_.data()) + cOffSize);
        const bool plausible = declared >= cSendCommandSize && declared <= cMaxFrame;
        if (!plausible || cur_.size() >= declared)
            return Finish();
    }
    if (cur_.size() >= cMaxFrame)
        return Finish();
    return std::nullopt;
}

void TFrameCollector::Reset()
{
    cur_.clear();
    collecting_ = false;
}

std::optional<std::string> TFrameCollector::Finish()
{
    std::string frame;
    frame.swap(cur_);
    collecting_ = false;
    return frame;
}
