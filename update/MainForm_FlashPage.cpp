// The window's page programming exchange: one page frame, one confirmation,
// the next page; a missing confirmation asks the operator about a resend.
#include "ui/MainUnit.h"

#include "serial/CPort.h"
#include "ui/Dialogs.h"
#include "update/flash.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <cstdio>
#include <stdexcept>

TTransferPages TMainForm::TransferPages() const
{
    if (FlashStage != TFlashStage::Transfer)
        return {};
    return {int(TransferFirst), SendFlash.PartFileSize, SendFlash.PartSendCount};
}

bool TMainForm::SendFlashPage(std::uint32_t nrpart, QString* reason)
{
    QString why;
    if (!reason)
        reason = &why;
    // Whatever asked for it, a page the transfer under way does not hold
    // would overwrite flash that is not to be written.
    const TTransferPages pages = TransferPages();
    if (nrpart >= std::uint32_t(cPartCount) || !pages.Holds(nrpart))
        throw std::runtime_error(
            pages.last < pages.first
                ? QStringLiteral("Strona %1 nie zostanie wysłana: żadna aktualizacja nie trwa.").arg(nrpart).toStdString()
                : QStringLiteral("Strona %1 nie zostanie wysłana: aktualizacja obejmuje strony %2–%3.")
                      .arg(nrpart)
                      .arg(pages.first)
                      .arg(pages.last)
                      .toStdString());
    const tPart& part = SendFlash.Part[nrpart];
    Page.Build(part.adres, part.buf);
    if (!TryOpenPort(*reason))
        return false;
    // A write error leaves here, before the wait is armed. No log line per page.
    ComPort1->WriteStr(TBytes(Page.Bytes()));
    Receiver.NoteSent(Page.Bytes());
    ArmAutoTimer(cmd_ProgramFlashPage);
    SendFlash.PartSendCount = std::int32_t(nrpart);
    return true;
}

void TMainForm::SendTransferPage(std::uint32_t nrpart)
{
    QString reason;
    try {
        if (SendFlashPage(nrpart, &reason))
            return;
    } catch (const EComPort& e) {
        reason = WriteFailureText(e);
    } catch (const std::runtime_error& e) {
        // A page outside the transfer: a fault, never resent; the update ends here.
        EndWait();
        SetFlashStage(TFlashStage::Idle);
        Dialogs().Error(this, QString::fromUtf8(e.what()));
        return;
    }
    // Told at once, also from inside a delivery; the wait stays armed as after
    // a resend, so the resend question follows and "Tak" goes on from here.
    SendFlash.PartSendCount = std::int32_t(nrpart);
    AutoTimer = {cmd_ProgramFlashPage, TimerInterval};
    lStat->setText(QStringLiteral("Programowanie pamięci flash przerwane na stronie %1/%2")
                       .arg(nrpart)
                       .arg(SendFlash.PartFileSize));
    // The time the box is open is not part of the wait.
    Timer1->stop();
    Dialogs().DetailedMessage(
        this, QStringLiteral("Nie można wysłać strony %1 do Quorvantela.").arg(nrpart), reason);
    if (PageAwaited())
        ArmAutoTimer(cmd_ProgramFlashPage);
}

void TMainForm::fcmd_ProgramFlashPage()
{
    // What the frame means is the rule book's; the window follows a
    // confirmation of the page on the line or of an earlier one (that page
    // is then sent again), and leaves everything else alone.
    const TPageAnswer answer =
        ClassifyPageAnswer(PageConfirm, Receiver.myCom, Receiver.myComSize, TransferPages());
    if (answer == TPageAnswer::Refused) {
        // No confirmation: the wait stays armed and ends at the next tick,
        // so the resend question comes at once.
        if (PageAwaited())
            AutoTimer.interval = 0;
        return;
    }
    if (answer != TPageAnswer::OnLine && answer != TPageAnswer::Earlier)
        return;
    const std::uint32_t index = PageConfirm.address() >> 8;
    EndWait();
    lStat->setText(QStringLiteral("Programowanie pamięci flash %1/%2")
                       .arg(index)
                       .arg(SendFlash.PartFileSize));
    SendFlash.Part[index].status = true;
    pBar->setValue(int(index));
    if (std::int32_t(index) < SendFlash.PartFileSize) {
        SendTransferPage(index + 1);
        return;
    }
    CloseTransfer();
}

void TMainForm::CloseTransfer()
{
    SetFlashStage(TFlashStage::Closing);
    // However this ends (an error included) the bar goes back to 0, and the
    // buttons come back unless command 3 is now awaited.
    struct TEnd {
        TMainForm& form;
        ~TEnd()
        {
            if (form.FlashStage == TFlashStage::Closing)
                form.SetFlashStage(TFlashStage::Idle);
            form.pBar->setValue(0);
        }
    } end{*this};
    // The kind of transfer decides, never the page number.
    if (TransferKind == TTransferKind::Graphics) {
        Dialogs().Message(this, QString::fromUtf8(cGraphicsDoneText));
        return;
    }
    Dialogs().Message(this, QString::fromUtf8(cProgramCpuText));
    QString reason;
    if (!TrySendFrame(BuildCommandFrame(cmd_UpgreadeCPU), cmd_UpgreadeCPU, reason)) {
        Dialogs().DetailedMessage(
            this,
            QStringLiteral("Nie można wysłać komendy Upgreade CPU do Quorvantela. "
                           "Wyślij ją przyciskiem „komenda Upgreade CPU”."),
            reason);
        return;
    }
    if (AutoTimer.cmd == cmd_UpgreadeCPU)
        SetFlashStage(TFlashStage::AwaitCpu);
}

void TMainForm::FlashPageTimeout()
{
    AutoTimer.interval = TimerInterval;
    if (FlashStage != TFlashStage::Transfer) {
        EndWait();
        return;
    }
    const bool resend = Dialogs().Question(
        this, QStringLiteral("Błąd wysyłania danych do Quorvantela, czy mam kontynuować dalej?"));
    // The transfer may have ended while the question was open (its last page
    // confirmed after all): then the answer has nothing left to act on.
    if (FlashStage != TFlashStage::Transfer)
        return;
    if (!resend) {
        EndWait();
        SetFlashStage(TFlashStage::Idle);
        return;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", unsigned(SendFlash.PartSendCount));
    LogLine("Zaczynam wysyłanie od " + std::to_string(SendFlash.PartSendCount) + " $" + hex);
    // Not written: told, and the question comes again after 100 ticks.
    SendTransferPage(std::uint32_t(SendFlash.PartSendCount));
}
