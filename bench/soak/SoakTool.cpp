// The tool side of the soak: a window offscreen on the emulator's line,
// driven as an operator would drive it. It reports its progress to the
// supervisor and asks it for what an operator would see on the bench (the
// controller's speed) or do there (pull the adapter, plug it in again, press
// other controls while an update runs).
#include "Soak.h"

#include "bench/common/BenchKit.h"
#include "serial/CPort.h"
#include "serial/CPortCtl.h"
#include "ui/Dialogs.h"
#include "ui/MainUnit.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressBar>
#include <QPushButton>
#include <QCheckBox>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <malloc.h>
#include <random>
#include <sstream>

namespace {

const QString cTimeout = QStringLiteral("Brak potwierdzenia odebrania komendy do Quorvantela");
const QString cResend = QStringLiteral("Błąd wysyłania danych do Quorvantela, czy mam kontynuować dalej?");
const QString cProgramCpu = QStringLiteral("Po naciśnięciu OK nastapi zaprogramowanie procesora?");
const QString cCannotOpen = QStringLiteral("Nie można otwortzyć portu");

// Every box recorded; every question answered Yes.
struct TSoakDialogs : IDialogs {
    QString file;
    long timeouts = 0, questions = 0, errors = 0, messages = 0;
    // Boxes that tell of a failure on the line: every error box, and messages
    // other than a time-out, the closing one and a port that cannot be opened
    // (the due answer to a press while the adapter is out).
    long lineBoxes = 0;
    bool closing = false; // the closing message of a CPU transfer came
    std::function<void()> onClosing;
    long boxesAtClosing = 0;
    void DetailedMessage(QWidget*, const QString& text, const QString& details) override { Box(text, details); }
    void Message(QWidget*, const QString& text) override { Box(text, {}); }
    void Box(const QString& text, const QString& details)
    {
        ++messages;
        const bool line = text != cTimeout && text != cProgramCpu && !text.startsWith(cCannotOpen) &&
                          !details.startsWith(cCannotOpen);
        if (line && ++lineBoxes <= 5)
            std::fprintf(stderr, "tool side: box: %s (%s)\n", qPrintable(text), qPrintable(details));
        timeouts += text == cTimeout;
        if (text == cProgramCpu) {
            closing = true;
            boxesAtClosing = Boxes();
            if (onClosing)
                onClosing();
        }
    }
    // Yes, but not for ever: ten resend questions in a row with no page
    // confirmed between them, and the operator gives up the attempt.
    std::function<int()> lastPage;
    int inRow = 0, lastSeen = -1;
    long givenUp = 0;
    bool Question(QWidget*, const QString& text) override
    {
        ++questions;
        if (text != cResend)
            return true;
        const int page = lastPage ? lastPage() : -1;
        inRow = page == lastSeen ? inRow + 1 : 0;
        lastSeen = page;
        if (inRow < 10)
            return true;
        inRow = 0;
        ++givenUp;
        return false;
    }
    void Error(QWidget*, const QString& text) override
    {
        ++lineBoxes;
        if (++errors <= 5)
            std::fprintf(stderr, "tool side: error box: %s\n", qPrintable(text));
    }
    QString OpenFile(QWidget*, const QString&, const QString&, const QString&) override { return file; }
    long Boxes() const { return messages + errors; }
};


class TToolSide {
public:
    TToolSide(const TSoakParams& p, TMainForm& form, TSoakDialogs& dialogs)
        : p_(p), f_(form), d_(dialogs), rng_(p.seed * 7919u + 1), channel_(0, 1)
    {
        d_.lastPage = [this] { return f_.pBar->value(); };
        d_.onClosing = [this] { channel_.Ask("check " + std::to_string(file_)); };
        // The receiver's pause after a start byte: the tool is inside a delivery.
        form.PauseHook = [this](int) { PullInsideDelivery(); };
        ticker_.start(10);
    }
    int Run();

private:
    const TSoakParams& p_;
    TMainForm& f_;
    TSoakDialogs& d_;
    std::mt19937 rng_;
    bench::TLineChannel channel_;
    QTimer ticker_; // makes sure the pump wakes
    QElapsedTimer sinceReport_;
    long commands_ = 0, updates_ = 0, unplugs_ = 0, attempts_ = 0, stuck_ = 0, mismatches_ = 0;
    long logClears_ = 0, presses_ = 0, pressesTaken_ = 0;
    int file_ = 0;           // the update file under way
    bool pressing_ = false;  // the operator presses other controls meanwhile
    QElapsedTimer sincePress_;
    int inRow_ = 0; // time-outs in a row
    double idlePctMax_ = 0;
    // The boxes shown after a pull, until the next pull or until the line is
    // known to be back.
    bool pullOpen_ = false;
    long boxesAtPull_ = 0, pullWindows_ = 0, pullBoxSum_ = 0, pullBoxMax_ = 0;
    long queuedPulls_ = 0, queuedPullsUpdating_ = 0, queuedPresses_ = 0;
    int pageRolled_ = -1; // the page confirmed last rolled for a queued pull

