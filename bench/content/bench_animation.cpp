// The static text animation against the controller emulator, run as its own
// process so that the CPU figures are the tool's alone. For 9600 and
// 115200 bit/s and the rates 5, 10 and 25: frames per second sent over 10 s,
// the ceiling the line allows, 1 / (frame time + answer time + 50 ms pause),
// the share of the lower of rate and ceiling reached (goal at least 95 %),
// the shortest and longest gap between two ticks (a queue of ticks behind a
// slow line would show as a burst of short gaps), and the tool's CPU use.
#include "bench/common/BenchKit.h"
#include "serial/CPort.h"
#include "ui/Dialogs.h"
#include "ui/MainUnit.h"
#include "ui/SpinEdit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct TPrintDialogs : IDialogs {
    int count = 0;
    void Message(QWidget*, const QString& text) override { Note("message", text); }
    bool Question(QWidget*, const QString& text) override { return Note("question", text), false; }
    void Error(QWidget*, const QString& text) override { Note("error", text); }
    void Note(const char* kind, const QString& text)
    {
        ++count;
        std::fprintf(stderr, "%s: %s\n", kind, qPrintable(text));
    }
};

// Runs the event loop for `ms`, or until `until` holds (looked at every 20 ms).
void RunFor(int ms, const std::function<bool()>& until = {})
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    QTimer poll;
    if (until) {
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (until())
                loop.quit();
        });
        poll.start(20);
    }
    loop.exec();
}

constexpr int cRunMs = 10000;
constexpr int cFrameBytes = 51; // the text at start
constexpr int cAnswerBytes = 16;
constexpr double cPauseS = 0.050;

// Notes the moment each tick of a timer arrives, before its handler runs.
class TTickClock final : public QObject {
public:
    QElapsedTimer clock;
    std::vector<qint64> ticks;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Timer)
            ticks.push_back(clock.elapsed());
        return QObject::eventFilter(watched, event);
    }
};

void Measure(TMainForm& form, int speed, int rate, const TPrintDialogs& dialogs)
{
    TTickClock tc;
    std::vector<qint64>& ticks = tc.ticks;
    QElapsedTimer& clock = tc.clock;
    form.Timer2->installEventFilter(&tc);
    form.cbAnimating->setCurrentIndex(rate - 1);
    form.sestX->setValue(0);
    const int messagesBefore = dialogs.count;
    clock.start();
    const double cpu0 = bench::CpuSeconds();
    form.cbAnimate->setChecked(true);
    RunFor(cRunMs);
    form.cbAnimate->setChecked(false);
    const double cpu = bench::CpuSeconds() - cpu0;
    const double wall = double(clock.elapsed()) / 1000.0;
    form.Timer2->removeEventFilter(&tc);
    RunFor(300, [&] { return form.AutoTimer.cmd == 0; }); // the last answer

    // Ticks per second from the first tick to the last.
    const double fps =
        ticks.size() < 2 ? 0.0 : double(ticks.size() - 1) * 1000.0 / double(ticks.back() - ticks.front());
    const double ceiling = 1.0 / (double(cFrameBytes + cAnswerBytes) * 10.0 / speed + cPauseS);
    const double goal = std::min(double(rate), ceiling);
    qint64 minGap = 1 << 30, maxGap = 0;
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        minGap = std::min(minGap, ticks[i] - ticks[i - 1]);
        maxGap = std::max(maxGap, ticks[i] - ticks[i - 1]);
    }
    std::printf("%6d bit/s  rate %2d: %5.2f fps  ceiling %5.2f  reached %5.1f %% of %5.2f  "
                "tick gaps %3lld..%3lld ms (interval %d)  CPU %4.1f %%%s\n",
                speed, rate, fps, ceiling, 100.0 * fps / goal, goal, static_cast<long long>(minGap),
                static_cast<long long>(maxGap), form.Timer2->interval(), 100.0 * cpu / wall,
                dialogs.count != messagesBefore ? "  (boxes shown!)" : "");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QProcess emulator;
    emulator.start(QStringLiteral(QV_EMULATOR), {QStringLiteral("--quiet")});
    if (!emulator.waitForStarted(5000) || !emulator.waitForReadyRead(5000)) {
        std::fprintf(stderr, "emulator did not start\n");
        return 1;
    }
    const QString first = QString::fromUtf8(emulator.readLine()).trimmed();
    const QString path = first.section(QLatin1Char(' '), -1);
    TPrintDialogs dialogs;
    SetDialogs(&dialogs);
    int rc = 0;
    {
        TMainForm form(path.toStdString());
        form.show();
        std::printf("static text animation, %d s per run, frame %d bytes, answer %d bytes\n", cRunMs / 1000,
                    cFrameBytes, cAnswerBytes);
        for (const int rate : {5, 10, 25})
            Measure(form, 9600, rate, dialogs);
        form.btnSetHiSpeed->click();
        RunFor(3000, [&] { return form.AutoTimer.cmd == 0 && form.ComPort1->BaudRate() == br115200; });
        if (form.ComPort1->BaudRate() != br115200) {
            std::fprintf(stderr, "no switch to 115200 bit/s\n");
            rc = 1;
        } else {
            for (const int rate : {5, 10, 25})
                Measure(form, 115200, rate, dialogs);
            form.btnSet9600->click();
            RunFor(3000, [&] { return form.AutoTimer.cmd == 0 && form.ComPort1->BaudRate() == br9600; });
        }
    }
    SetDialogs(nullptr);
    emulator.terminate();
    emulator.waitForFinished(3000);
    return rc;
}
