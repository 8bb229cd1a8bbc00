#include "lineexchange.h"

#include "flashpage.h"

#include <chrono>
#include <thread>

namespace {
using TClock = std::chrono::steady_clock;
// Sizes a frame of the protocol can have within the receiver's ring.
constexpr std::size_t cMinFrame = 10;
constexpr std::size_t cMaxFrame = cRingSize;
} // namespace

TLineExchange::TLineExchange(ILine& line, IExchangeObserver& observer)
    : line_(line), observer_(observer), receiver_(*this)
{
    // Nothing to wait for: Feed hands over whole frames only.
    receiver_.StartPauseMs = 0;
}

void TLineExchange::Answered(std::uint8_t code)
{
    if (answered_ || code != awaited_)
        return;
    // An echo of the frame sent never gets here: the receiver drops it.
    const auto size = std::size_t(receiver_.myComSize);
    if (code == cmd_ProgramFlashPage) {
        if (size != tProgramFlashPageConfirm::cSize)
            return;
        tProgramFlashPageConfirm confirm;
        confirm.Take(receiver_.myCom, receiver_.myComSize);
        // Only the page on the line; a late or early one waits for the resend.
        if ((confirm.address() >> 8) != (pageAddress_ >> 8))
            return;
    }
    answered_ = true;
    answer_.assign(reinterpret_cast<const char*>(receiver_.myCom), size);
}

void TLineExchange::Feed(bool flush)
{
    for (;;) {
        const std::size_t start = pending_.find(char(cBusStart));
        if (start == std::string::npos) {
            pending_.clear(); // bytes outside any frame: the receiver would ignore them
            return;
        }
        pending_.erase(0, start);
        std::size_t end = std::string::npos;
        if (pending_.size() >= cOffChSum) {
            const std::size_t size = GetLE16(reinterpret_cast<const std::uint8_t*>(pending_.data()) + cOffSize);
            if (size >= cMinFrame && size <= cMaxFrame) {
                if (pending_.size() >= size) {
                    if (pending_[size - 2] == char(cCR) && pending_[size - 1] == char(cLF))
                        end = size;
                } else if (!flush) {
                    return; // the rest is on its way
                }
            }
        } else if (!flush) {
            return;
        }
        if (end == std::string::npos) {
            // No Size to go by: the first CR LF ends it, as the receiver would.
            const std::size_t crlf = pending_.find("\r\n", 1);
            if (crlf == std::string::npos) {
                if (flush)
                    pending_.clear(); // half a frame when the wait is over
                return;
            }
            end = crlf + 2;
        }
        receiver_.ProcessChunk(std::string_view(pending_).substr(0, end));
        pending_.erase(0, end);
    }
}

bool TLineExchange::Attempt(const TBytes& frame, std::uint8_t code, std::uint32_t pageAddress)
{
    // Whatever is left of earlier answers is no answer to this frame.
    pending_.clear();
    receiver_.Reset();
    answered_ = false;
    awaited_ = code;
    receiver_.NoteSent(frame);
    pageAddress_ = pageAddress;

    line_.Write(frame);
    observer_.LogLine(SentFrameLogLine(frame));

    const auto deadline = TClock::now() + std::chrono::milliseconds(AnswerWaitMs);
    while (!answered_) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
        if (left <= 0) {
            Feed(true);
            break;
        }
        if (line_.Read(pending_, int(left)) > 0)
            Feed(false);
    }
    awaited_ = 0;
    return answered_;
}

TExchangeResult TLineExchange::Command(TBytes frame, int retries)
{
    SealFrame(frame);
    const auto code = std::uint8_t(frame.size() > cOffCommand ? frame[cOffCommand] : 0);
    const int tries = 1 + (retries < 0 ? Retries : retries);
    for (int t = 0; t < tries; ++t) {
        if (Stopping())
            return TExchangeResult::Interrupted;
        if (t > 0)
            observer_.Retry(code, -1, t);
        if (Attempt(frame, code, 0))
            return TExchangeResult::Answered;
    }
    return TExchangeResult::NoAnswer;
}

TExchangeResult TLineExchange::Transfer(int first, int last, const std::function<TPageRef(int)>& page)
{
    nextPage_ = first;
    tProgramFlashPage frame;
    for (int k = first; k <= last; ++k) {
        if (Stopping())
            return TExchangeResult::Interrupted;
        const TPageRef ref = page(k);
        frame.Build(ref.address, ref.data);
        const TBytes bytes(frame.Bytes());
        bool confirmed = false;
        for (int t = 0; t <= Retries && !confirmed; ++t) {
            if (t > 0) {
                if (Stopping())
                    return TExchangeResult::Interrupted;
                observer_.Retry(cmd_ProgramFlashPage, k, t);
            }
            confirmed = Attempt(bytes, cmd_ProgramFlashPage, ref.address);
        }
        if (!confirmed)
            return TExchangeResult::NoAnswer;
        nextPage_ = k + 1;
        observer_.PageConfirmed(k);
        if (PageGapMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(PageGapMs));
    }
    return TExchangeResult::Answered;
}
