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

bool TMainForm::SendFlashPage(std::uint32_t nrpart, QString* reason)
{
    QString why;
    if (!reason)
        reason = &why;
    if (nrpart >= std::uint32_t(cPartCount)) {
        *reason = QStringLiteral("Brak strony %1").arg(nrpart);
        return false;
    }
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
        reason = QString::fromUtf8(e.what());
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
    // Only a transfer under way takes confirmations: a stray one must never
    // close a transfer, let alone send the CPU command. A frame of another
    // length is no confirmation (a page's echo, a broken frame).
    if (FlashStage != TFlashStage::Transfer ||
        Receiver.myComSize != std::int32_t(tProgramFlashPageConfirm::cSize))
        return;
    PageConfirm.Take(Receiver.myCom, Receiver.myComSize);
    const std::uint32_t index = PageConfirm.address() >> 8;
    // No such page, or one not sent yet: left alone, so the wait runs out and
    // the resend question comes. Following it would skip pages.
    if (index >= std::uint32_t(cPartCount) || index > std::uint32_t(SendFlash.PartSendCount))
        return;
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
    CloseTransfer(index);
}

void TMainForm::CloseTransfer(std::uint32_t index)
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
    if (index >= cGraphicsClosingPart) {
        Dialogs().Message(this, QStringLiteral("Dane graficzne zostały zaktualizowane."));
        return;
    }
    Dialogs().Message(this, QStringLiteral("Po naciśnięciu OK nastapi zaprogramowanie procesora?"));
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
