// A graphics update and a CPU firmware update against the emulator at
// 115200 bit/s, paced like the line in both directions. For each: the wall
// time from the click to the closing message, the floor the protocol itself
// imposes (per page the frame's and the confirmation's time on the line plus
// the receiver's pause at the confirmation's start byte) and their ratio;
// for the graphics update also the tool's peak memory and its growth from
// the start of the transfer to its end. The emulator runs in a child process
// so that the memory figures are the tool's own.
//
// --cpu-only: the CPU firmware update alone. A graphics transfer always
// sends all 4,096 pages (a confirmation naming a page ahead is ignored, so it
// cannot be cut short).
#include "bench/common/BenchKit.h"
#include "emulator/Emulator.h"
#include "protocol/flashpage.h"
#include "serial/CPort.h"
#include "ui/Dialogs.h"
#include "ui/LogView.h"
#include "ui/MainUnit.h"
#include "update/flash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::ResetPeak;
using bench::StatusKiB;

constexpr int cLineRate = 115200;

// ---- emulator in a child process, driven over a line channel ----

// Child: "path" -> slave path; "flash FILE" -> flash image written, "ok";
// end of file -> exit.
int RunEmulator(bench::TLineChannel& channel)
{
    TEmulator::Options o;
    o.pace = true;
    o.paceFrames = true;
    TEmulator emu(o);
    std::string error;
    if (!emu.Start(&error)) {
        channel.Send("error " + error);
        return 1;
    }
    std::string cmd;
    while (channel.ReadLine(cmd, -1) == 1) {
        if (cmd == "path") {
            channel.Send(emu.SlavePath());
        } else if (cmd.rfind("flash ", 0) == 0) {
            channel.Send(emu.WriteFlashImage(cmd.substr(6), &error) ? "ok" : error);
        } else {
            channel.Send("?");
        }
    }
    emu.Stop();
    return 0;
}

// ---- dialogs: pick the prepared file, say Yes, note when the end comes ----

