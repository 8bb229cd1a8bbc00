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

// The reason, as one line, to the operator log; returned for the box's details.
QString LogCannotOpen(TMainForm* form, const EComPort& e)
{
    const QString reason = QString::fromStdString(PortFailureReason(e, form->ComPort1->Port()));
    form->AppendLog(reason);
    return reason;
}

// The box keeps its text; the reason goes to its details.
void TellCannotOpen(TMainForm* form, const EComPort& e)
{
    Dialogs().DetailedMessage(form, CannotOpenText(form->cbComName), LogCannotOpen(form, e));
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

namespace {

// Opens the port unless it is open: false, with the reason logged and
// returned, when it cannot be opened.
bool OpenOrReason(TMainForm* form, QString& reason)
{
    TComPort* port = form->ComPort1;
    form->btnOpenClose->setText(QStringLiteral("Close Port"));
    if (port->Connected()) {
        if (port->EventThreadActive())
            return true;
        // An error in a delivery has ended the port's event thread: open but
        // deaf. Opened afresh, so that this command's answer is heard.
        form->AppendLog(QStringLiteral("Port ") + QString::fromStdString(port->Port()) +
                        QStringLiteral(" przestał odbierać dane, otwieram go ponownie"));
        port->Close();
    }
    try {
        port->Open();
    } catch (const EComPort& e) {
        form->btnOpenClose->setText(QStringLiteral("Open"));
        reason = LogCannotOpen(form, e);
        return false;
    }
    return true;
}

} // namespace

bool TMainForm::IfOpenPort()
{
    QString reason;
    if (OpenOrReason(this, reason))
        return true;
    Dialogs().DetailedMessage(this, CannotOpenText(cbComName), reason);
    return false;
}

bool TMainForm::TryOpenPort(QString& reason)
{
    if (OpenOrReason(this, reason))
        return true;
    reason = CannotOpenText(cbComName) + QLatin1Char('\n') + reason;
    return false;
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
    AppendLog(LineLostText());
}

QString TMainForm::LineLostText() const
{
    return QStringLiteral("Utracono połączenie z portem ") + QString::fromStdString(ComPort1->Port());
}
