// quorvantel-cli: the jobs of the service tool's window from a terminal, for
// benches, production lines and test rigs. One command per run, an exit code,
// no question asked.
#include "Arguments.h"
#include "Commands.h"
#include "Output.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

std::atomic<bool> gStop{false};
std::atomic<int> gSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

void OnStopSignal(int signal)
{
    gSignal.store(signal);
    gStop.store(true);
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    TOptions o;
    std::string error;
    if (!ParseArguments(args, o, error)) {
        TOutput(o.command, o.json).Error(error, exitUsage);
        std::fputs("Try 'quorvantel-cli --help'.\n", stderr);
        return exitUsage;
    }
    if (o.help) {
        std::fputs(UsageText().c_str(), stdout);
        return exitDone;
    }
    if (o.version) {
        std::printf("quorvantel-cli %s\n", QV_VERSION);
        return exitDone;
    }
    // Ctrl+C, SIGTERM and a closed terminal (SIGHUP) let the page on the line
    // finish; a second one of the same ends the program at once.
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &sa, nullptr);
    // Output nobody reads any more (a closed pipe) must not end a transfer:
    // the write fails instead, and the transfer goes on.
    std::signal(SIGPIPE, SIG_IGN);
    return RunCommand(o, gStop, gSignal);
}