    void Pump();
    void Report();
    bool WaitIdle(int limitMs);
    int Roll(int n) { return int(rng_() % unsigned(n)); }
    void ChooseSpeed(int speed);
    // The port's own speed: an answer handler may change it behind the selector's text.
    int ToolSpeed() const { return BaudRateToInt(f_.ComPort1->BaudRate(), 0); }
    void Recover();
    void ToHighSpeed();
    void OneCommand();
    void Update(int k);
    void PressAnother();
    void PullInsideDelivery();
    void OpenPullWindow();
    void ClosePullWindow();
    bool PullQueued();
    void PullQueuedWhileClicking();
    void AwaitAdapter();
    void SendCpuCommandAgain();
    void Unplug();
    void ClearLog();
};

void TToolSide::Pump()
{
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // Once per page confirmed, a chance that the next confirmation's delivery
    // is the one queued when the adapter is pulled.
    if (pressing_ && f_.FlashStage == TMainForm::TFlashStage::Transfer && f_.pBar->value() != pageRolled_) {
        pageRolled_ = f_.pBar->value();
        if (Roll(1000) < p_.queuedPullPerMille && PullQueued())
            ++queuedPullsUpdating_;
    }
    if (pressing_ && f_.FlashStage != TMainForm::TFlashStage::Idle &&
        (!sincePress_.isValid() || sincePress_.elapsed() >= 10)) {
        sincePress_.start();
        if (Roll(1000) < p_.pressPerMille)
            PressAnother();
    }
    if (!sinceReport_.isValid() || sinceReport_.elapsed() >= 250)
        Report();
}

void TToolSide::Report()
{
    sinceReport_.start();
    std::ostringstream s;
    s << "progress " << commands_ << ' ' << updates_ << ' ' << unplugs_;
    channel_.Ask(s.str());
}

// Until nothing is awaited and no update runs; false after limitMs.
bool TToolSide::WaitIdle(int limitMs)
{
    QElapsedTimer t;
    t.start();
    while (f_.AutoTimer.cmd != 0 || f_.FlashStage != TMainForm::TFlashStage::Idle) {
        if (t.elapsed() > limitMs) {
            ++stuck_;
            std::fprintf(stderr, "tool side: still waiting for command %d after %d ms\n", f_.AutoTimer.cmd,
                         limitMs);
            return false;
        }
        Pump();
    }
    return true;
}

// The operator picks a speed in the selector.
void TToolSide::ChooseSpeed(int speed)
{
    QComboBox* box = f_.cbComSpeed;
    const int i = box->findText(QString::number(speed), Qt::MatchFixedString);
    if (i < 0)
        return;
    box->setCurrentIndex(i);
    emit box->activated(i);
}

// Answers keep timing out: the operator looks at the controller's speed,
// sets the selector to it and brings both to 115200.
void TToolSide::Recover()
{
    WaitIdle(60000);
    const int speed = std::atoi(channel_.Ask("speed").c_str());
    if (speed > 0)
        ChooseSpeed(speed);
    ToHighSpeed();
}

void TToolSide::ToHighSpeed()
{
    if (ToolSpeed() == 115200)
        return;
    f_.btnSetHiSpeed->click();
    ++commands_;
    WaitIdle(60000);
}

void TToolSide::OneCommand()
{
    if (Roll(1000) < p_.mismatchPerMille) {
        // Someone switches the tool's speed alone: the controller stays.
        ChooseSpeed(ToolSpeed() == 9600 ? 115200 : 9600);
        ++mismatches_;
    }
    const long timeoutsBefore = d_.timeouts;
    QPushButton* const plain[] = {f_.btnTestConnection, f_.btnPobierz, f_.btnUstaw, f_.BitBtn2,
                                  f_.btnClearScreen,    f_.btnRestart, f_.btnCbstSend, f_.btnSendLogo};
    const int r = Roll(1000);
    if (r < 4)
        f_.btnSet9600->click();
    else if (r < 8 || (ToolSpeed() == 9600 && r < 100))
        f_.btnSetHiSpeed->click();
    else
        plain[r % std::size(plain)]->click();
    ++commands_;
    WaitIdle(60000);
    // Three time-outs in a row: the operator looks into it.
    inRow_ = d_.timeouts > timeoutsBefore ? inRow_ + 1 : 0;
    if (inRow_ >= 3) {
        inRow_ = 0;
        Recover();
    }
}

// Any control that sends or changes the line, pressed while an update runs.
void TToolSide::PressAnother()
{
    QAbstractButton* const controls[] = {f_.btnTestConnection, f_.btnRestart, f_.btnClearScreen, f_.btnUstaw,
                                         f_.btnPobierz,        f_.BitBtn2,    f_.btnCbstSend,     f_.cbAnimate,
                                         f_.btnCbsdSend,       f_.btnSendLogo, f_.btnSet9600,     f_.btnSetHiSpeed};
    QAbstractButton* c = controls[Roll(int(std::size(controls)))];
    ++presses_;
    pressesTaken_ += c->isEnabled();
    c->click();
}

// The adapter pulled while a confirmation is being received; the
// supervisor plugs it in again a little later.
void TToolSide::PullInsideDelivery()
{
    if (f_.FlashStage == TMainForm::TFlashStage::Transfer && f_.AutoTimer.cmd == cmd_ProgramFlashPage &&
        Roll(1000) < p_.pullPerMille) {
        OpenPullWindow();
        channel_.Ask("pull");
    }
}

void TToolSide::OpenPullWindow()
{
    ClosePullWindow();
    pullOpen_ = true;
    boxesAtPull_ = d_.lineBoxes;
}

void TToolSide::ClosePullWindow()
{
    if (!pullOpen_)
        return;
    pullOpen_ = false;
    const long boxes = d_.lineBoxes - boxesAtPull_;
    ++pullWindows_;
    pullBoxSum_ += boxes;
    if (boxes > pullBoxMax_)
        std::fprintf(stderr, "tool side: %ld boxes after one pull\n", boxes);
    pullBoxMax_ = std::max(pullBoxMax_, boxes);
}

// The adapter pulled while the event thread has seen an answer and waits for
// the window to take it; "Test connection" is clicked every 25 ms meanwhile,
// before the window is back in its event loop (busy, its clicks queued ahead
// of the delivery). False when no answer came to be queued.
bool TToolSide::PullQueued()
{
    QElapsedTimer t;
    t.start();
    while (!f_.ComPort1->DeliveryPending()) {
        if (t.elapsed() > 500)
            return false; // a dropped answer: nothing queued to pull in
        QThread::msleep(1);
    }
    OpenPullWindow();
    channel_.Ask("pull queued");
    ++queuedPulls_;
    const int clicks = 1 + Roll(6);
    for (int i = 0; i < clicks; ++i) {
        if (i > 0)
            QThread::msleep(25); // the technician's pace; the window does not get back meanwhile
        f_.btnTestConnection->click();
        ++queuedPresses_;
    }
    return true;
}

// Between commands: a command whose answer is the one queued.
void TToolSide::PullQueuedWhileClicking()
{
    f_.btnTestConnection->click();
    ++commands_;
    const bool pulled = PullQueued();
    WaitIdle(60000);
    if (!pulled)
        return;
    AwaitAdapter();
    Recover();
    ClosePullWindow();
}

// A pulled adapter comes back after replugMs: the operator gives it that time.
void TToolSide::AwaitAdapter()
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 2 * p_.replugMs)
        Pump();
}

