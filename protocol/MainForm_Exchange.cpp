// The command exchange of the main window: transmitters, the answer wait
// counted down by Timer1, and the answer handlers of the ordinary commands.
#include "ui/MainUnit.h"

#include "serial/CPort.h"
#include "serial/CPortCtl.h"
#include "ui/Dialogs.h"
#include "ui/SpinEdit.h"

#include <QCheckBox>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstring>

namespace {
// Copies the last frame into a 16-byte answer record. A short answer updates
// only its own length; a longer one is cut at the record's end.
void CopyAnswer(const TFrameReceiver& rx, std::array<std::uint8_t, cAnswerSize>& record)
{
    const auto n = std::clamp<std::int32_t>(rx.myComSize, 0, std::int32_t(record.size()));
    std::memcpy(record.data(), rx.myCom, std::size_t(n));
}
} // namespace

// ---- sending ----

bool TMainForm::PageAwaited() const
{
    return FlashStage == TFlashStage::Transfer && AutoTimer.cmd == cmd_ProgramFlashPage;
}

void TMainForm::ArmAutoTimer(std::uint8_t code)
{
    // A command sent during a transfer (by a path not locked for it) must not
    // take the place of the page's wait: the transfer would end unseen.
    if (code != cmd_ProgramFlashPage && PageAwaited())
        return;
    AutoTimer.cmd = code;
    AutoTimer.interval = TimerInterval;
    TickClock.start();
    TicksCounted = 0;
    emit AnswerWaitChanged();
    // The countdown only runs while something is awaited. Inside Timer1Timer
    // the handler itself restarts it when it ends.
    if (!InTimer1Timer && !Timer1->isActive())
        Timer1->start(TickMs);
}

void TMainForm::SendFrame(TBytes frame, std::uint8_t code)
{
    SealFrame(frame);
    if (!IfOpenPort())
        return;
    try {
        WriteCommandFrame(frame, code);
    } catch (const EComPort&) {
        if (ComPort1->Connected())
            throw;
        // The line hung up under the write and the port has let it go: one
        // box says so, and the next command opens the port afresh.
        Dialogs().Message(this, LineLostText());
    }
}

bool TMainForm::TrySendFrame(TBytes frame, std::uint8_t code, QString& reason)
{
    SealFrame(frame);
    try {
        if (!TryOpenPort(reason))
            return false;
        WriteCommandFrame(frame, code);
    } catch (const EComPort& e) {
        reason = WriteFailureText(e);
        return false;
    }
    return true;
}

QString TMainForm::WriteFailureText(const EComPort& e) const
{
    // A write that found the line hung up has closed the port: the operator
    // is told the line was lost, not the system call that noticed it.
    return ComPort1->Connected() ? QString::fromUtf8(e.what()) : LineLostText();
}

void TMainForm::WriteCommandFrame(const TBytes& frame, std::uint8_t code)
{
    // A write error leaves here, before the log line and the arming.
    ComPort1->WriteStr(frame);
    Receiver.NoteSent(frame);
    LogLine(SentFrameLogLine(frame));
    ArmAutoTimer(code);
}

void TMainForm::send_cmd_TestConnect() { SendFrame(BuildCommandFrame(cmd_TestConnect), cmd_TestConnect); }
void TMainForm::send_cmd_Restart() { SendFrame(BuildCommandFrame(cmd_Restart), cmd_Restart); }
void TMainForm::send_cmd_UpgreadeCPU() { SendFrame(BuildCommandFrame(cmd_UpgreadeCPU), cmd_UpgreadeCPU); }
void TMainForm::send_cmd_FillScreen() { SendFrame(BuildCommandFrame(cmd_FillScreen), cmd_FillScreen); }
void TMainForm::send_cmd_getJasnosc() { SendFrame(BuildCommandFrame(cmd_getJasnosc), cmd_getJasnosc); }

void TMainForm::send_cmd_setJasnosc()
{
    // Whatever was typed is brought into range before it is read.
    seJasnosc->interpretText();
    const int jasnosc = std::clamp(seJasnosc->value(), 0, 15);
    SendFrame(BuildJasnoscFrame(std::uint8_t(jasnosc)), cmd_setJasnosc);
}

void TMainForm::send_cmd_putText(const TBytes& mystr) { SendFrame(mystr, cmd_putText); }
void TMainForm::send_cmd_putTextFrame(const TBytes& mystr) { SendFrame(mystr, cmd_putTextFrame); }
void TMainForm::send_cmd_Set9600() { SendFrame(BuildCommandFrame(cmd_Set9600), cmd_Set9600); }
void TMainForm::send_cmd_Set115200() { SendFrame(BuildCommandFrame(cmd_Set115200), cmd_Set115200); }
void TMainForm::send_cmd_putLogo(const TBytes& mystr) { SendFrame(mystr, cmd_putLogo); }
void TMainForm::send_cmd_GetVersion() { SendFrame(BuildCommandFrame(cmd_GetVersion), cmd_GetVersion); }

