#include "Station.h"

#include "CommandTable.h"
#include "Commands.h"
#include "Output.h"
#include "Report.h"
#include "Update.h"
#include "serial/PortInfo.h"

#include <algorithm>
#include <optional>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {
// Columns of the terminal: a progress line longer than that would wrap, and
// the lines could no longer be redrawn in place.
std::size_t Columns()
{
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1)
        return ws.ws_col;
    return 80;
}
} // namespace

TConsole::TConsole(int slots, bool tty) : lines_(std::size_t(slots)), tty_(tty) {}

void TConsole::Erase()
{
    if (!drawn_)
        return;
    // Up to the first progress line, and everything below it cleared.
    std::fprintf(stderr, "\033[%zuA\r\033[J", lines_.size());
    drawn_ = false;
}

void TConsole::Draw()
{
    const std::size_t width = Columns() - 1;
    for (const std::string& l : lines_)
        std::fprintf(stderr, "%.*s\033[K\n", int(std::min(l.size(), width)), l.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void TConsole::Progress(int slot, const std::string& text)
{
    std::lock_guard lock(mu_);
    if (!tty_ || slot < 0 || std::size_t(slot) >= lines_.size())
        return;
    lines_[std::size_t(slot)] = text;
    Erase();
    Draw();
}

void TConsole::Line(std::FILE* stream, const std::string& text)
{
    std::lock_guard lock(mu_);
    const bool redraw = drawn_;
    Erase();
    std::fprintf(stream, "%s\n", text.c_str());
    std::fflush(stream);
    if (redraw)
        Draw();
}

void TConsole::Close()
{
    std::lock_guard lock(mu_);
    drawn_ = false;
}

int RunOnPorts(const std::vector<std::string>& ports, const std::function<int(int, const std::string&)>& one)
{
    if (ports.empty())
        return exitUsage;
    std::vector<int> codes(ports.size(), exitNoAnswer);
    std::vector<std::thread> threads;
    threads.reserve(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        threads.emplace_back([&, i] {
            try {
                codes[i] = one(int(i), ports[i]);
            } catch (...) {
                codes[i] = exitNoAnswer;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    return *std::max_element(codes.begin(), codes.end());
}

TOptions ForPort(const TOptions& o, const std::string& port)
{
    TOptions p = o;
    p.port = port;
    p.ports = {port};
    p.argv = {"--port", port};
    bool optionsEnd = false;
    for (std::size_t i = 0; i < o.argv.size(); ++i) {
        const std::string& a = o.argv[i];
        optionsEnd = optionsEnd || a == "--";
        if (!optionsEnd && a == "--port") {
            ++i;
            continue;
        }
        if (!optionsEnd && a.rfind("--port=", 0) == 0)
            continue;
        p.argv.push_back(a);
    }
    return p;
}

namespace {
std::string ResultWord(int code)
{
    switch (code) {
    case exitDone: return "done";
    case exitFileRefused: return "refused";
    default: return code > 128 ? "interrupted" : "stopped"; // 128 + a signal's number
    }
}
} // namespace

int RunStation(const TOptions& o, const std::atomic<bool>& stop, const std::atomic<int>& signal,
               const TCommandSpec& row)
{
    const bool several = o.ports.size() > 1;
    const bool update = IsUpdate(row);
    TOutput head(o.command, o.json);
    std::optional<TReport> report;
    std::string error;
    if (update && !o.report.empty()) {
        report.emplace(o.report);
        // Told before any port is touched, not after the update.
        if (!report->Open(error)) {
            head.Error(error, exitUsage);
            return exitUsage;
        }
    }
    // The file once for every port; the ports then only read the page table.
    std::optional<TFileFacts> facts;
    int fileCode = exitDone;
    if (update) {
        const bool cpu = o.command == "update-cpu";
        fileCode = LoadUpdateFile(o.args[0], cpu, head);
        if (fileCode == exitDone) {
            try {
                facts = InspectUpdateFile(o.args[0], cpu);
            } catch (const EFlashFile& e) {
                head.Error(e.what(), exitFileRefused);
                fileCode = exitFileRefused;
            }
        }
    }

    TConsole console(int(o.ports.size()), isatty(STDERR_FILENO) == 1 && !o.json);
    const auto one = [&](int slot, const std::string& port) {
        const TOptions po = ForPort(o, port);
        TOutput out(o.command, o.json);
        if (several)
            out.SetStation(console, slot, port);
        TReportEntry entry;
        entry.started = std::chrono::system_clock::now();
        const auto t0 = std::chrono::steady_clock::now();
        int code = fileCode;
        if (code == exitDone) {
            std::string logError;
            if (!out.OpenLog(o.log, logError)) {
                out.Error(logError, exitUsage);
                code = exitUsage;
            } else {
                TRunContext c{po, out, stop, signal, facts ? &*facts : nullptr, report ? &entry : nullptr};
                code = RunGuarded(row, c);
            }
        }
        if (report) {
            entry.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            entry.port = port;
            const auto info = port.rfind("serial:", 0) == 0 ? PortBySerial(port.substr(7)) : PortInfoFor(port);
            if (info) {
                entry.byId = info->byId;
                entry.serial = info->serial;
            }
            entry.command = o.command;
            entry.file = o.args[0];
            entry.facts = facts;
            entry.pagesConfirmed = out.Confirmed();
            entry.resends = out.Resends();
            if (entry.result.empty())
                entry.result = ResultWord(code);
            entry.exitCode = code;
            entry.message = code == exitDone || fileCode == exitDone ? out.LastMessage() : head.LastMessage();
            if (code == exitDone)
                entry.resume.reset();
            std::string reportError;
            if (!report->Append(entry, reportError))
                out.Error(reportError, code);
        }
        return code;
    };
    const int code = RunOnPorts(o.ports, one);
    console.Close();
    return code;
}
