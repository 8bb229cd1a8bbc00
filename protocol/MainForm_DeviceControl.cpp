// The controls that drive the controller directly: connection test, restart,
// clear screen, brightness, version, and the two speed switches.
#include "ui/MainUnit.h"

#include "serial/CPort.h"
#include "serial/CPortCtl.h"
#include "ui/SpinEdit.h"
#include "ui/Wiring.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTimer>

void TMainForm::ConnectDeviceHandlers()
{
    Wire(this, btnTestConnection, &QPushButton::clicked, &TMainForm::btnTestConnectionClick);
    Wire(this, btnRestart, &QPushButton::clicked, &TMainForm::btnRestartClick);
    Wire(this, btnClearScreen, &QPushButton::clicked, &TMainForm::btnClearScreenClick);
    Wire(this, btnUstaw, &QPushButton::clicked, &TMainForm::btnUstawClick);
    Wire(this, btnPobierz, &QPushButton::clicked, &TMainForm::btnPobierzClick);
    Wire(this, seJasnosc, &QSpinBox::valueChanged, &TMainForm::seJasnoscChange);
    // Keyboard and accessibility tick the box through toggle(), which emits
    // no click: the field follows every change of the box.
    Wire(this, cbAuto, &QCheckBox::toggled, &TMainForm::cbAutoClick);
    Wire(this, BitBtn2, &QPushButton::clicked, &TMainForm::BitBtn2Click);
    Wire(this, btnSet9600, &QPushButton::clicked, &TMainForm::btnSet9600Click);
    Wire(this, btnSetHiSpeed, &QPushButton::clicked, &TMainForm::btnSetHiSpeedClick);
    Wire(this, Timer1, &QTimer::timeout, &TMainForm::Timer1Timer);
}

void TMainForm::btnTestConnectionClick() { send_cmd_TestConnect(); }
void TMainForm::btnRestartClick() { send_cmd_Restart(); }
void TMainForm::btnClearScreenClick() { send_cmd_FillScreen(); }
// Sends the field's value, never the state of "Automat".
void TMainForm::btnUstawClick() { send_cmd_setJasnosc(); }
void TMainForm::btnPobierzClick() { send_cmd_getJasnosc(); }
void TMainForm::BitBtn2Click() { send_cmd_GetVersion(); }

// "Automat" is ticked exactly when the field holds 0 (0 = automatic brightness).
void TMainForm::seJasnoscChange() { cbAuto->setChecked(seJasnosc->value() == 0); }

void TMainForm::cbAutoClick()
{
    // Clearing the box leaves the field alone, at 0, until another value is chosen.
    if (cbAuto->isChecked())
        seJasnosc->setValue(0);
}

void TMainForm::SwitchSpeed(std::uint8_t code, TBaudRate rate, const char* speedText)
{
    // The command goes out at the present speed; if the port can't be opened
    // nothing is sent, but the local switch still runs.
    if (code == cmd_Set9600)
        send_cmd_Set9600();
    else
        send_cmd_Set115200();
    // Gives the controller time to answer and change its speed.
    PauseMs(200);
    ComPort1->Close();
    // The speed selector is bound to ComPort1 for the window's whole life.
    cbComSpeed->GetComPort()->SetBaudRate(rate);
    cbComSpeed->SetText(speedText);
    // Not through IfOpenPort: a failure here goes to the error dialog.
    ComPort1->Open();
}

void TMainForm::btnSet9600Click() { SwitchSpeed(cmd_Set9600, br9600, "9600"); }
void TMainForm::btnSetHiSpeedClick() { SwitchSpeed(cmd_Set115200, br115200, "115200"); }
