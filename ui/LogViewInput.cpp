// The operator log's view: what the keyboard and the mouse do in it, and its
// context menu. Selection works as in Qt's own text widgets: drag (the view
// scrolls while the pointer is held beyond any edge), shift-click, a
// double-click picks a word, a third click the line; a selection made so
// becomes the primary selection for middle-click paste.
#include "Dialogs.h"
#include "LogText.h"
#include "LogView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>

#include <algorithm>

void TLogView::wheelEvent(QWheelEvent* event)
{
    SyncScrollBars();
    QAbstractScrollArea::wheelEvent(event);
}

void TLogView::keyPressEvent(QKeyEvent* event)
{
    SyncScrollBars();
    QScrollBar* v = verticalScrollBar();
    QScrollBar* h = horizontalScrollBar();
    if (event == QKeySequence::Copy) {
        copy();
    } else if (event == QKeySequence::SelectAll) {
        selectAll();
    } else if (event == QKeySequence::Find) {
        emit findRequested();
    } else if (event == QKeySequence::Save) {
        Guarded(this, [this] { saveLog(); });
    } else if (event->key() == Qt::Key_T && event->modifiers() == Qt::ControlModifier) {
        setTimesShown(!timesShown());
    } else {
        switch (event->key()) {
        case Qt::Key_Up: v->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
        case Qt::Key_Down: v->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
        case Qt::Key_Left: h->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
        case Qt::Key_Right: h->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
        case Qt::Key_PageUp: v->triggerAction(QAbstractSlider::SliderPageStepSub); break;
        case Qt::Key_PageDown: v->triggerAction(QAbstractSlider::SliderPageStepAdd); break;
        case Qt::Key_Home: v->triggerAction(QAbstractSlider::SliderToMinimum); break;
        case Qt::Key_End: v->triggerAction(QAbstractSlider::SliderToMaximum); break;
        default:
            // Nothing typed gets in: the log is read-only.
            event->ignore();
            return;
        }
    }
    event->accept();
}

void TLogView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    SyncScrollBars();
    const QPoint point = event->position().toPoint();
    const TPos at = posAtPoint(point);
    // The third click of a triple-click: the line with its line break.
    if (doubleClicked_.isValid() && doubleClicked_.elapsed() < QApplication::doubleClickInterval() &&
        (point - doubleClickPoint_).manhattanLength() < QApplication::startDragDistance()) {
        doubleClicked_.invalidate();
        const bool last = at.line + 1 >= lineCount();
        setSelection({at.line, 0}, last ? TPos{at.line, lineText(at.line).size()} : TPos{at.line + 1, 0});
        OfferSelection();
        dragging_ = false;
        event->accept();
        return;
    }
    setSelection(event->modifiers() & Qt::ShiftModifier ? anchor_ : at, at);
    dragging_ = true;
    event->accept();
}

void TLogView::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging_ || !(event->buttons() & Qt::LeftButton))
        return;
    dragPoint_ = event->position().toPoint();
    DragTo(dragPoint_);
    // Held beyond an edge of the text, the view keeps scrolling.
    const bool outside = !viewport()->rect().contains(dragPoint_);
    if (outside && !dragScroll_.isActive())
        dragScroll_.start(50, this);
    else if (!outside)
        dragScroll_.stop();
}

void TLogView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !dragging_)
        return;
    dragging_ = false;
    dragScroll_.stop();
    OfferSelection();
}

void TLogView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint point = event->position().toPoint();
    const TPos at = posAtPoint(point, false);
    const auto [start, end] = logtext::WordAt(lineText(at.line), at.column);
    setSelection({at.line, start}, {at.line, end});
    OfferSelection();
    dragging_ = false;
    doubleClicked_.start();
    doubleClickPoint_ = point;
}

void TLogView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != dragScroll_.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    QScrollBar* v = verticalScrollBar();
    if (dragPoint_.y() < 0)
        v->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (dragPoint_.y() >= viewport()->height())
        v->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    // Sideways the farther the pointer is beyond the edge, the faster.
    QScrollBar* h = horizontalScrollBar();
    const int step = h->singleStep();
    if (dragPoint_.x() < 0)
        h->setValue(h->value() - std::max(step, -dragPoint_.x()));
    else if (dragPoint_.x() >= viewport()->width())
        h->setValue(h->value() + std::max(step, dragPoint_.x() - viewport()->width() + 1));
    DragTo(dragPoint_);
}

void TLogView::DragTo(QPoint point)
{
    // As in Qt's text widgets, the moving end stays in view.
    setSelection(anchor_, posAtPoint(point));
    ShowColumn(cursor_);
}

QMenu* TLogView::createContextMenu(QWidget* parent)
{
    // The captions a Polish text area shows, then the log's own entries.
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("LogMenu"));
    const auto add = [this, menu](const QString& text, const QKeySequence& keys, auto&& handler) {
        QAction* a = menu->addAction(text, this, [this, handler] { Guarded(this, handler); });
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WidgetShortcut);
        return a;
    };
    add(QStringLiteral("S&kopiuj"), QKeySequence::Copy, [this] { copy(); })->setEnabled(hasSelection());
    add(QStringLiteral("Zaznacz wszystko"), QKeySequence::SelectAll, [this] { selectAll(); })
        ->setEnabled(lineCount() > 0);
    menu->addSeparator();
    QAction* times =
        add(QStringLiteral("Pokaż czas"), QKeySequence(Qt::CTRL | Qt::Key_T), [this] { setTimesShown(!timesShown()); });
    times->setCheckable(true);
    times->setChecked(timesShown());
    add(QStringLiteral("Znajdź…"), QKeySequence::Find, [this] { emit findRequested(); });
    add(QStringLiteral("Zapisz LOG do pliku…"), QKeySequence::Save, [this] { saveLog(); });
    return menu;
}

void TLogView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
