// The fault soak's settings, shared by its two processes: the supervisor,
// which owns the emulator and injects the faults, and the tool side, which
// drives a window over the emulator's line as an operator would.
#pragma once

#include <string>
#include <vector>

struct TSoakParams {
    long commands = 20000;   // command buttons clicked (pages not counted)
    int updates = 2;         // complete CPU firmware updates
    int shortUpdates = 24;   // CPU updates of files whose header names a short body
    int unplugs = 4;         // adapter pulled and plugged in again
    unsigned seed = 1;
    int faultPct = 10;       // share of frames whose answer gets a fault
    int mismatchPerMille = 3; // chance per command that the tool's speed is switched alone
    int pauseMs = 2;         // the receiver's pause at a start byte
    int tickMs = 1;          // one answer-wait tick (100 make the wait)
    int idleMs = 3000;       // idle time measured after each unplug
    int clearLogEvery = 1000; // the operator empties the log every this many commands (0: never)
    int hangS = 30;          // no progress this long counts as a hang
    // During transfers: chance per confirmation that the adapter is pulled
    // while the tool is inside its delivery; chance per 10 ms that the
    // operator presses another control.
    int pullPerMille = 15;
    int pressPerMille = 20;
    int replugMs = 150;      // a pulled adapter is plugged in again after this
    // Chance per command, and per page confirmed during transfers, that the
    // adapter is pulled while the event thread has seen an answer and waits
    // for the window; "Test connection" is then clicked every 25 ms a few
    // times before the window is back in its event loop.
    int queuedPullPerMille = 5;
    std::string dir;         // tool side only: where files and the port link are

    // False (and a message on stderr) on a bad argument. `toolSide` is set
    // when the tool-side switch is present.
    bool Parse(int argc, char** argv, bool& toolSide);
    // The arguments that start the tool side with these settings.
    std::vector<std::string> ToolArgs() const;
    void PrintLine() const;

    // Files 1 and 2 are whole CPU images; from 3 on their headers name short bodies.
    std::string CpuFile(int k) const { return dir + "/cpu" + std::to_string(k) + ".bin"; }
    int Files() const { return 2 + shortUpdates; }
    std::string Link() const { return dir + "/ttyQV0"; }
};

// The tool side; returns its exit status.
int RunToolSide(int argc, char** argv, const TSoakParams& p);