// ---- the answer wait ----

void TMainForm::Timer1Timer()
{
    Timer1->stop();
    InTimer1Timer = true;
    // However the handler ends, the countdown goes on while an answer is
    // awaited; with nothing awaited the timer stays off.
    struct TRestart {
        TMainForm& form;
        ~TRestart()
        {
            form.InTimer1Timer = false;
            // Time spent in here, boxes included, is not part of the wait.
            form.TicksCounted = form.TickClock.elapsed() / form.TickMs;
            if (form.AutoTimer.cmd != 0)
                form.Timer1->start(form.TickMs);
        }
    } restart{*this};

    if (AutoTimer.cmd == 0)
        return;
    if (!TickClock.isValid()) {
        TickClock.start();
        TicksCounted = 0;
    }
    // The wait counts tick periods of time, not timer events: events come
    // late while the window is busy (a pause at every start byte of noise).
    const qint64 due = TickClock.elapsed() / TickMs;
    const qint64 passed = std::clamp<qint64>(due - TicksCounted, 0, TimerInterval);
    TicksCounted = due;
    AutoTimer.interval -= std::int32_t(passed);
    if (AutoTimer.interval >= 1)
        return;

    if (AutoTimer.cmd == cmd_ProgramFlashPage) {
        // A flash page not confirmed: the update exchange asks about a resend.
        FlashPageTimeout();
        return;
    }
    AutoTimer.cmd = 0;
    emit AnswerWaitChanged();
    Dialogs().Message(this, QString::fromUtf8(cNoAnswerText));
}

// ---- receiving ----

void TMainForm::ComPort1RxChar(TComPort* sender, std::int32_t count)
{
    TComPort* port = sender ? sender : ComPort1;
    ReceiveInPieces(
        count, port->Buffer().InputSize(),
        [port](std::string& str, std::int32_t n) { port->ReadStr(str, n); },
        [port] { return port->Connected(); });
}

void TMainForm::ProcessReceived(std::string_view chunk)
{
    Guarded(this, [this, chunk] { Receiver.ProcessChunk(chunk); });
}

// ---- answer handlers ----
// Each ends the wait, whatever was awaited, except a transfer's page wait:
// that one ends only with its confirmation, the operator's No, or the
// transfer's end.

void TMainForm::EndWait()
{
    AutoTimer = {};
    emit AnswerWaitChanged();
}

void TMainForm::EndAnswerWait()
{
    if (!PageAwaited())
        EndWait();
}

void TMainForm::TakeAnswer(std::array<std::uint8_t, cAnswerSize>& record)
{
    EndAnswerWait();
    CopyAnswer(Receiver, record);
}

void TMainForm::fcmd_TestConnect()
{
    TakeAnswer(GetCommand.raw);
    LogLine("cmd_TestConnect");
}

void TMainForm::fcmd_Restart()
{
    TakeAnswer(GetCommand.raw);
    LogLine("cmd_Restart");
}

void TMainForm::fcmd_FillScreen()
{
    TakeAnswer(GetCommand.raw);
    LogLine("cmd_FillScreen");
}

void TMainForm::fcmd_getJasnosc()
{
    TakeAnswer(GetCommand.raw);
    // The field holds 0..15: a larger brightness shows as 15.
    seJasnosc->setValue(std::min<int>(GetCommand.Jasnosc(), 15));
    cbAuto->setChecked(seJasnosc->value() == 0);
    LogLine("cmd_getJasnosc");
}

void TMainForm::fcmd_setJasnosc()
{
    TakeAnswer(GetCommand.raw);
    LogLine("cmd_setJasnosc");
}

void TMainForm::fcmd_putText() { EndAnswerWait(); }
void TMainForm::fcmd_putTextFrame() { EndAnswerWait(); }
void TMainForm::fcmd_putLogo() { EndAnswerWait(); }

void TMainForm::ReSpeedFromAnswer(TBaudRate rate)
{
    TakeAnswer(GetCommand.raw);
    // Nobody asked for it while a page is awaited (the controls are locked):
    // switching the line now would leave the transfer at another speed than
    // the controller's.
    if (PageAwaited())
        return;
    // Runs inside the delivery of this answer; the port allows a close there.
    ComPort1->Close();
    // The speed selector is bound to ComPort1 for the window's whole life.
    cbComSpeed->GetComPort()->SetBaudRate(rate);
    IfOpenPort();
}

void TMainForm::fcmd_Set9600() { ReSpeedFromAnswer(br9600); }
void TMainForm::fcmd_Set115200() { ReSpeedFromAnswer(br115200); }

void TMainForm::fcmd_GetVersion()
{
    TakeAnswer(GetVersion.raw);
    lVersion->setText(QString::fromStdString(VersionLabelText(GetVersion)));
    LogLine("cmd_getVersion");
}
