// What quorvantel-cli tells its user: results on standard output, messages and
// progress on standard error, JSON events, and the frame log file.
#pragma once

#include "protocol/lineexchange.h"

#include <chrono>
#include <cstdio>
#include <string>

// A text as a JSON string, quotes included.
std::string JsonString(const std::string& s);

class TOutput : public IExchangeObserver {
public:
    TOutput(std::string command, bool json);
    ~TOutput() override;

    // "" no log, "-" standard error; false when the file cannot be opened.
    bool OpenLog(const std::string& path, std::string& error);

    // A result line on standard output (a JSON "done" event with --json).
    void Result(const std::string& text);
    // A failure on standard error (a JSON "error" event with --json).
    void Error(const std::string& text, int exitCode);
    // A note on standard error that ends nothing (JSON: left out).
    void Note(const std::string& text);

    // A transfer of `pages` pages begins; `first` is its first page.
    void Start(int first, int pages);
    // The transfer has ended: the progress line is closed.
    void EndProgress();

    void LogLine(const std::string& line) override;
    void Retry(std::uint8_t code, int page, int attempt) override;
    void PageConfirmed(int page) override;

    // One JSON event line, every key present.
    static std::string JsonEvent(const std::string& event, const std::string& command, int page,
                                 int pages, int confirmed, int attempt, int exitCode,
                                 const std::string& message);

private:
    void Json(const std::string& event, int page, int attempt, int exitCode, const std::string& message);
    void Progress(bool last);

    std::string command_;
    bool json_;
    bool tty_;
    std::FILE* log_ = nullptr;
    bool ownLog_ = false;
    int first_ = 0, pages_ = 0, confirmed_ = 0;
    int lastShownTenth_ = -1;
    bool progressOpen_ = false;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastDrawn_;
};
