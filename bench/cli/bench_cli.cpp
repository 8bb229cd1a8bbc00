// Both updates through `quorvantel-cli --fast` against the emulator pacing
// both directions at 115200 bit/s: wall time against the line's own floor,
// (272 + 16) bytes x 10 bits a page = 25.0 ms, and the program's peak memory.
// With --window PATH it then runs the window's benchmark (bench_update) in
// the same go and passes its figures through; extra arguments go to it
// (e.g. --cpu-only for the window's CPU figure alone).
// Then the station: a CPU update of one controller against four at once (one
// command, four emulators paced alike), measured in the same run: the wall
// time of four against one (goal <= 1.10) and the memory of the four.
#include "bench/common/BenchKit.h"
#include "emulator/Emulator.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double cPageFloorMs = (272.0 + 16.0) * 10.0 / 115200.0 * 1000.0;

// Runs the program; its exit code, wall seconds and peak resident KiB.
int Run(std::vector<std::string> args, double& seconds, long& peakKiB, bool quiet)
{
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // The child's freopen would write out what is still buffered here.
    std::fflush(stdout);
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (quiet) // its result line is not one of our figures
            if (!freopen("/dev/null", "w", stdout))
                _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    if (pid < 0 || wait4(pid, &status, 0, &ru) != pid)
        return -1;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    peakKiB = ru.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    std::string window;
    std::vector<std::string> windowArgs;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--window") == 0 && i + 1 < argc)
            window = argv[++i];
        else
            windowArgs.push_back(argv[i]);
    }

    TEmulator::Options o;
    o.pace = true;
    o.paceFrames = true;
    TEmulator emu(o);
    std::string error;
    if (!emu.Start(&error)) {
        std::fprintf(stderr, "emulator: %s\n", error.c_str());
        return 1;
    }
    char dir[] = "/tmp/bench_cli.XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string cpu = std::string(dir) + "/cpu.bin", gfx = std::string(dir) + "/gfx.qgf";
    std::vector<std::uint8_t> g(1048576);
    for (std::size_t i = 0; i < g.size(); ++i)
        g[i] = std::uint8_t(i * 13 + i / 256);
    if (!bench::WriteBytes(cpu, bench::CpuUpdateFile(0)) || !bench::WriteBytes(gfx, g))
        return 1;

    std::printf("quorvantel-cli --fast, emulator paced at 115200 bit/s both ways; line floor %.1f ms/page\n",
                cPageFloorMs);
    struct TKind {
        const char* name;
        const char* command;
        const std::string& file;
        int pages;
    } kinds[] = {{"CPU firmware", "update-cpu", cpu, 768}, {"graphics", "update-gfx", gfx, 4096}};
    int failures = 0;
    for (const TKind& k : kinds) {
        emu.ClearLog();
        double s = 0;
        long peak = 0;
        const int code = Run({QV_CLI_BIN, "--port", emu.SlavePath(), k.command, k.file, "--fast"}, s, peak, true);
        const double floor = k.pages * cPageFloorMs / 1000.0;
        std::printf("%s: %d pages, exit %d, wall %.2f s, floor %.2f s (%.1f ms/page), ratio %.3f (goal < 1.10), "
                    "peak memory %ld KiB\n",
                    k.name, k.pages, code, s, floor, s * 1000.0 / k.pages, s / floor, peak);
        std::fflush(stdout);
        failures += code != 0 || int(emu.PageAddresses().size()) != k.pages;
    }
    emu.Stop();

    {
        // Four controllers, each on its own line, the first one also alone.
        std::vector<std::unique_ptr<TEmulator>> emus;
        std::vector<std::string> four{QV_CLI_BIN};
        for (int i = 0; i < 4; ++i) {
            emus.push_back(std::make_unique<TEmulator>(o));
            if (!emus.back()->Start(&error)) {
                std::fprintf(stderr, "emulator: %s\n", error.c_str());
                return 1;
            }
            four.insert(four.end(), {"--port", emus.back()->SlavePath()});
        }
        four.insert(four.end(), {"update-cpu", cpu, "--fast"});
        double one = 0, all = 0;
        long onePeak = 0, allPeak = 0;
        const int oneCode = Run({QV_CLI_BIN, "--port", emus[0]->SlavePath(), "update-cpu", cpu, "--fast"}, one,
                                onePeak, true);
        bool whole = int(emus[0]->PageAddresses().size()) == 768;
        for (auto& e : emus)
            e->ClearLog();
        const int allCode = Run(four, all, allPeak, true);
        for (auto& e : emus)
            whole = whole && int(e->PageAddresses().size()) == 768;
        std::printf("station, CPU firmware: one controller %.2f s (exit %d, peak %ld KiB); four at once %.2f s "
                    "(exit %d, peak memory %ld KiB); ratio %.3f (goal <= 1.10)%s\n",
                    one, oneCode, onePeak, all, allCode, allPeak, all / one, whole ? "" : "; pages missing");
        failures += oneCode != 0 || allCode != 0 || !whole;
    }
    std::remove(cpu.c_str());
    std::remove(gfx.c_str());
    rmdir(dir);

    if (!window.empty()) {
        std::printf("the window's benchmark, same go:\n");
        std::fflush(stdout);
        std::vector<std::string> args{window};
        args.insert(args.end(), windowArgs.begin(), windowArgs.end());
        double s = 0;
        long peak = 0;
        failures += Run(args, s, peak, false) != 0;
    }
    return failures == 0 ? 0 : 1;
}
