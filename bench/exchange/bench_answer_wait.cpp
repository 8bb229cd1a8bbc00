// How long the main window waits for a missing answer before it reports it:
// 100 ticks of Timer1, which should come to 1 to 1.5 s. Measured in-process
// against the emulator with its answers dropped; each figure is the time from
// the click to the timeout message, and its ratio to one second.
#include "emulator/Emulator.h"
#include "ui/Dialogs.h"
#include "ui/MainUnit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
struct TTimedDialogs : IDialogs {
    QElapsedTimer clock;
    qint64 shownAt = -1;
    void Message(QWidget*, const QString&) override { shownAt = clock.elapsed(); }
    bool Question(QWidget*, const QString&) override { return false; }
    void Error(QWidget*, const QString& text) override
    {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
};
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TEmulator emu;
    std::string error;
    if (!emu.Start(&error)) {
        std::fprintf(stderr, "emulator: %s\n", error.c_str());
        return 1;
    }
    TTimedDialogs dialogs;
    SetDialogs(&dialogs);
    std::vector<double> waits;
    {
        TMainForm form(emu.SlavePath());
        form.show();
        emu.DropAnswers(1000);
        for (int run = 0; run < 5; ++run) {
            dialogs.shownAt = -1;
            dialogs.clock.start();
            form.btnTestConnection->click();
            while (dialogs.shownAt < 0 && dialogs.clock.elapsed() < 10000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            if (dialogs.shownAt < 0) {
                std::fprintf(stderr, "no timeout message within 10 s\n");
                return 1;
            }
            waits.push_back(double(dialogs.shownAt));
        }
    }
    SetDialogs(nullptr);
    std::sort(waits.begin(), waits.end());
    std::printf("answer wait, 100 ticks of %d ms (5 runs): median %.0f ms, min %.0f, max %.0f\n",
                cTimer1TickMs, waits[2], waits.front(), waits.back());
    std::printf("  ratio to 1 s: median %.2f (goal 1.00 to 1.50)\n", waits[2] / 1000.0);
    return 0;
}
