// quorvantel-cli: the jobs of the service tool's window from a terminal, for
// benches, production lines and test rigs. One command per run, an exit code,
// no question asked.
#include "Arguments.h"
#include "Commands.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

std::atomic<bool> gStop{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnInterrupt(int) { gStop.store(true); }

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    TOptions o;
    std::string error;
    if (!ParseArguments(args, o, error)) {
        std::fprintf(stderr, "quorvantel-cli: %s\nTry 'quorvantel-cli --help'.\n", error.c_str());
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
    // The first Ctrl+C lets the page on the line finish; a second one ends the
    // program at once.
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    return RunCommand(o, gStop);
}
