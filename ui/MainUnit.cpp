#include "MainUnit.h"

#include "Dialogs.h"
#include "LayoutKit.h"
#include "LogView.h"
#include "SpinEdit.h"
#include "Wiring.h"
#include "serial/CPort.h"
#include "serial/CPortCtl.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace {
const char* const cCaption = "Vornale/Dazoza Quorvantel V1.02 2017-06-12";
} // namespace

TMainForm::TMainForm(const std::string& portArg, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QString::fromLatin1(cCaption));
    setFont(layout::TahomaFont(11));

    // The serial component only stores its settings here; no port is opened.
    ComPort1 = layout::Named(new TComPort(this), "ComPort1");
    ComPort1->SetBaudRate(br9600);
    ComPort1->SetPort("COM1");
    ComPort1->Parity().SetBits(prNone);
    ComPort1->SetStopBits(sbOneStopBit);
    ComPort1->SetDataBits(dbEight);
    ComPort1->SetEventChar('\xFF');
    ComPort1->SetEvents({evRxChar});
    ComPort1->Buffer().SetInputSize(512);
    ComPort1->Buffer().SetOutputSize(512);
    ComPort1->FlowControl().SetOutCTSFlow(false);
    ComPort1->FlowControl().SetOutDSRFlow(false);
    ComPort1->FlowControl().SetControlDTR(dtrDisable);
    ComPort1->FlowControl().SetControlRTS(rtsDisable);
    ComPort1->FlowControl().SetXonXoffOut(false);
    ComPort1->FlowControl().SetXonXoffIn(false);
    // Answer handlers run guarded (ProcessReceived); a read error goes back
    // to the port, which then stops delivering: IfOpenPort reopens it.
    ComPort1->OnRxChar = [this](TCustomComPort* sender, std::int32_t count) {
        ComPort1RxChar(static_cast<TComPort*>(sender), count);
    };
    ComPort1->OnLineLost = [this](TCustomComPort*) { ComPort1LineLost(); };

    Timer1 = layout::Named(new QTimer(this), "Timer1");
    Timer1->setInterval(cTimer1TickMs);
    Timer2 = layout::Named(new QTimer(this), "Timer2");
    Timer2->setInterval(40);

    BuildLayout(); // reads the port list; its error ends the construction

    if (!portArg.empty()) {
        const QString name = QString::fromStdString(portArg);
        if (cbComName->findText(name, Qt::MatchFixedString) < 0)
            cbComName->addItem(name);
        ComPort1->SetPort(portArg);
        cbComName->UpdateSettings();
    }

    ConnectHandlers();
    Timer1->start();
    FormCreate();
}

TMainForm::~TMainForm()
{
    // The port goes first, while the receiver and the controls its deliveries
    // reach still exist.
    if (ComPort1) {
        try {
            ComPort1->Close();
        } catch (...) {
            // Nobody is left to tell; the port's own destructor tries again.
        }
        ComPort1->OnRxChar = nullptr;
        delete ComPort1;
        ComPort1 = nullptr;
    }
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    // Closing the window ends the run: the line is released at once.
    try {
        ComPort1->Close();
    } catch (...) {
        // The destructor makes the last attempt.
    }
    QWidget::closeEvent(event);
}

void TMainForm::ConnectHandlers()
{
    // Each subsystem wires its own controls, beside its handlers.
    ConnectPortHandlers();
    ConnectDeviceHandlers();
    ConnectContentHandlers();
    ConnectUpdateHandlers();
    Wire(this, btnClearMemo, &QPushButton::clicked, &TMainForm::btnClearMemoClick);
}

void TMainForm::FormCreate()
{
    Receiver.Reset();
    lStat->setText(QStringLiteral("Czekam na Twój ruch...."));
    cbAuto->setChecked(seJasnosc->value() == 0);
    Init_StatycznyText();
    Init_DynamicznyText();
}

void TMainForm::AppendLog(const QString& line)
{
    Memo1->appendPlainText(line);
}

void TMainForm::btnClearMemoClick()
{
    Memo1->clear();
}

void TMainForm::LogLine(const std::string& line)
{
    Memo1->appendUtf8(line);
}

void TMainForm::PauseMs(int ms)
{
    if (PauseHook)
        PauseHook(ms);
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

void TMainForm::SetSelectorColour(QComboBox* box, const QColor& colour)
{
    // The list draws as a button: its face takes the colour, its text a
    // colour that stays readable on it.
    const QColor text = colour.lightness() < 128 ? QColor(Qt::white) : QColor(Qt::black);
    QPalette p = box->palette();
    for (auto role : {QPalette::Base, QPalette::Button, QPalette::Window})
        p.setColor(role, colour);
    for (auto role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
        p.setColor(role, text);
    box->setPalette(p);
    // The opened list keeps the window's colours.
    box->view()->setPalette(QApplication::palette(box->view()));
}

QColor TMainForm::SelectorColour(const QComboBox* box)
{
    return box->palette().color(QPalette::Base);
}
