// One run of a command against the controller: its line, its exchange, and
// what the exchange reports going to the output.
#pragma once

#include "CommandTable.h"
#include "Output.h"
#include "PortLine.h"

#include <functional>
#include <string>

// Usage errors found once the command's own values are read.
struct EUsage {
    std::string text;
};

// The window's message for a command left unanswered.
extern const char* const cNoAnswer;

class TSession : private IExchangeObserver {
public:
    explicit TSession(const TRunContext& c);

    // Sends `frame` (its values checked before) and prints what `result`
    // makes of the answer.
    int Ask(const TBytes& frame, const std::function<std::string(const std::uint8_t* answer, std::size_t n)>& result);
    // The `speed` command.
    int Speed(int to);
    // Controller and line to `to`; the line follows once the controller has answered.
    TExchangeResult SwitchSpeed(int to, int retries = -1);
    // The failure of a command: its message and exit code.
    int Fail(TExchangeResult r);
    // The exit code of a stop by a signal: 128 + its number.
    int StopCode() const;
    bool Stopping() const { return context_.stop.load(); }

    const TOptions& o;
    TOutput& out;
    TPortLine line;
    TLineExchange ex;

private:
    void LogLine(const std::string& text) override { out.LogLine(text); }
    void Retry(std::uint8_t code, int page, int attempt) override { out.Retry(code, page, attempt); }
    // The page gap is waited here, so that a stop ends it at once.
    void PageConfirmed(int page) override;

    const TRunContext& context_;
};
