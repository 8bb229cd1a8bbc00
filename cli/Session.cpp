#include "Session.h"

#include "protocol/exchange.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

const char* const cNoAnswer = "Brak potwierdzenia odebrania komendy do Quorvantela";

TSession::TSession(const TRunContext& c) : o(c.o), out(c.out), line(c.o.port), ex(line, *this), context_(c)
{
    ex.Retries = o.retries;
    ex.StopFlag = &c.stop;
}

void TSession::PageConfirmed(int page)
{
    out.PageConfirmed(page);
    using TClock = std::chrono::steady_clock;
    const auto end = TClock::now() + std::chrono::milliseconds(o.pageGapMs);
    // In steps short enough that a stop is seen at once.
    while (!Stopping() && TClock::now() < end)
        std::this_thread::sleep_for(std::min<TClock::duration>(end - TClock::now(), std::chrono::milliseconds(5)));
}

int TSession::StopCode() const
{
    const int signal = context_.signal.load();
    return exitSignalBase + (signal > 0 ? signal : SIGINT);
}

int TSession::Fail(TExchangeResult r)
{
    if (r == TExchangeResult::Interrupted) {
        out.Error("interrupted", StopCode());
        return StopCode();
    }
    out.Error(cNoAnswer, exitNoAnswer);
    return exitNoAnswer;
}

TExchangeResult TSession::SwitchSpeed(int to, int retries)
{
    const int from = line.Speed();
    const TExchangeResult r = ex.Command(BuildCommandFrame(to == 115200 ? cmd_Set115200 : cmd_Set9600), retries);
    if (r == TExchangeResult::Answered) {
        line.SetSpeed(to);
        return r;
    }
    if (r == TExchangeResult::Interrupted)
        return r;
    // The controller may have switched with its answer lost: ask it at the new speed.
    line.SetSpeed(to);
    if (ex.Command(BuildCommandFrame(cmd_TestConnect), 0) == TExchangeResult::Answered)
        return TExchangeResult::Answered;
    line.SetSpeed(from);
    return r;
}

int TSession::Ask(const TBytes& frame,
                  const std::function<std::string(const std::uint8_t* answer, std::size_t n)>& result)
{
    line.Open(o.speed);
    const TExchangeResult r = ex.Command(frame);
    if (r != TExchangeResult::Answered)
        return Fail(r);
    const auto* a = reinterpret_cast<const std::uint8_t*>(ex.Answer().data());
    out.Result(result(a, std::min(ex.Answer().size(), cAnswerSize)));
    return exitDone;
}

int TSession::Speed(int to)
{
    line.Open(o.speed);
    const TExchangeResult r = SwitchSpeed(to);
    if (r != TExchangeResult::Answered)
        return Fail(r);
    out.Result(std::to_string(to));
    return exitDone;
}
