// The window's update procedures: the "Aktualizacja" buttons, the file
// choice, the start of a transfer and the answer to the CPU command.
#include "ui/MainUnit.h"

#include "serial/CPort.h"
#include "serial/CPortCtl.h"
#include "ui/Dialogs.h"
#include "ui/Wiring.h"
#include "update/flash.h"

#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <initializer_list>

void TMainForm::ConnectUpdateHandlers()
{
    Wire(this, btnFlash, &QPushButton::clicked, &TMainForm::btnFlashClick);
    Wire(this, btnAutoRun, &QPushButton::clicked, &TMainForm::btnAutoRunClick);
    Wire(this, BitBtn1, &QPushButton::clicked, &TMainForm::BitBtn1Click);
}

void TMainForm::SetFlashStage(TFlashStage stage)
{
    FlashStage = stage;
    const bool idle = stage == TFlashStage::Idle;
    // A second procedure must not start in the middle of the first, and
    // nothing else may send or change the line while an update runs: the
    // start question says it cannot be interrupted.
    for (QWidget* w : std::initializer_list<QWidget*>{
             btnFlash, BitBtn1, btnAutoRun, btnTestConnection, btnRestart, btnClearScreen, btnUstaw,
             btnPobierz, BitBtn2, btnCbstSend, cbAnimate, btnCbsdSend, btnSendLogo, btnSet9600,
             btnSetHiSpeed, cbComSpeed, cbComName, btnOpenClose})
        w->setEnabled(idle);
    if (idle) {
        disconnect(FlashWaitLink);
    } else if (!FlashWaitLink) {
        // Queued: a handler that ends the wait and arms the next one in one
        // go is seen with the next one awaited.
        FlashWaitLink = connect(this, &TMainForm::AnswerWaitChanged, this,
                                [this] { Guarded(this, [this] { CheckFlashStage(); }); },
                                Qt::QueuedConnection);
    }
}

void TMainForm::CheckFlashStage()
{
    // The wait for the CPU command is over once that command is no longer
    // the one awaited: answered, or its general timeout. A transfer is not
    // ended here: only by the operator's No at the resend question or by its
    // closing step.
    if (FlashStage == TFlashStage::AwaitCpu && AutoTimer.cmd != cmd_UpgreadeCPU)
        SetFlashStage(TFlashStage::Idle);
}

void TMainForm::SpeedAdvice()
{
    if (cbComSpeed->GetText() == "9600")
        Dialogs().Message(this, QStringLiteral("Proponuję przełączyć prędkość na 115200."));
}

bool TMainForm::LoadFlash()
{
    const QString name = Dialogs().OpenFile(this, OpenDialog1.Filter, OpenDialog1.DefaultExt,
                                            OpenDialog1.FileName);
    if (name.isEmpty())
        return false;
    OpenDialog1.FileName = name;
    // An unreadable file raises here and reaches the operator; nothing is sent.
    LoadFromFile(name.toStdString());
    return true;
}

void TMainForm::btnFlashClick()
{
    SpeedAdvice();
    OpenDialog1.Filter = QStringLiteral("Plik Firmware Quorvantel (*.BIN)|*.BIN");
    OpenDialog1.DefaultExt = QStringLiteral("*.BIN");
    OpenDialog1.FileName = QStringLiteral("QuorvantelRS_firmware.bin");
    UpgreadeFlash();
}

bool TMainForm::ChooseAndConfirm(const QString& question)
{
    return FlashStage == TFlashStage::Idle && LoadFlash() && Dialogs().Question(this, question);
}

void TMainForm::UpgreadeFlash()
{
    if (!ChooseAndConfirm(QStringLiteral("Zaraz zacznie się proces upgreade firmware CPU. "
                                         "Nie będzie można go przerwać. Czy mam kontynuować?")))
        return;
    if (!LoadCpuFirmware(OpenDialog1.FileName.toStdString())) {
        Dialogs().Message(this, QString::fromUtf8(cBadCpuFileText));
        return;
    }
    StartTransfer(TTransferKind::Cpu, std::uint32_t(cCpuFirstPart), SendFlash.PartFileSize);
}

void TMainForm::btnAutoRunClick()
{
    SpeedAdvice();
    // The file name stays as the run left it: "Flash", or the file picked last.
    OpenDialog1.Filter = QStringLiteral("Plik Quorvantel Flash (*.QGF)|*.QGF");
    OpenDialog1.DefaultExt = QStringLiteral("*.QGF");
    FlashingGFX();
}

void TMainForm::FlashingGFX()
{
    if (!ChooseAndConfirm(QStringLiteral("Zaraz zacznie się proces aktualizowania danych graficznych. "
                                         "Nie będzie można go przerwać. Czy mam kontynuować?")))
        return;
    LoadGraphics(OpenDialog1.FileName.toStdString());
    StartTransfer(TTransferKind::Graphics, 0, cLastPart);
}

void TMainForm::StartTransfer(TTransferKind kind, std::uint32_t firstPart, int barMaximum)
{
    TransferKind = kind;
    TransferFirst = firstPart;
    pBar->setMaximum(barMaximum);
    pBar->setValue(int(firstPart));
    // The static text's animation would put its frames between the pages.
    Timer2->stop();
    cbAnimate->setChecked(false);
    UpdateAdapter.reset(); // taken at the first page
    SetFlashStage(TFlashStage::Transfer);
    SendTransferPage(firstPart);
}

void TMainForm::BitBtn1Click() { send_cmd_UpgreadeCPU(); }

void TMainForm::fcmd_UpgreadeCPU()
{
    TakeAnswer(GetCommand.raw);
    LogLine("cmd_UpgradeCPU");
    if (FlashStage == TFlashStage::AwaitCpu)
        SetFlashStage(TFlashStage::Idle);
    // An answer nobody asked for in the middle of a transfer leaves its line alone.
    if (PageAwaited())
        return;
    // Runs inside the delivery of this answer; the port allows a close there.
    ComPort1->Close();
    cbComSpeed->GetComPort()->SetBaudRate(br9600);
    cbComSpeed->SetText("9600");
    IfOpenPort();
}
