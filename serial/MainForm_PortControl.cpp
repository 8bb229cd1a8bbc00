// The open/close button and the opening of the port before a send.
#include "serial/CPort.h"
#include "serial/CPortCtl.h"
#include "serial/OpenFailure.h"
#include "ui/Dialogs.h"
#include "ui/MainUnit.h"
#include "ui/Wiring.h"

#include <QPushButton>

namespace {

QString CannotOpenText(const TComComboBox* portSelector)
{
    return QStringLiteral("Nie można otwortzyć portu ") +
           QString::fromStdString(portSelector->GetText());
}

// The box keeps its text; the reason goes to its details and, as one line,
// to the operator log.
void TellCannotOpen(TMainForm* form, const EComPort& e)
{
    const QString reason = QString::fromStdString(PortFailureReason(e, form->ComPort1->Port()));
    form->AppendLog(reason);
    Dialogs().DetailedMessage(form, CannotOpenText(form->cbComName), reason);
}

} // namespace

void TMainForm::ConnectPortHandlers()
{
    Wire(this, btnOpenClose, &QPushButton::clicked, &TMainForm::btnOpenCloseClick);
    // The selectors' choice: the selectors know nothing of the window's
    // dialogs, so the guard is put on here.
    auto* name = cbComName;
    connect(cbComName, &QComboBox::activated, this,
            [this, name] { Guarded(this, [name] { name->Change(); }); });
    auto* speed = cbComSpeed;
    connect(cbComSpeed, &QComboBox::activated, this,
            [this, speed] { Guarded(this, [speed] { speed->Change(); }); });
}

bool TMainForm::IfOpenPort()
{
    btnOpenClose->setText(QStringLiteral("Close Port"));
    if (ComPort1->Connected())
        return true;
    try {
        ComPort1->Open();
    } catch (const EComPort& e) {
        btnOpenClose->setText(QStringLiteral("Open"));
        TellCannotOpen(this, e);
        return false;
    }
    return true;
}

void TMainForm::btnOpenCloseClick()
{
    // The port's state decides, never the caption.
    try {
        if (ComPort1->Connected()) {
            ComPort1->Close();
            btnOpenClose->setText(QStringLiteral("Open"));
        } else {
            ComPort1->Open();
            btnOpenClose->setText(QStringLiteral("Close"));
        }
    } catch (const EComPort& e) {
        btnOpenClose->setText(QStringLiteral("Open"));
        TellCannotOpen(this, e);
    }
}

void TMainForm::ComPort1LineLost()
{
    // The port has already closed itself; the next send reopens it by name.
    btnOpenClose->setText(QStringLiteral("Open"));
    AppendLog(QStringLiteral("Utracono połączenie z portem ") + QString::fromStdString(ComPort1->Port()));
}