// Command 3 did not go out or was not answered after a complete transfer:
// the operator sends it with its own button, as the box says.
void TToolSide::SendCpuCommandAgain()
{
    for (int i = 0; i < 10; ++i) {
        const long boxes = d_.Boxes();
        f_.BitBtn1->click();
        WaitIdle(60000);
        if (d_.Boxes() == boxes)
            return;
        // The adapter may still be out: give it the time it takes to come back.
        AwaitAdapter();
        Recover();
    }
    std::fprintf(stderr, "tool side: command 3 could not be sent after a complete transfer\n");
}

void TToolSide::Update(int k)
{
    file_ = k;
    channel_.Ask("update " + std::to_string(k));
    d_.file = QString::fromStdString(p_.CpuFile(k));
    // Each attempt ends at its closing message or when the operator gives
    // up at a question; any other end is one the operator was not told of.
    for (int attempt = 0; attempt < 50; ++attempt) {
        Recover();
        d_.closing = false;
        const long givenUp = d_.givenUp;
        ++attempts_;
        pressing_ = true;
        f_.btnFlash->click();
        while (f_.FlashStage != TMainForm::TFlashStage::Idle)
            Pump();
        pressing_ = false;
        WaitIdle(600000);
        ClosePullWindow();
        if (f_.cbAnimate->isChecked())
            f_.cbAnimate->click();
        const char* how = d_.closing ? "completed" : d_.givenUp != givenUp ? "givenup" : "silent";
        channel_.Ask("ended " + std::to_string(k) + " " + how);
        if (d_.closing) {
            // A box after the closing message: command 3 did not go out or
            // was not answered.
            if (d_.Boxes() != d_.boxesAtClosing)
                SendCpuCommandAgain();
            break;
        }
    }
    ++updates_;
    const std::string differ = channel_.Ask("updated " + std::to_string(k));
    std::fprintf(stderr, "tool side: update %d done after %ld attempts so far, %s pages differ\n", k,
                 attempts_, differ.c_str());
    Recover();
}

