#include "Station.h"

#include "Arguments.h"

#include <algorithm>
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
