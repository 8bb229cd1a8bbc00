// The static text page: its set-up, the send, and the wiring of every
// display-content control.
#include "MainForm_Content.h"

#include "ui/MainUnit.h"
#include "ui/Wiring.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

void TMainForm::ConnectContentHandlers()
{
    using C = QComboBox;
    // Static text and its preview.
    Wire(this, btnCbstSend, &QPushButton::clicked, &TMainForm::btnCbstSendClick);
    Wire(this, cbst, &C::currentIndexChanged, &TMainForm::cbstChange);
    Wire(this, sestX, &TSpinEdit::valueChanged, &TMainForm::sestXChange);
    Wire(this, sestY, &TSpinEdit::valueChanged, &TMainForm::sestYChange);
    Wire(this, est, &QLineEdit::textChanged, &TMainForm::estChange);
    Wire(this, cbstt, &C::currentIndexChanged, &TMainForm::cbsttChange);
    Wire(this, cbstb, &C::currentIndexChanged, &TMainForm::cbstbChange);
    // toggled, not clicked: the keyboard and screen readers tick it too.
    Wire(this, cbAnimate, &QCheckBox::toggled, &TMainForm::cbAnimateClick);
    Wire(this, cbAnimating, &C::currentIndexChanged, &TMainForm::cbAnimatingChange);
    Wire(this, Timer2, &QTimer::timeout, &TMainForm::Timer2Timer);
    ConnectPreviewMouse();

    // Text windows. The field handlers also run when a window is loaded
    // into the controls; they then store the value just loaded.
    Wire(this, cbad, &C::activated, &TMainForm::cbadChange);
    connect(cbad, &C::currentIndexChanged, this, [this](int index) {
        if (index < 0) // cleared from code: back to window "1"
            Guarded(this, [this] { cbadChange(); });
    });
    connect(cbad->lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString& text) { Guarded(this, [this, text] { cbadTextEdited(text); }); });
    Wire(this, cbsdt, &C::currentIndexChanged, &TMainForm::cbsdtChange);
    Wire(this, cbsdb, &C::currentIndexChanged, &TMainForm::cbsdbChange);
    Wire(this, cbsd, &C::currentIndexChanged, &TMainForm::cbsdChange);
    Wire(this, sedL, &TSpinEdit::valueChanged, &TMainForm::sedLChange);
    Wire(this, sedT, &TSpinEdit::valueChanged, &TMainForm::sedTChange);
    Wire(this, sedW, &TSpinEdit::valueChanged, &TMainForm::sedWChange);
    Wire(this, sedH, &TSpinEdit::valueChanged, &TMainForm::sedHChange);
    Wire(this, sedHoriz, &TSpinEdit::valueChanged, &TMainForm::sedHorizChange);
    Wire(this, sedVert, &TSpinEdit::valueChanged, &TMainForm::sedVertChange);
    Wire(this, esd, &QLineEdit::textChanged, &TMainForm::esdChange);
    Wire(this, btnCbsdSend, &QPushButton::clicked, &TMainForm::btnCbsdSendClick);

    Wire(this, btnSendLogo, &QPushButton::clicked, &TMainForm::btnSendLogoClick);
    Wire(this, btshowStruc, &QPushButton::clicked, &TMainForm::btshowStrucClick);
}

void TMainForm::Init_StatycznyText()
{
    // The selectors are pick-only, so every frame carries a list position.
    for (QComboBox* box : {cbstt, cbstb, cbst, cbAnimating, cbsdt, cbsdb, cbsd})
        box->setEditable(false);
    cbstt->setCurrentIndex(1);
    cbstb->setCurrentIndex(0);
    est->setMaxLength(int(cMaxTextLength));
    stImage->setAccessibleDescription(QStringLiteral(
        "Podgląd wyświetlacza 128 × 32 punkty, powiększony trzykrotnie: statyczny tekst "
        "w wybranych kolorach, czcionce i położeniu. Przeciągnięcie lewym przyciskiem "
        "myszy przesuwa tekst."));
    InitPreview();
    sestX->setAlignment(Qt::AlignCenter);
    sestY->setAlignment(Qt::AlignCenter);
}

tStaticText TMainForm::StaticTextSettings(std::u16string_view text)
{
    tStaticText s;
    s.Color = std::uint32_t(cbstt->currentIndex());
    s.ColorBack = std::uint32_t(cbstb->currentIndex());
    s.X = SpinValue(sestX);
    s.Y = SpinValue(sestY);
    s.Font = cbst->currentIndex();
    s.Text = text;
    return s;
}

void TMainForm::btnCbstSendClick()
{
    const QString t = est->text();
    send_cmd_putText(BuildSendText(SendText, StaticTextSettings(Utf16(t))));
}
