// What quorvantel-cli tells its user: results on standard output, messages and
// progress on standard error, JSON events, and the frame log file.
#pragma once

#include "protocol/lineexchange.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// Keys an event has beyond those every event has, with string values.
using TJsonKeys = std::vector<std::pair<std::string, std::string>>;

class TConsole;

// A text as a JSON string, quotes included.
std::string JsonString(const std::string& s);

class TOutput : public IExchangeObserver {
public:
    TOutput(std::string command, bool json);
    ~TOutput() override;

    // One port of several run at once: every line is written whole through
    // the shared console and prefixed by the port; JSON events gain `port`
    // and `time`; the progress is the port's own line on a terminal.
    void SetStation(TConsole& console, int slot, const std::string& port);

    // "" no log, "-" standard error; false when the file cannot be opened,
    // with the reason. A log that cannot be written later ends, with a note.
    bool OpenLog(const std::string& path, std::string& error);

    // A result line on standard output (a JSON "done" event with --json).
    void Result(const std::string& text);
    // A failure on standard error (a JSON "error" event with --json).
    void Error(const std::string& text, int exitCode);
    // One port of the list: `line` as it is printed, or a JSON "port" event with `keys`.
    void Port(const std::string& line, const TJsonKeys& keys);
    // A note on standard error that ends nothing (JSON: left out).
    void Note(const std::string& text);

    // A transfer of `pages` pages begins; `first` is its first page.
    void Start(int first, int pages);
    // The transfer has ended: the progress line is closed.
    void EndProgress();

    void LogLine(const std::string& line) override;
    void Retry(std::uint8_t code, int page, int attempt) override;
    // A resend for `why` ("no answer", or the controller's refusal).
    void Resend(std::uint8_t code, int page, int attempt, const std::string& why);
    void PageConfirmed(int page) override;

    // What the run came to so far, for the report.
    int Confirmed() const { return confirmed_; }
    int Resends() const { return resends_; }
    // The text of the last result or failure.
    const std::string& LastMessage() const { return lastMessage_; }

    // One JSON event line, every key present.
    static std::string JsonEvent(const std::string& event, const std::string& command, int page,
                                 int pages, int confirmed, int attempt, int exitCode,
                                 const std::string& message, const TJsonKeys& more = {});

private:
    void Json(const std::string& event, int page, int attempt, int exitCode, const std::string& message,
              const TJsonKeys& more = {});
    void Progress(bool last);
    // A whole line to `stream`, through the console when there is one.
    void Emit(std::FILE* stream, const std::string& text);

    std::string command_;
    bool json_;
    bool tty_;
    std::FILE* log_ = nullptr;
    bool ownLog_ = false;
    std::string logName_ = "-";
    int first_ = 0, pages_ = 0, confirmed_ = 0, resends_ = 0;
    std::string lastMessage_;
    TConsole* console_ = nullptr;
    int slot_ = -1;
    std::string port_;
    int lastShownTenth_ = -1;
    bool progressOpen_ = false;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastDrawn_;
};
