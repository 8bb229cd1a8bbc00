// A station: one command run on several ports at the same time, one thread
// per port, each with its own line, exchange, retries and result. The page
// table is loaded once and only read while the ports run.
#pragma once

#include "Arguments.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// What the ports write to the terminal and the streams, one whole line at a
// time. On a terminal each port has a progress line, redrawn in place below
// whatever else is written.
class TConsole {
public:
    TConsole(int slots, bool tty);
    // The slot's progress line anew (a terminal only).
    void Progress(int slot, const std::string& text);
    // A whole line to `stream` (standard output or error), above the progress lines.
    void Line(std::FILE* stream, const std::string& text);
    // The progress lines stay as they are; what follows goes below them.
    void Close();
    bool Tty() const { return tty_; }

private:
    void Erase();
    void Draw();

    std::mutex mu_;
    std::vector<std::string> lines_;
    bool tty_;
    bool drawn_ = false;
};

// Runs `one(slot, port)` for every port at the same time, one thread each,
// and waits for all. A port whose run throws counts as failed with exit 1 and
// never stops the others. Returns 0 when every port returned 0, else the
// largest code.
int RunOnPorts(const std::vector<std::string>& ports, const std::function<int(int slot, const std::string& port)>& one);

struct TCommandSpec;

// The options of one port's run: that port alone, also in the line to go on with.
TOptions ForPort(const TOptions& o, const std::string& port);
// The command on every port of o.ports at once (or on one, when an update is
// on record); a report line per port when o.report is set.
int RunStation(const TOptions& o, const std::atomic<bool>& stop, const std::atomic<int>& signal,
               const TCommandSpec& row);
