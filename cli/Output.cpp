#include "Output.h"

#include "protocol/logtime.h"
#include "Report.h"
#include "Station.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unistd.h>

namespace {

// Bytes of a whole UTF-8 character at `s[i]`, 0 for none (a byte that
// begins none, a cut or overlong sequence, a surrogate, beyond U+10FFFF).
std::size_t Utf8Length(const std::string& s, std::size_t i)
{
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    const std::size_t n = c < 0x80 ? 1 : c >= 0xC2 && c < 0xE0 ? 2 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xF0 && c < 0xF5 ? 4 : 0;
    if (n == 0 || i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
    if ((c == 0xE0 && b(i + 1) < 0xA0) || (c == 0xED && b(i + 1) >= 0xA0) || (c == 0xF0 && b(i + 1) < 0x90) ||
        (c == 0xF4 && b(i + 1) >= 0x90))
        return 0;
    return n;
}

} // namespace

std::string JsonString(const std::string& s)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        const auto u = static_cast<unsigned char>(c);
        if (const std::size_t n = Utf8Length(s, i); n > 1) {
            out.append(s, i, n);
            i += n - 1;
        } else if (n == 0) {
            out += "\\ufffd"; // not UTF-8: the replacement character
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

namespace {

std::string Clock(double seconds)
{
    const long s = seconds < 0 ? 0 : long(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

} // namespace

TOutput::TOutput(std::string command, bool json)
    : command_(std::move(command)), json_(json), tty_(isatty(STDERR_FILENO) == 1)
{
}

TOutput::~TOutput()
{
    if (ownLog_)
        std::fclose(log_);
}

void TOutput::SetStation(TConsole& console, int slot, const std::string& port)
{
    console_ = &console;
    slot_ = slot;
    port_ = port;
    tty_ = console.Tty();
}

void TOutput::Emit(std::FILE* stream, const std::string& text)
{
    const std::string line = console_ ? port_ + ": " + text : text;
    if (console_) {
        console_->Line(stream, line);
        return;
    }
    std::fprintf(stream, "%s\n", line.c_str());
    std::fflush(stream);
}

bool TOutput::OpenLog(const std::string& path, std::string& error)
{
    if (path.empty())
        return true;
    if (path == "-") {
        log_ = stderr;
        return true;
    }
    log_ = std::fopen(path.c_str(), "a");
    if (!log_) {
        error = "cannot open the log file " + path + ": " + std::strerror(errno);
        return false;
    }
    logName_ = path;
    ownLog_ = true;
    return true;
}

std::string TOutput::JsonEvent(const std::string& event, const std::string& command, int page, int pages,
                               int confirmed, int attempt, int exitCode, const std::string& message,
                               const TJsonKeys& more)
{
    std::string line = "{\"event\":" + JsonString(event) + ",\"command\":" + JsonString(command) +
                       ",\"page\":" + std::to_string(page) + ",\"pages\":" + std::to_string(pages) +
                       ",\"confirmed\":" + std::to_string(confirmed) + ",\"attempt\":" + std::to_string(attempt) +
                       ",\"exit\":" + std::to_string(exitCode) + ",\"message\":" + JsonString(message);
    for (const auto& [key, value] : more)
        line += "," + JsonString(key) + ":" + JsonString(value);
    return line + "}";
}

void TOutput::Json(const std::string& event, int page, int attempt, int exitCode, const std::string& message,
                   const TJsonKeys& more)
{
    std::string line = JsonEvent(event, command_, page, pages_, confirmed_, attempt, exitCode, message, more);
    if (console_) {
        line.pop_back();
        line += ",\"port\":" + JsonString(port_) + ",\"time\":" +
                JsonString(IsoTime(std::chrono::system_clock::now())) + "}";
        console_->Line(stdout, line);
        return;
    }
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

void TOutput::Result(const std::string& text)
{
    EndProgress();
    lastMessage_ = text;
    if (json_)
        Json("done", -1, 0, 0, text);
    else if (!text.empty())
        Emit(stdout, text);
    std::fflush(stdout);
}

void TOutput::Port(const std::string& line, const TJsonKeys& keys)
{
    if (json_)
        Json("port", -1, 0, -1, "", keys);
    else
        std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

void TOutput::Error(const std::string& text, int exitCode)
{
    EndProgress();
    lastMessage_ = text;
    if (json_)
        Json("error", -1, 0, exitCode, text);
    if (console_)
        Emit(stderr, text);
    else
        std::fprintf(stderr, "quorvantel-cli: %s\n", text.c_str());
}

void TOutput::Note(const std::string& text)
{
    EndProgress();
    Emit(stderr, text);
}

void TOutput::Start(int first, int pages)
{
    first_ = first;
    pages_ = pages;
    confirmed_ = 0;
    lastShownTenth_ = 0;
    started_ = lastDrawn_ = std::chrono::steady_clock::now();
    if (json_)
        Json("start", first, 0, -1, "");
}

void TOutput::EndProgress()
{
    // A port's progress line stays where it is, among the others.
    if (progressOpen_ && !console_) {
        std::fputc('\n', stderr);
        progressOpen_ = false;
    }
}

void TOutput::LogLine(const std::string& line)
{
    if (!log_)
        return;
    if (log_ == stderr) {
        EndProgress();
        Emit(stderr, line);
        return;
    }
    // Several ports in one log: each line says whose it is.
    std::string text; // each line after its date and time, as a saved window log
    AppendLogFileLine(text, LogNowMs(), console_ ? port_ + ": " + line : line);
    if (std::fwrite(text.data(), 1, text.size(), log_) == text.size() && std::fflush(log_) == 0)
        return;
    // A full disk ends the log, not the update.
    const std::string reason = std::strerror(errno);
    if (ownLog_)
        std::fclose(log_);
    log_ = nullptr;
    ownLog_ = false;
    Note("quorvantel-cli: the log file " + logName_ + " cannot be written any more (" + reason +
         "); the rest is not logged");
}

void TOutput::Retry(std::uint8_t code, int page, int attempt) { Resend(code, page, attempt, "no answer"); }

void TOutput::Resend(std::uint8_t code, int page, int attempt, const std::string& why)
{
    const std::string what = page >= 0 ? "page " + std::to_string(page) : "command " + std::to_string(code);
    const std::string text = why + ", " + what + " sent again (resend " + std::to_string(attempt) + ")";
    ++resends_;
    if (json_)
        Json("retry", page, attempt, -1, text);
    else
        Note(text);
}

void TOutput::PageConfirmed(int page)
{
    ++confirmed_;
    const bool last = confirmed_ == pages_;
    if (json_) {
        if (confirmed_ % 64 == 0 || last)
            Json("page", page, 0, -1, "");
        return;
    }
    Progress(last);
}

void TOutput::Progress(bool last)
{
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const double rate = elapsed > 0 ? confirmed_ / elapsed : 0.0;
    const int percent = pages_ > 0 ? int(std::int64_t(confirmed_) * 100 / pages_) : 100;
    const double left = rate > 0 ? (pages_ - confirmed_) / rate : 0.0;
    char text[160];
    std::snprintf(text, sizeof text, "pages %d/%d  %3d%%  %.1f pages/s  %s left", confirmed_, pages_, percent,
                  rate, Clock(left).c_str());
    if (tty_) {
        // Redrawn in place, at most ten times a second.
        if (!last && now - lastDrawn_ < std::chrono::milliseconds(100))
            return;
        lastDrawn_ = now;
        if (console_) {
            console_->Progress(slot_, port_ + ": " + text);
            return;
        }
        std::fprintf(stderr, "\r%s   ", text);
        progressOpen_ = true;
        if (last)
            EndProgress();
    } else {
        const int tenth = pages_ > 0 ? int(std::int64_t(confirmed_) * 10 / pages_) : 10;
        if (tenth == lastShownTenth_ && !last)
            return;
        lastShownTenth_ = tenth;
        if (console_) {
            Emit(stderr, text);
            return;
        }
        std::fprintf(stderr, "%s\n", text);
    }
    std::fflush(stderr);
}
