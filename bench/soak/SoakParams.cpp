#include "Soak.h"

#include "protocol/exchange.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

bool TSoakParams::Parse(int argc, char** argv, bool& toolSide)
{
    toolSide = false;
    struct TInt {
        const char* name;
        long* l;
        int* i;
    };
    const TInt ints[] = {{"--commands", &commands, nullptr},      {"--updates", nullptr, &updates},
                         {"--unplugs", nullptr, &unplugs},        {"--fault-pct", nullptr, &faultPct},
                         {"--mismatch-permille", nullptr, &mismatchPerMille},
                         {"--pause-ms", nullptr, &pauseMs},       {"--tick-ms", nullptr, &tickMs},
                         {"--idle-ms", nullptr, &idleMs},         {"--clear-log-every", nullptr, &clearLogEvery},
                         {"--hang-s", nullptr, &hangS},           {"--short-updates", nullptr, &shortUpdates},
                         {"--pull-permille", nullptr, &pullPerMille}, {"--press-permille", nullptr, &pressPerMille},
                         {"--replug-ms", nullptr, &replugMs},
                         {"--queued-pull-permille", nullptr, &queuedPullPerMille}};
    for (int a = 1; a < argc; ++a) {
        const bool hasValue = a + 1 < argc;
        if (std::strcmp(argv[a], "--tool-side") == 0 && hasValue) {
            toolSide = true;
            dir = argv[++a];
            continue;
        }
        if (std::strcmp(argv[a], "--seed") == 0 && hasValue) {
            seed = unsigned(std::strtoul(argv[++a], nullptr, 10));
            continue;
        }
        bool known = false;
        for (const auto& o : ints) {
            if (std::strcmp(argv[a], o.name) != 0 || !hasValue)
                continue;
            const long v = std::strtol(argv[++a], nullptr, 10);
            if (v < 0) {
                std::fprintf(stderr, "%s must not be negative\n", o.name);
                return false;
            }
            if (o.l)
                *o.l = v;
            else
                *o.i = int(v);
            known = true;
        }
        if (!known) {
            std::fprintf(stderr,
                         "usage: %s [--commands N] [--updates N] [--unplugs N] [--seed N] [--fault-pct N]\n"
                         "  [--mismatch-permille N] [--pause-ms N] [--tick-ms N] [--idle-ms N]\n"
                         "  [--clear-log-every N] [--hang-s N] [--short-updates N] [--pull-permille N]\n"
                         "  [--press-permille N] [--replug-ms N] [--queued-pull-permille N]\n",
                         argv[0]);
            return false;
        }
    }
    if (tickMs < 1 || faultPct > 100 || hangS < 5) {
        std::fprintf(stderr, "--tick-ms must be at least 1, --fault-pct at most 100, --hang-s at least 5\n");
        return false;
    }
    return true;
}

std::vector<std::string> TSoakParams::ToolArgs() const
{
    return {"--commands", std::to_string(commands),   "--updates", std::to_string(updates),
            "--unplugs", std::to_string(unplugs),     "--seed", std::to_string(seed),
            "--fault-pct", std::to_string(faultPct),  "--mismatch-permille", std::to_string(mismatchPerMille),
            "--pause-ms", std::to_string(pauseMs),    "--tick-ms", std::to_string(tickMs),
            "--idle-ms", std::to_string(idleMs),      "--clear-log-every", std::to_string(clearLogEvery),
            "--hang-s", std::to_string(hangS),        "--short-updates", std::to_string(shortUpdates),
            "--pull-permille", std::to_string(pullPerMille), "--press-permille", std::to_string(pressPerMille),
            "--replug-ms", std::to_string(replugMs),
            "--queued-pull-permille", std::to_string(queuedPullPerMille), "--tool-side", dir};
}

void TSoakParams::PrintLine() const
{
    std::printf("soak: commands %ld, CPU updates %d (196608-byte file) and %d with short bodies, unplugs %d, "
                "seed %u, faults on %d %% of answers, tool speed switched alone %d per mille of commands, "
                "during transfers: adapter pulled inside %d per mille of confirmations' deliveries (back after "
                "%d ms), another control pressed %d per mille of 10 ms; adapter pulled with an answer queued %d "
                "per mille of commands and of pages confirmed (then \"Test connection\" clicked every 25 ms), "
                "receiver pause %d ms, "
                "answer wait %d ticks x %d ms = %d ms, idle measured %d ms per unplug, log emptied every %d "
                "commands, hang after %d s without progress\n",
                commands, updates, shortUpdates, unplugs, seed, faultPct, mismatchPerMille, pullPerMille, replugMs,
                pressPerMille, queuedPullPerMille, pauseMs, int(TimerInterval), tickMs, int(TimerInterval) * tickMs, idleMs,
                clearLogEvery, hangS);
    std::fflush(stdout);
}
