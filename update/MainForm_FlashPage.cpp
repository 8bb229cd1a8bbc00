// The window's page programming exchange: one page frame, one confirmation,
// the next page; a missing confirmation asks the operator about a resend.
#include "ui/MainUnit.h"

#include "serial/CPort.h"
#include "ui/Dialogs.h"
#include "update/flash.h"

#include <QLabel>
#include <QProgressBar>

#include <cstdio>

bool TMainForm::SendFlashPage(std::uint32_t nrpart)
{
    if (nrpart >= std::uint32_t(cPartCount))
        return false;
    const tPart& part = SendFlash.Part[nrpart];
    Page.Build(part.adres, part.buf);
    if (!IfOpenPort())
        return false;
    // A write error leaves here, before the wait is armed. No log line per page.
    ComPort1->WriteStr(TBytes(Page.Bytes()));
    ArmAutoTimer(cmd_ProgramFlashPage);
    SendFlash.PartSendCount = std::int32_t(nrpart);
    return true;
}

void TMainForm::SendNextFlashPage(std::uint32_t nrpart)
{
    try {
        if (!SendFlashPage(nrpart))
            SetFlashStage(TFlashStage::Idle);
    } catch (...) {
        SetFlashStage(TFlashStage::Idle);
        throw;
    }
}

void TMainForm::fcmd_ProgramFlashPage()
{
    // Only a transfer under way takes confirmations: a stray one must never
    // close a transfer, let alone send the CPU command.
    if (FlashStage != TFlashStage::Transfer)
        return;
    PageConfirm.Take(Receiver.myCom, Receiver.myComSize);
    const std::uint32_t index = PageConfirm.address() >> 8;
    // No such page: left alone, so the wait runs out and the resend question
    // comes; never taken for the end of the transfer.
    if (index >= std::uint32_t(cPartCount))
        return;
    EndWait();
    lStat->setText(QStringLiteral("Programowanie pamięci flash %1/%2")
                       .arg(index)
                       .arg(SendFlash.PartFileSize));
    SendFlash.Part[index].status = true;
    pBar->setValue(int(index));
    if (std::int32_t(index) < SendFlash.PartFileSize) {
        SendNextFlashPage(index + 1);
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
    send_cmd_UpgreadeCPU();
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
    // Not written (port cannot be opened, or a write error): the wait stays
    // armed with 100 ticks, so the question comes again.
    SendFlashPage(std::uint32_t(SendFlash.PartSendCount));
}
