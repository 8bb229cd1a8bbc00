// Figures of the program as a whole, run as the real binary (offscreen):
//  - start-up: from starting the process to the window's first paint, as seen
//    from here (wall) and as the program counts it from its main();
//  - idle CPU use with the window open and the port open against the
//    emulator, over ~10 s, with the port closed over ~5 s for comparison.
#include "bench/common/BenchKit.h"
#include "emulator/Emulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

namespace {

QProcessEnvironment BaseEnv(const QString& sysDir)
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    e.insert(QStringLiteral("QV_DIALOGS"), QStringLiteral("stderr"));
    e.insert(QStringLiteral("QV_REPORT_SHOWN"), QStringLiteral("1"));
    e.insert(QStringLiteral("QV_SYS_CLASS_TTY"), sysDir);
    return e;
}

// Waits for the "QV_SHOWN <ms>" line; returns <ms>, or -1.
long long WaitShown(QProcess& p, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    QByteArray buffer;
    while (t.elapsed() < timeoutMs) {
        if (!p.waitForReadyRead(100) && p.state() == QProcess::NotRunning)
            return -1;
        buffer += p.readAllStandardOutput();
        const int at = buffer.indexOf("QV_SHOWN ");
        const int end = at < 0 ? -1 : buffer.indexOf('\n', at);
        if (end > at)
            return buffer.mid(at + 9, end - at - 9).trimmed().toLongLong();
    }
    return -1;
}

double CpuPercent(qint64 pid, int ms)
{
    const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    const long long a = bench::StatCpuTicks(stat);
    QElapsedTimer t;
    t.start();
    QThread::msleep(static_cast<unsigned long>(ms));
    const long long b = bench::StatCpuTicks(stat);
    return 100.0 * bench::TicksToMs(b - a) / double(t.elapsed());
}

void Stop(QProcess& p)
{
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished();
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString program = QStringLiteral(QV_PROGRAM);
    QTemporaryDir sys; // an empty port list: the port comes from the command line
    if (!sys.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }

    // ---- start-up ----
    constexpr int runs = 5;
    std::vector<double> wall, inside;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setProcessEnvironment(BaseEnv(sys.path()));
        QElapsedTimer t;
        t.start();
        p.start(program, {});
        const long long ms = WaitShown(p, 20000);
        const double w = double(t.nsecsElapsed()) / 1e6;
        Stop(p);
        if (ms < 0) {
            std::fprintf(stderr, "run %d: the window was not shown\n", i + 1);
            return 1;
        }
        wall.push_back(w);
        inside.push_back(double(ms));
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("start to window shown (%d runs, offscreen):\n", runs);
    std::printf("  process start to first paint: median %.1f ms, min %.1f, max %.1f\n",
                median(wall), *std::min_element(wall.begin(), wall.end()),
                *std::max_element(wall.begin(), wall.end()));
    std::printf("  main() to first paint:        median %.1f ms\n", median(inside));

    // ---- idle CPU ----
    TEmulator emu;
    std::string error;
    if (!emu.Start(&error)) {
        std::fprintf(stderr, "emulator: %s\n", error.c_str());
        return 1;
    }
    QProcess p;
    QProcessEnvironment env = BaseEnv(sys.path());
    env.insert(QStringLiteral("QV_CLICK"), QStringLiteral("btnTestConnection"));
    env.insert(QStringLiteral("QV_CLICK_GAP_MS"), QStringLiteral("100"));
    p.setProcessEnvironment(env);
    p.start(program, {QString::fromStdString(emu.SlavePath())});
    if (WaitShown(p, 20000) < 0 || !emu.WaitForAnswers(1, 10000)) {
        std::fprintf(stderr, "the program did not reach the emulator\n");
        Stop(p);
        return 1;
    }
    QThread::msleep(1500); // the answer is handled and the countdown has ended
    const double open = CpuPercent(p.processId(), 10000);
    std::printf("idle CPU, window shown, port open on the emulator: %.2f %% of one core over 10 s"
                " (goal < 1 %%; one clock tick = %.2f %%)\n",
                open, 100.0 / double(sysconf(_SC_CLK_TCK)) / 10.0);
    Stop(p);

    QProcess closed;
    closed.setProcessEnvironment(BaseEnv(sys.path()));
    closed.start(program, {});
    if (WaitShown(closed, 20000) < 0) {
        std::fprintf(stderr, "the program did not come up\n");
        return 1;
    }
    QThread::msleep(500);
    const double idle = CpuPercent(closed.processId(), 5000);
    std::printf("idle CPU, window shown, port closed:              %.2f %% of one core over 5 s\n",
                idle);
    Stop(closed);
    return 0;
}
