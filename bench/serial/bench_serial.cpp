// bench_serial: CPU cost of the serial port on the tool's side.
//
// The controller emulator runs in a forked child process (unpaced), on the
// master side of a pty. This process is the tool's side only: a TComPort and
// a receiver that collects and counts answer frames. Its CPU time is read
// with CLOCK_PROCESS_CPUTIME_ID, so it covers the GUI thread and the port's
// event thread and nothing of the emulator.
//
//   1. 10,000 test-connection frames, one after the other: each is written,
//      answered by the emulator and delivered back through the event thread.
//   2. The port open and idle for 10 s.
#include "bench/common/BenchKit.h"
#include "emulator/Emulator.h"
#include "protocol/frame.h"
#include "serial/CPort.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/wait.h>

namespace {

double ClockMs(clockid_t id)
{
    timespec ts{};
    clock_gettime(id, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// CPU time of this process's event thread(s), from /proc (ms).
double EventThreadCpuMs()
{
    long long ticks = 0;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name == "qv-comevents")
            ticks += std::max(0LL, bench::StatCpuTicks(task.path() / "stat"));
    }
    return bench::TicksToMs(ticks);
}

// The emulator's process: sends the pty path, serves until the channel closes.
int RunEmulator(bench::TLineChannel& channel)
{
    TEmulator::Options options;
    options.pace = false;
    TEmulator em(options);
    std::string error;
    if (!em.Start(&error)) {
        std::fprintf(stderr, "emulator: %s\n", error.c_str());
        return 1;
    }
    if (!channel.Send(em.SlavePath()))
        return 1;
    std::string line;
    while (channel.ReadLine(line, -1) == 1) {
    }
    std::fprintf(stderr, "emulator: %zu frames received, %zu answers sent\n", em.Frames().size(),
                 em.AnswersSent());
    em.Stop();
    return 0;
}

// Answers in, next frame out: counts good and bad answers until `total` are sent.
struct TRoundTrips {
    TBytes frame;
    std::string pending;
    int total = 0, sent = 0, answers = 0, bad = 0;

    void OnRxChar(TCustomComPort* sender, std::int32_t count)
    {
        std::string s;
        sender->ReadStr(s, count);
        pending += s;
        // Frames: start byte, little-endian size at 2..3, whole frame checked.
        for (;;) {
            const auto start = pending.find(char(cBusStart));
            if (start == std::string::npos) {
                pending.clear();
                return;
            }
            pending.erase(0, start);
            if (pending.size() < cHeaderSize)
                return;
            const std::size_t size = GetLE16(reinterpret_cast<const std::uint8_t*>(pending.data()) + cOffSize);
            if (size < cHeaderSize + 2 || size > 1024) {
                pending.erase(0, 1);
                continue;
            }
            if (pending.size() < size)
                return;
            if (VerifyFrame(std::string_view(pending).substr(0, size)))
                ++answers;
            else
                ++bad;
            pending.erase(0, size);
            if (sent < total) {
                sender->WriteStr(frame);
                ++sent;
            } else {
                QCoreApplication::quit();
            }
        }
    }
};

int RunRoundTrips(QCoreApplication& app, TComPort& port, TRoundTrips& trips)
{
    const double wall0 = ClockMs(CLOCK_MONOTONIC);
    const double cpu0 = ClockMs(CLOCK_PROCESS_CPUTIME_ID);
    const double gui0 = ClockMs(CLOCK_THREAD_CPUTIME_ID);
    const double ev0 = EventThreadCpuMs();
    QTimer::singleShot(0, [&] {
        port.WriteStr(trips.frame);
        ++trips.sent;
    });
    QTimer guard; // a lost answer ends the run
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    guard.start(120000);
    const int rc = app.exec();
    guard.stop();
    const double wall = ClockMs(CLOCK_MONOTONIC) - wall0;
    const double cpu = ClockMs(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    const double gui = ClockMs(CLOCK_THREAD_CPUTIME_ID) - gui0;
    const double ev = EventThreadCpuMs() - ev0;
    if (rc != 0)
        std::fprintf(stderr, "stopped after %d answers (no answer within the time limit)\n", trips.answers);

    const double n = trips.answers;
    std::printf("serial round trips: %d frames of %zu bytes sent, %d answers of 16 bytes back (%d bad)\n",
                trips.sent, trips.frame.size(), trips.answers, trips.bad);
    std::printf("  wall time per round trip:      %8.1f us\n", wall * 1000.0 / n);
    std::printf("  tool CPU per frame (process):  %8.1f us  (GUI thread %.1f us, event thread ~%.1f us)\n",
                cpu * 1000.0 / n, gui * 1000.0 / n, ev * 1000.0 / n);
    return rc;
}

void MeasureIdle(QCoreApplication& app, const TComPort& port, int idleMs)
{
    const double idleCpu0 = ClockMs(CLOCK_PROCESS_CPUTIME_ID);
    const double idleWall0 = ClockMs(CLOCK_MONOTONIC);
    QTimer::singleShot(idleMs, [] { QCoreApplication::quit(); });
    app.exec();
    const double idleCpu = ClockMs(CLOCK_PROCESS_CPUTIME_ID) - idleCpu0;
    const double idleWall = ClockMs(CLOCK_MONOTONIC) - idleWall0;
    std::printf("idle with the port open: %.1f ms CPU in %.1f s = %.3f %% of one core (goal < 0.5 %%)\n",
                idleCpu, idleWall / 1000.0, 100.0 * idleCpu / idleWall);
    std::printf("  event thread still waiting: %s\n", port.EventThreadActive() ? "yes" : "no");
}

} // namespace

int main(int argc, char** argv)
{
    // Before any thread exists in this process.
    bench::TLineChannel emulator;
    const pid_t child = bench::ForkChild(emulator, RunEmulator);
    std::string path;
    if (child < 0 || emulator.ReadLine(path, 10000) != 1) {
        std::fprintf(stderr, "no emulator\n");
        return 1;
    }

    QCoreApplication app(argc, argv);
    TComPort port(nullptr);
    port.SetPort(path);
    port.SetEvents({evRxChar});
    port.Buffer().SetInputSize(512);
    port.Buffer().SetOutputSize(512);

    TRoundTrips trips;
    trips.total = 10000;
    trips.frame = BuildCommandFrame(cmd_TestConnect);
    SealFrame(trips.frame);
    port.OnRxChar = [&](TCustomComPort* sender, std::int32_t count) { trips.OnRxChar(sender, count); };
    try {
        port.Open();
    } catch (const EComPort& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }

    const int rc = RunRoundTrips(app, port, trips);
    MeasureIdle(app, port, 10000);

    port.Close();
    std::fflush(stdout);
    emulator.Close(); // the emulator stops
    waitpid(child, nullptr, 0);
    std::printf("emulator process (for comparison): %.1f ms CPU in all\n", bench::CpuSeconds(true) * 1e3);
    return rc == 0 && trips.answers == trips.total ? 0 : 1;
}
