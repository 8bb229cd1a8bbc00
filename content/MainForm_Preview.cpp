// The static text's preview: a 128 x 32 bitmap drawn without anti-aliasing
// and shown three times enlarged; dragging over it moves the text; and the
// animation that resends the text one pixel further at every tick.
#include "MainForm_Content.h"

#include "serial/CPort.h"
#include "ui/Dialogs.h"
#include "ui/LayoutKit.h"
#include "ui/MainUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

namespace {

constexpr int cBitmapWidth = 128;
constexpr int cBitmapHeight = 32;
constexpr int cZoom = 3;
// The last X the animation sends before it starts again from 0.
constexpr int cLastAnimatedX = 128;

// A pick-only list with no selection falls back to its first colour.
QColor ListColour(int position)
{
    const QList<QColor>& colours = layout::ColourValues();
    return colours.value(position, colours.first());
}

void Draw(TMainForm::TCanvas& cnv, const QString& text, int x, int y)
{
    QPainter p(&cnv.Bitmap);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, false);
    p.fillRect(cnv.Bitmap.rect(), cnv.Brush);
    p.setFont(cnv.Font);
    p.setPen(cnv.Pen);
    // (x, y) is the top-left corner of the text cell, as the controller places it.
    const QFontMetrics fm(cnv.Font, &cnv.Bitmap);
    p.drawText(QPoint(x, y + fm.ascent()), text);
}

void Show(QLabel* area, const QImage& bitmap)
{
    // Scaled here block by block: the label's own scaling would smooth it.
    area->setPixmap(QPixmap::fromImage(bitmap.scaled(bitmap.width() * cZoom, bitmap.height() * cZoom,
                                                     Qt::IgnoreAspectRatio, Qt::FastTransformation)));
}

// Pointer movement over the preview, handed to the window's handler.
class TPreviewMouse final : public QObject {
public:
    explicit TPreviewMouse(TMainForm* form) : QObject(form), form_(form) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseMove) {
            const auto* m = static_cast<QMouseEvent*>(event);
            const QPoint p = m->position().toPoint() - form_->stImage->contentsRect().topLeft();
            const auto buttons = m->buttons();
            const auto modifiers = m->modifiers();
            Guarded(form_, [&] { form_->stImageMouseMove(buttons, modifiers, p.x(), p.y()); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TMainForm* form_;
};

} // namespace

void TMainForm::ConnectPreviewMouse()
{
    stImage->installEventFilter(new TPreviewMouse(this));
}

void TMainForm::Font2Mono(TCanvas& Cnv)
{
    QFont f = Cnv.Font;
    f.setStyleStrategy(QFont::NoAntialias);
    Cnv.Font = f;
}

void TMainForm::InitPreview()
{
    TCanvas& cnv = StImageCanvas;
    cnv.Bitmap = QImage(cBitmapWidth, cBitmapHeight, QImage::Format_RGB888);
    // The colours and the size come from the selectors, as at every redraw.
    cnv.Font = QFont(QStringLiteral("Arial"));
    RepaintStImage();
    // Rates up to 25 per second: a coarse timer may come late by 5 %.
    Timer2->setTimerType(Qt::PreciseTimer);
}

void TMainForm::RepaintStImage()
{
    TCanvas& cnv = StImageCanvas;
    const int font = cbst->currentIndex();
    cnv.Brush = SelectorColour(cbstb);
    cnv.Pen = SelectorColour(cbstt);
    if (font >= 0)
        cnv.Font.setPointSize(layout::FontCell(font));
    Font2Mono(cnv);
    Draw(cnv, est->text(), sestX->value(), sestY->value());
    Show(stImage, cnv.Bitmap);
}

void TMainForm::cbstChange() { RepaintStImage(); }
void TMainForm::sestXChange() { RepaintStImage(); }
void TMainForm::sestYChange() { RepaintStImage(); }
void TMainForm::estChange() { RepaintStImage(); }

// The colours change now and show at the next redraw.
void TMainForm::cbsttChange()
{
    SetSelectorColour(cbstt, ListColour(cbstt->currentIndex()));
    StImageCanvas.Pen = SelectorColour(cbstt);
}

void TMainForm::cbstbChange()
{
    SetSelectorColour(cbstb, ListColour(cbstb->currentIndex()));
    StImageCanvas.Brush = SelectorColour(cbstb);
}

void TMainForm::stImageMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, int X, int Y)
{
    const Qt::KeyboardModifiers keys =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (buttons != Qt::LeftButton || (modifiers & keys))
        return;
    // Truncating toward zero; positions outside the area occur while dragging.
    PosX = X / cZoom;
    PosY = Y / cZoom;
    sestX->setValue(PosX);
    sestY->setValue(PosY);
    RepaintStImage();
}

void TMainForm::cbAnimateClick()
{
    if (cbAnimate->isChecked())
        Timer2->start();
    else
        Timer2->stop();
}

void TMainForm::cbAnimatingChange()
{
    const int p = cbAnimating->currentIndex();
    if (p >= 0)
        Timer2->setInterval(1000 / (p + 1));
}

void TMainForm::Timer2Timer()
{
    // No text goes between the pages of an update.
    if (FlashStage != TFlashStage::Idle) {
        Timer2->stop();
        cbAnimate->setChecked(false);
        return;
    }
    // The next tick comes one whole interval from this one: a tick held up
    // behind a slow line (the answer's pause) is not followed by a catch-up
    // tick on the timer's old phase.
    Timer2->start();
    int x = sestX->value() + 1;
    if (x > cLastAnimatedX)
        x = 0;
    sestX->setValue(x);
    // A port that cannot be opened stops the animation before the send
    // reports it, so the operator gets one message rather than one a tick.
    if (!ComPort1->Connected()) {
        try {
            ComPort1->Open();
        } catch (const EComPort&) {
            cbAnimate->setChecked(false);
        }
    }
    // Likewise a write that fails: its error box would otherwise be followed
    // by one more for every tick delivered while it is open.
    try {
        btnCbstSendClick();
    } catch (...) {
        cbAnimate->setChecked(false);
        throw;
    }
}