struct TBenchDialogs : IDialogs {
    QString file;
    QString closing;     // the message that ends the transfer
    bool closed = false;
    qint64 closedAt = 0;
    long rssAtClose = 0;
    std::size_t heapAtClose = 0;
    QElapsedTimer* clock = nullptr;
    void Message(QWidget*, const QString& text) override
    {
        if (text == closing) {
            closedAt = clock->elapsed();
            rssAtClose = StatusKiB("VmRSS");
            heapAtClose = mallinfo2().uordblks;
            closed = true;
        }
    }
    bool Question(QWidget*, const QString& text) override
    {
        std::fprintf(stderr, "question: %s\n", qPrintable(text));
        return true;
    }
    void Error(QWidget*, const QString& text) override
    {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
    QString OpenFile(QWidget*, const QString&, const QString&, const QString&) override { return file; }
};

// Blocks until an event comes (the overload with a time limit would spin).
// A 20 ms ticker in main() makes sure one comes.
void Pump()
{
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

struct TRun {
    double wallS = 0, floorS = 0;
    long pages = 0;
    long rssStart = 0, rssEnd = 0, peak = 0;
    double heapGrowthMiB = 0; // bytes in use on the heap, end minus start
    bool ok = false;
};

double PageFloorS(int pauseMs)
{
    return double(tProgramFlashPage::cSize + tProgramFlashPageConfirm::cSize) * 10 / cLineRate +
           pauseMs / 1000.0;
}

TRun RunUpdate(TMainForm& form, TBenchDialogs& dialogs, QPushButton* button, long pages)
{
    TRun r;
    QElapsedTimer clock;
    dialogs.clock = &clock;
    dialogs.closed = false;
    ResetPeak();
    clock.start();
    button->click();
    // The first page is on the line: the transfer has started.
    r.rssStart = StatusKiB("VmRSS");
    const std::size_t heapStart = mallinfo2().uordblks;
    while (!dialogs.closed && clock.elapsed() < 1800000)
        Pump();
    r.ok = dialogs.closed;
    r.wallS = dialogs.closedAt / 1000.0;
    r.rssEnd = dialogs.rssAtClose;
    r.heapGrowthMiB = (double(dialogs.heapAtClose) - double(heapStart)) / 1048576.0;
    r.peak = StatusKiB("VmHWM");
    r.pages = pages;
    r.floorS = pages * PageFloorS(form.Receiver.StartPauseMs);
    return r;
}

void Print(const char* name, const TRun& r)
{
    std::printf("%s: %ld pages, wall %.2f s, floor %.2f s (%.1f ms/page), ratio %.3f (goal < 1.05)\n",
                name, r.pages, r.wallS, r.floorS, 1000.0 * r.floorS / double(r.pages),
                r.wallS / r.floorS);
}

// Waits until nothing is awaited and no update runs, then brings controller
// and line to 115200 bit/s.
void ToHighSpeed(TMainForm& form)
{
    QElapsedTimer t;
    t.start();
    while ((form.AutoTimer.cmd != 0 || form.FlashStage != TMainForm::TFlashStage::Idle) &&
           t.elapsed() < 5000)
        Pump();
    form.btnSetHiSpeed->click();
    t.start();
    while (form.AutoTimer.cmd != 0 && t.elapsed() < 5000)
        Pump();
}

// True when the emulator's flash holds `expect` from `at` on.
bool FlashHolds(bench::TLineChannel& child, const QString& flashPath, const std::vector<std::uint8_t>& expect,
                std::size_t at)
{
    if (child.Ask("flash " + flashPath.toStdString()) != "ok")
        return false;
    const auto flash = bench::ReadBytes(flashPath.toStdString());
    return flash.size() >= at + expect.size() && std::equal(expect.begin(), expect.end(), flash.begin() + long(at));
}

struct TFiles {
    QTemporaryDir dir;
    std::vector<std::uint8_t> cpu, gfx;
    QString cpuPath = dir.filePath(QStringLiteral("bench.bin"));
    QString gfxPath = dir.filePath(QStringLiteral("bench.qgf"));
    QString flashPath = dir.filePath(QStringLiteral("flash.img"));

    bool Write()
    {
        cpu = bench::CpuUpdateFile(0);
        gfx.resize(std::size_t(cPartCount) * 256); // 1 MiB
        for (std::size_t i = 0; i < gfx.size(); ++i)
            gfx[i] = std::uint8_t(i * 7 + i / 256 + 1);
        return bench::WriteBytes(cpuPath.toStdString(), cpu) && bench::WriteBytes(gfxPath.toStdString(), gfx);
    }
};

int RunBoth(TMainForm& form, TBenchDialogs& dialogs, bench::TLineChannel& child, TFiles& files, bool cpuOnly)
{
    ToHighSpeed(form);
    std::printf("line at %d bit/s, receiver pause %d ms\n", cLineRate, form.Receiver.StartPauseMs);

    dialogs.file = files.cpuPath;
    dialogs.closing = QStringLiteral("Po naciśnięciu OK nastapi zaprogramowanie procesora?");
    const TRun cpuRun = RunUpdate(form, dialogs, form.btnFlash, CpuLastPart(bench::cCpuWholeFileSize) - 15);
    // The closing command 3 switches both sides back to 9600.
    ToHighSpeed(form);
    const bool cpuImage = FlashHolds(child, files.flashPath, files.cpu, std::size_t(cCpuImageOffset));
    if (cpuOnly) {
        Print("CPU firmware update", cpuRun);
        std::printf("  flash image equals the file from address 4096: %s\n", cpuImage ? "yes" : "NO");
        return cpuRun.ok && cpuImage ? 0 : 1;
    }

    // The log starts empty, so that what it holds at the end is this run's.
    form.btnClearMemo->click();
    dialogs.file = files.gfxPath;
    dialogs.closing = QStringLiteral("Dane graficzne zostały zaktualizowane.");
    const TRun gfxRun = RunUpdate(form, dialogs, form.btnAutoRun, cPartCount);
    // The image holds the file's first cFlashImageSize bytes; the rest of its last page goes as zeros.
    std::vector<std::uint8_t> expect(std::size_t(cPartCount) * 256, 0);
    std::copy_n(files.gfx.begin(), std::size_t(cFlashImageSize), expect.begin());
    const bool gfxImage = FlashHolds(child, files.flashPath, expect, 0);

    Print("graphics update", gfxRun);
    std::printf("  flash image equals the file: %s\n", gfxImage ? "yes" : "NO");
    // The log keeps one line per confirmation received, by design, and is
    // kept: the growth counts it.
    std::printf("  tool memory: peak %.1f MiB (goal < 80), growth during the transfer %+.2f MiB "
                "(goal < 2, with the operator log's %lld lines kept; RSS %.1f -> %.1f MiB)\n",
                gfxRun.peak / 1024.0, (gfxRun.rssEnd - gfxRun.rssStart) / 1024.0,
                static_cast<long long>(form.Memo1->lineCount()), gfxRun.rssStart / 1024.0,
                gfxRun.rssEnd / 1024.0);
    std::printf("  the log holds %.2f MiB of mapped blocks; the heap in use grew %+.2f MiB\n",
                double(form.Memo1->bytesHeld()) / 1048576.0, gfxRun.heapGrowthMiB);
    Print("CPU firmware update", cpuRun);
    std::printf("  flash image equals the file from address 4096: %s\n", cpuImage ? "yes" : "NO");
    return gfxRun.ok && cpuRun.ok && gfxImage && cpuImage ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    bool cpuOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cpu-only") == 0) {
            cpuOnly = true;
        } else {
            std::fprintf(stderr, "usage: %s [--cpu-only]\n", argv[0]);
            return 2;
        }
    }
    // Before any thread exists: the emulator's process.
    bench::TLineChannel child;
    const pid_t pid = bench::ForkChild(child, RunEmulator);
    if (pid < 0) {
        std::fprintf(stderr, "cannot start the emulator process\n");
        return 1;
    }
    const std::string slave = child.Ask("path");
    if (slave.empty() || slave.rfind("error", 0) == 0) {
        std::fprintf(stderr, "emulator: %s\n", slave.c_str());
        return 1;
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TFiles files;
    if (!files.Write()) {
        std::fprintf(stderr, "cannot write the update files\n");
        return 1;
    }
    QTimer ticker;
    ticker.start(20);
    TBenchDialogs dialogs;
    SetDialogs(&dialogs);
    int status = 1;
    {
        TMainForm form(slave);
        form.show();
        status = RunBoth(form, dialogs, child, files, cpuOnly);
    }
    SetDialogs(nullptr);
    child.Close();
    waitpid(pid, nullptr, 0);
    return status;
}
