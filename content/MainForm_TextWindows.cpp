// The text windows page: the window table shown in the controls, every change
// stored at once into the selected window, and the send.
#include "MainForm_Content.h"

#include "content/CodePage.h"
#include "ui/MainUnit.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

void TMainForm::Init_DynamicznyText()
{
    {
        const QSignalBlocker bt(cbsdt), bb(cbsdb);
        cbsdt->setCurrentIndex(1);
        cbsdb->setCurrentIndex(0);
    }
    for (TSpinEdit* box : {sedL, sedW, sedT, sedH, sedHoriz, sedVert})
        box->setAlignment(Qt::AlignCenter);
    esd->setMaxLength(int(cMaxTextLength));
    WindowTextFrames.SetDefaults();
    cbadChange();
}

tWindowTextFrame& TMainForm::SelectedWindow()
{
    return WindowTextFrames[cbad->currentIndex()];
}

void TMainForm::cbadTextEdited(const QString& text)
{
    // Typed text that names an entry selects it; any other selects none.
    const int i = cbad->findText(text, Qt::MatchExactly);
    if (i != cbad->currentIndex()) {
        const QSignalBlocker block(cbad);
        cbad->setCurrentIndex(i);
    }
    cbadChange();
}

void TMainForm::cbadChange()
{
    int i = cbad->currentIndex();
    if (i < 0) {
        i = 0;
        const QSignalBlocker block(cbad);
        cbad->setCurrentIndex(0);
        cbad->setEditText(cbad->itemText(0));
    }
    // A copy: loading a control runs its field handler, which stores into
    // the entry while the others are still being loaded.
    const tWindowTextFrame e = WindowTextFrames[i];
    cbsdt->setCurrentIndex(int(e.Color));
    cbsdb->setCurrentIndex(int(e.ColorBack));
    cbsd->setCurrentIndex(int(e.Font));
    sedL->setValue(e.Left);
    sedT->setValue(e.Top);
    sedW->setValue(e.Width);
    sedH->setValue(e.Height);
    sedHoriz->setValue(e.StepHoriz);
    sedVert->setValue(e.StepVert);
    esd->setText(QString::fromStdU16String(FromWindows1250(e.Text)));
}

void TMainForm::cbsdtChange() { SelectedWindow().Color = std::uint32_t(cbsdt->currentIndex()); }
void TMainForm::cbsdbChange() { SelectedWindow().ColorBack = std::uint32_t(cbsdb->currentIndex()); }
void TMainForm::cbsdChange() { SelectedWindow().Font = std::uint16_t(cbsd->currentIndex()); }
void TMainForm::sedLChange() { SelectedWindow().Left = std::int16_t(sedL->value()); }
void TMainForm::sedTChange() { SelectedWindow().Top = std::int16_t(sedT->value()); }
void TMainForm::sedWChange() { SelectedWindow().Width = std::int16_t(sedW->value()); }
void TMainForm::sedHChange() { SelectedWindow().Height = std::int16_t(sedH->value()); }
void TMainForm::sedHorizChange() { SelectedWindow().StepHoriz = std::int8_t(sedHoriz->value()); }
void TMainForm::sedVertChange() { SelectedWindow().StepVert = std::int8_t(sedVert->value()); }

void TMainForm::esdChange()
{
    SelectedWindow().Text = ToWindows1250(Utf16(esd->text()), cMaxStoredText);
}

void TMainForm::btnCbsdSendClick()
{
    const int w = cbad->currentIndex();
    send_cmd_putTextFrame(BuildSendTextFrame(SendTextFrame, w, WindowTextFrames[w]));
}
