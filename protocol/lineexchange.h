// Command and answer over a line, without a window: send a frame, wait for the
// answer of its code, resend; and the page transfer of an update, one page in
// flight, each confirmed before the next. Plain C++, no Qt: the line is an
// interface that the terminal program implements over the serial port and
// tests implement over a pseudo-terminal.
#pragma once

#include "flashpage.h"
#include "frame.h"
#include "receiver.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class ILine {
public:
    virtual ~ILine() = default;
    // Writes all bytes; raises an error when the line fails.
    virtual void Write(std::string_view bytes) = 0;
    // Appends what arrives to `out`, waiting up to `timeoutMs` for the first
    // byte; returns the number appended (0: nothing came in time). Raises an
    // error when the line is gone.
    virtual std::size_t Read(std::string& out, int timeoutMs) = 0;
};

// What the exchange reports while it runs. Every member has a quiet default.
class IExchangeObserver {
public:
    virtual ~IExchangeObserver() = default;
    // A frame sent or received, as the window's log writes it.
    virtual void LogLine(const std::string& /*line*/) {}
    // No answer to `code` (for a page: to page `page`, else -1); `attempt` is
    // the resend about to go out, 1 for the first.
    virtual void Retry(std::uint8_t /*code*/, int /*page*/, int /*attempt*/) {}
    virtual void PageConfirmed(int /*page*/) {}
    // The controller answered `response` (Wrong or Repeat) for page `page`
    // (-1: a command); a page is then resent at once while tries are left.
    virtual void Refusal(std::uint8_t /*response*/, int /*page*/) {}
};

// Refused: the controller answered Wrong or Repeat (for a page, at its last try).
enum class TExchangeResult { Answered, NoAnswer, Interrupted, Refused };

// The words for a refusing answer: "the controller answered Wrong (2) for
// page 30"; `page` -1 for a command.
std::string RefusedText(std::uint8_t response, int page = -1);

// One page of a transfer: its flash address and its 256 bytes.
struct TPageRef {
    std::uint32_t address = 0;
    const std::uint8_t* data = nullptr;
};

class TLineExchange : private IReceiverHost {
public:
    TLineExchange(ILine& line, IExchangeObserver& observer);

    // The window's wait: 100 ticks of its 12 ms timer.
    int AnswerWaitMs = 1200;
    // Resends after the first try before giving up.
    int Retries = 3;
    // Pause after each page confirmation, for a controller that needs one.
    int PageGapMs = 0;
    // Set from outside (a signal handler): a transfer stops after the page on
    // the line, a command before its next try.
    const std::atomic<bool>* StopFlag = nullptr;

    // Seals `frame` and sends it until a good answer with its code comes, up
    // to 1 + `retries` tries (-1: Retries). An echo of the frame is no answer;
    // an answer with Response Wrong or Repeat ends it at once as Refused.
    TExchangeResult Command(TBytes frame, int retries = -1);
    // The answer taken last, as received.
    const std::string& Answer() const { return answer_; }
    // The Response byte of the answer that refused.
    std::uint8_t LastResponse() const { return lastResponse_; }

    // Sends pages first..last in order, each only after the one before it is
    // confirmed. What a command-11 frame means is ClassifyPageAnswer's to say:
    // only a confirmation of the page on the line counts; a refusal resends
    // the page at once, as a try; anything else is ignored and the page is
    // resent when its wait runs out. NextPage() is then the first page not
    // confirmed (last + 1 when all were).
    TExchangeResult Transfer(int first, int last, const std::function<TPageRef(int page)>& page);
    int NextPage() const { return nextPage_; }

private:
    enum class TAttempt { Answered, Refused, NoAnswer };
    // Sends `frame` once and waits for an answer of `code`.
    TAttempt Attempt(const TBytes& frame, std::uint8_t code);
    // Hands the receiver whole frames from what has arrived. A frame is whole
    // once its Size bytes are in and end in CR LF, so a CR LF inside it does
    // not cut it; this takes the place of the window's pause at a start byte.
    // With `flush` whatever is left goes in too (the wait is over).
    void Feed(bool flush);
    bool Stopping() const { return StopFlag && StopFlag->load(); }
    void Answered(std::uint8_t code);

    void LogLine(const std::string& line) override { observer_.LogLine(line); }
    void PauseMs(int) override {}
    void fcmd_TestConnect() override { Answered(cmd_TestConnect); }
    void fcmd_Restart() override { Answered(cmd_Restart); }
    void fcmd_UpgreadeCPU() override { Answered(cmd_UpgreadeCPU); }
    void fcmd_FillScreen() override { Answered(cmd_FillScreen); }
    void fcmd_getJasnosc() override { Answered(cmd_getJasnosc); }
    void fcmd_setJasnosc() override { Answered(cmd_setJasnosc); }
    void fcmd_putText() override { Answered(cmd_putText); }
    void fcmd_putTextFrame() override { Answered(cmd_putTextFrame); }
    void fcmd_Set9600() override { Answered(cmd_Set9600); }
    void fcmd_Set115200() override { Answered(cmd_Set115200); }
    void fcmd_ProgramFlashPage() override { Answered(cmd_ProgramFlashPage); }
    void fcmd_putLogo() override { Answered(cmd_putLogo); }
    void fcmd_GetVersion() override { Answered(cmd_GetVersion); }

    ILine& line_;
    IExchangeObserver& observer_;
    TFrameReceiver receiver_;
    std::string pending_;   // arrived, not yet handed to the receiver
    std::uint8_t awaited_ = 0;
    TTransferPages pages_;
    bool answered_ = false;
    bool refused_ = false;
    std::uint8_t lastResponse_ = 0;
    std::string answer_;
    int nextPage_ = 0;
};
