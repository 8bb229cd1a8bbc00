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

std::string RefusedText(std::uint8_t response, int page)
{
    std::string text = "the controller answered ";
    if (response == rec_ResponseWrong)
        text += "Wrong (2)";
    else if (response == rec_ResponseRepeat)
        text += "Repeat (3)";
    else
        text += std::to_string(response);
    if (page >= 0)
        text += " for page " + std::to_string(page);
    return text;
}

void TLineExchange::Answered(std::uint8_t code)
{
    if (answered_ || code != awaited_)
        return;
    // An echo of the frame sent never gets here: the receiver drops it.
    const auto size = std::size_t(receiver_.myComSize);
    if (code == cmd_ProgramFlashPage) {
        tProgramFlashPageConfirm confirm;
        const TPageAnswer a = ClassifyPageAnswer(confirm, receiver_.myCom, receiver_.myComSize, pages_);
        // Only the page on the line; a late or early one waits for the resend.
        if (a == TPageAnswer::Refused) {
            refused_ = true;
            lastResponse_ = confirm.Response();
            observer_.Refusal(lastResponse_, pages_.onLine);
        } else if (a != TPageAnswer::OnLine) {
            return;
        }
    } else if (size > cOffResponse && IsRefusal(receiver_.myCom[cOffResponse])) {
        refused_ = true;
        lastResponse_ = receiver_.myCom[cOffResponse];
        observer_.Refusal(lastResponse_, -1);
    }
    answered_ = true;
    answer_.assign(reinterpret_cast<const char*>(receiver_.myCom), size);
}

namespace {
// Where the frame at the start of `b` ends: by its Size when that can be a
// frame's and its last two bytes are CR LF, else at the first CR LF. 0: its
// bytes are not all in yet; npos (only with `flush`): no end at all.
std::size_t FrameEnd(std::string_view b, bool flush)
{
    if (b.size() >= cOffChSum) {
        const std::size_t size = GetLE16(reinterpret_cast<const std::uint8_t*>(b.data()) + cOffSize);
        if (size >= cMinFrame && size <= cMaxFrame) {
            if (b.size() >= size) {
                if (b[size - 2] == char(cCR) && b[size - 1] == char(cLF))
                    return size;
            } else if (!flush) {
                return 0; // the rest is on its way
            }
        }
    } else if (!flush) {
        return 0;
    }
    // No Size to go by: the first CR LF ends it, as the receiver would.
    const std::size_t crlf = b.find("\r\n", 1);
    if (crlf == std::string_view::npos)
        return flush ? std::string_view::npos : 0;
    return crlf + 2;
}
} // namespace

void TLineExchange::Feed(bool flush)
{
    for (;;) {
        const std::size_t start = pending_.find(char(cBusStart));
        if (start == std::string::npos) {
            pending_.clear(); // bytes outside any frame: the receiver would ignore them
            return;
        }
        pending_.erase(0, start);
        const std::size_t end = FrameEnd(pending_, flush);
        if (end == 0)
            return;
        if (end == std::string::npos) {
            pending_.clear(); // half a frame when the wait is over
            return;
        }
        const std::string_view frame = std::string_view(pending_).substr(0, end);
        if (!VerifyFrame(frame)) {
            // A noise byte 27 in front of an answer makes one bad frame of
            // both: a later start byte that begins a good frame is the answer.
            bool later = false;
            for (std::size_t s = pending_.find(char(cBusStart), 1); s < end; s = pending_.find(char(cBusStart), s + 1)) {
                const std::string_view rest = std::string_view(pending_).substr(s);
                const std::size_t e = FrameEnd(rest, flush);
                if (e == 0)
                    return; // that one is not all in yet
                if (e != std::string_view::npos && VerifyFrame(rest.substr(0, e))) {
                    pending_.erase(0, s);
                    later = true;
                    break;
                }
            }
            if (later)
                continue;
        }
        receiver_.ProcessChunk(frame);
        pending_.erase(0, end);
    }
}

TLineExchange::TAttempt TLineExchange::Attempt(const TBytes& frame, std::uint8_t code)
{
    // Whatever is left of earlier answers is no answer to this frame.
    pending_.clear();
    receiver_.Reset();
    answered_ = false;
    refused_ = false;
    awaited_ = code;
    receiver_.NoteSent(frame);

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
    if (!answered_)
        return TAttempt::NoAnswer;
    return refused_ ? TAttempt::Refused : TAttempt::Answered;
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
        switch (Attempt(frame, code)) {
        case TAttempt::Answered:
            return TExchangeResult::Answered;
        case TAttempt::Refused:
            return TExchangeResult::Refused; // the controller has said no; asking again changes nothing
        case TAttempt::NoAnswer:
            break;
        }
    }
    return TExchangeResult::NoAnswer;
}

TExchangeResult TLineExchange::Transfer(int first, int last, const std::function<TPageRef(int)>& page)
{
    nextPage_ = first;
    tProgramFlashPage frame;
    struct TEnd {
        TTransferPages& pages;
        ~TEnd() { pages = {}; } // no transfer: every confirmation is outside
    } end{pages_};
    for (int k = first; k <= last; ++k) {
        if (Stopping())
            return TExchangeResult::Interrupted;
        pages_ = {first, last, k};
        const TPageRef ref = page(k);
        frame.Build(ref.address, ref.data);
        const TBytes bytes(frame.Bytes());
        TAttempt a = TAttempt::NoAnswer;
        for (int t = 0; t <= Retries && a != TAttempt::Answered; ++t) {
            if (t > 0) {
                if (Stopping())
                    return TExchangeResult::Interrupted;
                observer_.Retry(cmd_ProgramFlashPage, k, t);
            }
            // A refusal ends its try at once, so the resend goes out at once.
            a = Attempt(bytes, cmd_ProgramFlashPage);
        }
        if (a == TAttempt::Refused)
            return TExchangeResult::Refused;
        if (a != TAttempt::Answered)
            return TExchangeResult::NoAnswer;
        nextPage_ = k + 1;
        observer_.PageConfirmed(k);
        if (PageGapMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(PageGapMs));
    }
    return TExchangeResult::Answered;
}