void TToolSide::Unplug()
{
    channel_.Ask("unplug");
    QElapsedTimer t;
    t.start();
    while (f_.ComPort1->Connected() && t.elapsed() < 5000)
        Pump();
    // Idle: only what the tool itself wakes for.
    ticker_.stop();
    const double cpu0 = bench::CpuSeconds();
    t.start();
    QEventLoop loop;
    QTimer::singleShot(p_.idleMs, &loop, &QEventLoop::quit);
    loop.exec();
    const double pct = 100.0 * (bench::CpuSeconds() - cpu0) / (double(t.elapsed()) / 1000.0);
    idlePctMax_ = std::max(idlePctMax_, pct);
    ticker_.start(10);
    channel_.Ask("plug");
    ++unplugs_;
}

void TToolSide::ClearLog()
{
    f_.btnClearMemo->click();
    ++logClears_;
}

int TToolSide::Run()
{
    Recover();
    f_.btnTestConnection->click();
    WaitIdle(60000);
    const int fd0 = bench::OpenFds(), thr0 = bench::Threads();
    const long warm = (p_.updates + p_.shortUpdates > 0 ? p_.commands / (p_.updates + p_.shortUpdates + 1) : 0) +
                      p_.commands / 10;
    std::size_t heapWarm = 0;
    long rssWarm = 0;
    int nextUpdate = 1, nextUnplug = 0;
    const int updates = p_.updates + p_.shortUpdates;
    // Whole images first, then the short bodies (files 3, 4, ...).
    auto fileOf = [&](int u) { return u <= p_.updates ? u : 2 + (u - p_.updates); };
    for (long i = 0; i < p_.commands; ++i) {
        if (nextUpdate <= updates && i >= p_.commands * nextUpdate / (updates + 1))
            Update(fileOf(nextUpdate++));
        if (nextUnplug < p_.unplugs && i >= p_.commands * (2 * nextUnplug + 1) / (2 * p_.unplugs))
            Unplug(), ++nextUnplug;
        if (p_.clearLogEvery > 0 && i > 0 && i % p_.clearLogEvery == 0)
            ClearLog();
        if (i == warm) {
            ClearLog();
            heapWarm = mallinfo2().uordblks;
            rssWarm = bench::StatusKiB("VmRSS");
        }
        if (Roll(1000) < p_.queuedPullPerMille)
            PullQueuedWhileClicking();
        else
            OneCommand();
    }
    while (nextUpdate <= updates)
        Update(fileOf(nextUpdate++));
    while (nextUnplug++ < p_.unplugs)
        Unplug();
    // The end as at the start: the port open, nothing awaited.
    Recover();
    f_.btnTestConnection->click();
    WaitIdle(60000);
    const int fd1 = bench::OpenFds(), thr1 = bench::Threads();
    const std::size_t heapEnd = mallinfo2().uordblks;
    const long rssEnd = bench::StatusKiB("VmRSS");
    ClearLog();
    const std::size_t heapNoLog = mallinfo2().uordblks;
    const long rssNoLog = bench::StatusKiB("VmRSS");
    std::ostringstream s;
    s << "result commands=" << commands_ << " updates=" << updates_ << " attempts=" << attempts_
      << " unplugs=" << unplugs_ << " timeouts=" << d_.timeouts << " questions=" << d_.questions << " givenup=" << d_.givenUp
      << " errors=" << d_.errors << " stuck=" << stuck_ << " mismatches=" << mismatches_
      << " logclears=" << logClears_ << " presses=" << presses_ << " pressestaken=" << pressesTaken_
      << " heapgrow=" << (long(heapEnd) - long(heapWarm))
      << " heapgrownolog=" << (long(heapNoLog) - long(heapWarm)) << " rssgrow=" << (rssEnd - rssWarm)
      << " rssgrownolog=" << (rssNoLog - rssWarm) << " fd0=" << fd0 << " fd1=" << fd1 << " thr0=" << thr0
      << " thr1=" << thr1 << " idlepct=" << idlePctMax_ << " peak=" << bench::StatusKiB("VmHWM")
      << " queuedpulls=" << queuedPulls_ << " queuedpullsupdating=" << queuedPullsUpdating_
      << " queuedpresses=" << queuedPresses_ << " pullwindows=" << pullWindows_ << " pullboxsum=" << pullBoxSum_
      << " pullboxmax=" << pullBoxMax_;
    channel_.Ask(s.str());
    return 0;
}

} // namespace

int RunToolSide(int argc, char** argv, const TSoakParams& p)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TSoakDialogs dialogs;
    SetDialogs(&dialogs);
    int status = 1;
    {
        TMainForm form(p.Link());
        form.Receiver.StartPauseMs = p.pauseMs;
        form.TickMs = p.tickMs;
        form.show();
        TToolSide side(p, form, dialogs);
        status = side.Run();
    }
    SetDialogs(nullptr);
    return status;
}
