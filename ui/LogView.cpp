#include "LogView.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

void InstallLogViewAccessibility(); // LogViewAccessible.cpp

namespace {

// Empty space around the text, as a text area leaves it.
constexpr int cMargin = 4;
// Tab stops, as text drawing and measuring place them.
constexpr qreal cTabStop = 80;

bool IsBreak(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator ||
           c == QChar::LineSeparator;
}

// Bytes of UTF-8 text that hold its first `units` UTF-16 units.
std::size_t Utf8Offset(std::string_view s, qsizetype units)
{
    std::size_t at = 0;
    while (at < s.size() && units > 0) {
        const auto lead = static_cast<unsigned char>(s[at]);
        const std::size_t len = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const qsizetype width = len == 4 ? 2 : 1;
        if (width > units)
            break;
        units -= width;
        at = std::min(s.size(), at + len);
    }
    return at;
}

bool IsWordChar(QChar c) { return !c.isSpace(); }

// Calls `f` with each code point of well-formed UTF-8 text; false when the
// text is not well-formed (nothing is then promised about the calls).
template <class F>
bool ForEachCodePoint(std::string_view s, F&& f)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto b = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
        const unsigned lead = b(i);
        std::size_t len;
        char32_t cp;
        if (lead < 0x80) {
            f(char32_t(lead));
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            len = 2, cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            len = 3, cp = lead & 0x0F;
        } else if (lead >= 0xF0 && lead < 0xF5) {
            len = 4, cp = lead & 0x07;
        } else {
            return false;
        }
        if (i + len > s.size())
            return false;
        for (std::size_t k = 1; k < len; ++k) {
            if ((b(i + k) & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (b(i + k) & 0x3F);
        }
        // Overlong forms, surrogates and code points past the last.
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp < 0xE000))
            return false;
        f(cp);
        i += len;
    }
    return true;
}

} // namespace

TLogView::TLogView(QWidget* parent) : QAbstractScrollArea(parent)
{
    InstallLogViewAccessibility();
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
    // An operator's scrolling decides whether the view follows new lines;
    // the view's own range changes do not.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (!adjusting_)
            follow_ = value >= verticalScrollBar()->maximum();
    });
    MeasureAll();
    UpdateScrollBars();
}

TLogView::~TLogView() = default;

// ---- the log ----

void TLogView::appendPlainText(const QString& text)
{
    const qint64 oldCount = characterCount();
    const qsizetype first = lineCount();
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !IsBreak(text[i]))
            continue;
        AddLine(QStringView(text).mid(start, i - start));
        if (i + 1 < text.size() && text[i] == QLatin1Char('\r') && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    Appended(oldCount, first);
}

void TLogView::appendUtf8(std::string_view line)
{
    // Well-formed text of one line is kept as it comes; anything else goes
    // the way of any other text (broken bytes become U+FFFD).
    std::size_t units = 0;
    bool oneLine = true;
    const bool wellFormed = ForEachCodePoint(line, [&units, &oneLine](char32_t c) {
        units += c >= 0x10000 ? 2 : 1;
        oneLine = oneLine && c != U'\n' && c != U'\r' && c != 0x2028 && c != 0x2029;
    });
    if (!wellFormed || !oneLine) {
        appendPlainText(QString::fromUtf8(line.data(), qsizetype(line.size())));
        return;
    }
    const qint64 oldCount = characterCount();
    const qsizetype first = lineCount();
    AddUtf8(line, units);
    Appended(oldCount, first);
}

void TLogView::AddLine(QStringView line)
{
    const QByteArray utf8 = line.toUtf8();
    AddUtf8(std::string_view(utf8.constData(), std::size_t(utf8.size())), std::size_t(line.size()));
}

void TLogView::AddUtf8(std::string_view utf8, std::size_t chars)
{
    store_.Append(utf8, chars);
    widest_ = std::max(widest_, LineWidth(utf8));
}

qreal TLogView::LineWidth(std::string_view utf8) const
{
    // The sum of the characters' own advances: a hair wider than the drawn
    // line where the font kerns, and cheap enough for every line.
    qreal x = 0;
    std::optional<QFontMetricsF> fm;
    ForEachCodePoint(utf8, [this, &x, &fm](char32_t c) {
        if (c == U'\t') {
            x = (std::floor(x / cTabStop) + 1) * cTabStop;
        } else if (c < char32_t(charWidth_.size())) {
            x += charWidth_[c];
        } else {
            if (!fm)
                fm.emplace(font());
            x += fm->horizontalAdvance(QString::fromUcs4(&c, 1));
        }
    });
    return x;
}

void TLogView::Appended(qint64 oldCount, qsizetype firstNew)
{
    const int top = verticalScrollBar()->value();
    // The bars catch up once the burst of lines is over: each range change
    // queues work in the bars, which a long burst would pile up.
    if (!barsPending_) {
        barsPending_ = true;
        QMetaObject::invokeMethod(this, &TLogView::SyncScrollBars, Qt::QueuedConnection);
    }
    // Lines below the screen need no drawing; a view that follows moves.
    if (follow_ || firstNew <= qsizetype(top) + VisibleLines())
        viewport()->update();
    if (QAccessible::isActive()) {
        QString added = TextBetween({firstNew, 0}, {lineCount() - 1, qsizetype(store_.LineChars(store_.Lines() - 1))});
        if (firstNew > 0)
            added.prepend(QLatin1Char('\n'));
        QAccessibleTextInsertEvent ev(this, int(std::min<qint64>(oldCount, INT_MAX)), added);
        QAccessible::updateAccessibility(&ev);
    }
    emit textChanged();
}

void TLogView::clear()
{
    const bool had = !store_.Empty();
    if (had && QAccessible::isActive()) {
        QAccessibleTextRemoveEvent ev(this, 0, toPlainText());
        QAccessible::updateAccessibility(&ev);
    }
    const bool selected = hasSelection();
    store_.Clear();
    anchor_ = cursor_ = {};
    widest_ = 0;
    follow_ = true;
    dragging_ = false;
    dragScroll_.stop();
    UpdateScrollBars();
    viewport()->update();
    if (selected)
        emit selectionChanged();
    emit textChanged();
}

QString TLogView::lineText(qsizetype line) const
{
    if (line < 0 || line >= lineCount())
        return {};
    const std::string_view s = store_.Line(std::size_t(line));
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QString TLogView::toPlainText() const
{
    if (store_.Empty())
        return {};
    return TextBetween({}, {lineCount() - 1, qsizetype(store_.LineChars(store_.Lines() - 1))});
}

QString TLogView::TextBetween(TPos from, TPos to) const
{
    if (store_.Empty() || !(from < to))
        return {};
    // Gathered as UTF-8 and converted once: a million lines copy in one go.
    const auto part = [this, &from, &to](qsizetype line) {
        std::string_view s = store_.Line(std::size_t(line));
        const std::size_t end = line == to.line ? Utf8Offset(s, to.column) : s.size();
        const std::size_t begin = line == from.line ? std::min(end, Utf8Offset(s, from.column)) : 0;
        return s.substr(begin, end - begin);
    };
    qsizetype bytes = to.line - from.line;
    for (qsizetype i = from.line; i <= to.line; ++i)
        bytes += qsizetype(part(i).size());
    QByteArray utf8;
    utf8.reserve(bytes);
    for (qsizetype i = from.line; i <= to.line; ++i) {
        if (i > from.line)
            utf8.append('\n');
        const std::string_view s = part(i);
        utf8.append(s.data(), qsizetype(s.size()));
    }
    return QString::fromUtf8(utf8);
}

// ---- selection ----

TLogView::TPos TLogView::Clamped(TPos p) const
{
    if (store_.Empty())
        return {};
    p.line = std::clamp<qsizetype>(p.line, 0, lineCount() - 1);
    p.column = std::clamp<qsizetype>(p.column, 0, qsizetype(store_.LineChars(std::size_t(p.line))));
    return p;
}

void TLogView::setSelection(TPos anchor, TPos cursor)
{
    anchor = Clamped(anchor);
    cursor = Clamped(cursor);
    if (anchor == anchor_ && cursor == cursor_)
        return;
    anchor_ = anchor;
    cursor_ = cursor;
    viewport()->update();
    if (QAccessible::isActive()) {
        const qint64 a = offsetOf(anchor_), c = offsetOf(cursor_);
        QAccessibleTextSelectionEvent ev(this, int(std::min<qint64>(std::min(a, c), INT_MAX)),
                                         int(std::min<qint64>(std::max(a, c), INT_MAX)));
        ev.setCursorPosition(int(std::min<qint64>(c, INT_MAX)));
        QAccessible::updateAccessibility(&ev);
    }
    emit selectionChanged();
}

QString TLogView::selectedText() const
{
    return TextBetween(std::min(anchor_, cursor_), std::max(anchor_, cursor_));
}

void TLogView::selectAll()
{
    if (store_.Empty())
        return;
    setSelection({}, {lineCount() - 1, qsizetype(store_.LineChars(store_.Lines() - 1))});
}

void TLogView::copy()
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

QMenu* TLogView::createContextMenu(QWidget* parent)
{
    // The captions a Polish text area shows.
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("LogMenu"));
    QAction* copyAction = menu->addAction(QStringLiteral("S&kopiuj"), this, &TLogView::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetShortcut);
    copyAction->setEnabled(hasSelection());
    QAction* all = menu->addAction(QStringLiteral("Zaznacz wszystko"), this, &TLogView::selectAll);
    all->setShortcut(QKeySequence::SelectAll);
    all->setShortcutContext(Qt::WidgetShortcut);
    all->setEnabled(!store_.Empty());
    return menu;
}

// ---- the whole text ----

qint64 TLogView::characterCount() const
{
    return store_.Empty() ? 0 : qint64(store_.Chars()) + lineCount() - 1;
}

qint64 TLogView::offsetOf(TPos pos) const
{
    pos = Clamped(pos);
    return store_.Empty() ? 0 : qint64(store_.CharsBefore(std::size_t(pos.line))) + pos.line + pos.column;
}

TLogView::TPos TLogView::posAt(qint64 offset) const
{
    if (store_.Empty())
        return {};
    offset = std::clamp<qint64>(offset, 0, characterCount());
    const auto line = qsizetype(store_.LineAtOffset(std::uint64_t(offset)));
    return {line, qsizetype(offset - qint64(store_.CharsBefore(std::size_t(line))) - line)};
}

QString TLogView::textRange(qint64 start, qint64 end) const
{
    return TextBetween(posAt(std::min(start, end)), posAt(std::max(start, end)));
}

QRect TLogView::characterRect(qint64 offset) const
{
    if (offset < 0 || offset >= characterCount())
        return {};
    const TPos p = posAt(offset);
    const QString text = lineText(p.line);
    const qreal x = cMargin - horizontalScrollBar()->value() + Advance(text, p.column);
    const qreal w = p.column < text.size() ? Advance(text, p.column + 1) - Advance(text, p.column)
                                           : QFontMetricsF(font()).horizontalAdvance(QLatin1Char(' '));
    const int y = cMargin + int(p.line - verticalScrollBar()->value()) * LineHeight();
    return QRectF(x, y, w, LineHeight()).toAlignedRect();
}

TLogView::TPos TLogView::posAtPoint(QPoint point) const
{
    if (store_.Empty())
        return {};
    const qsizetype line = std::clamp<qsizetype>(
        verticalScrollBar()->value() + qsizetype(std::floor(qreal(point.y() - cMargin) / LineHeight())), 0,
        lineCount() - 1);
    return {line, ColumnAt(lineText(line), point.x() - cMargin + horizontalScrollBar()->value())};
}

void TLogView::ensureLineVisible(qsizetype line)
{
    SyncScrollBars();
    QScrollBar* v = verticalScrollBar();
    if (line < v->value())
        v->setValue(int(line));
    else if (line >= qsizetype(v->value()) + VisibleLines())
        v->setValue(int(line - VisibleLines() + 1));
}

// ---- geometry ----

int TLogView::LineHeight() const
{
    return std::max(1, QFontMetrics(font()).lineSpacing());
}

int TLogView::VisibleLines() const
{
    return std::max(1, (viewport()->height() - 2 * cMargin) / LineHeight());
}

qreal TLogView::Advance(const QString& text, qsizetype columns) const
{
    return columns <= 0 ? 0 : QFontMetricsF(font()).horizontalAdvance(text.left(columns));
}

qsizetype TLogView::ColumnAt(const QString& text, qreal x) const
{
    // The last column whose left edge is at or before x; past the middle of
    // its character, the next one.
    qsizetype lo = 0, hi = text.size();
    while (lo < hi) {
        const qsizetype mid = lo + (hi - lo + 1) / 2;
        if (Advance(text, mid) <= x)
            lo = mid;
        else
            hi = mid - 1;
    }
    if (lo < text.size() && x - Advance(text, lo) > (Advance(text, lo + 1) - Advance(text, lo)) / 2)
        ++lo;
    if (lo > 0 && lo < text.size() && text[lo].isLowSurrogate())
        --lo;
    return lo;
}

void TLogView::MeasureAll()
{
    const QFontMetricsF fm(font());
    for (std::size_t c = 0; c < charWidth_.size(); ++c)
        charWidth_[c] = fm.horizontalAdvance(QChar(char16_t(c)));
    widest_ = 0;
    for (std::size_t i = 0; i < store_.Lines(); ++i)
        widest_ = std::max(widest_, LineWidth(store_.Line(i)));
}

void TLogView::SyncScrollBars()
{
    if (barsPending_)
        UpdateScrollBars();
}

void TLogView::UpdateScrollBars()
{
    barsPending_ = false;
    adjusting_ = true;
    QScrollBar* v = verticalScrollBar();
    const int visible = VisibleLines();
    const int vmax = int(std::clamp<qsizetype>(lineCount() - visible, 0, INT_MAX));
    v->setRange(0, vmax);
    v->setPageStep(visible);
    v->setSingleStep(1);
    if (follow_)
        v->setValue(vmax);
    QScrollBar* h = horizontalScrollBar();
    const int width = int(std::ceil(widest_)) + 2 * cMargin;
    h->setRange(0, std::max(0, width - viewport()->width()));
    h->setPageStep(viewport()->width());
    h->setSingleStep(std::max(1, QFontMetrics(font()).averageCharWidth() * 2));
    adjusting_ = false;
}

// ---- events ----

void TLogView::paintEvent(QPaintEvent* event)
{
    painting_ = true;
    SyncScrollBars();
    painting_ = false;
    QPainter p(viewport());
    const QRect area = event->rect();
    const QPalette::ColorGroup group =
        !isEnabled() ? QPalette::Disabled : isActiveWindow() ? QPalette::Active : QPalette::Inactive;
    p.fillRect(area, palette().brush(group, QPalette::Base));
    if (store_.Empty())
        return;
    p.setFont(font());
    const QFontMetricsF fm(font());
    const int lh = LineHeight();
    const qreal x0 = cMargin - horizontalScrollBar()->value();
    const qsizetype first = verticalScrollBar()->value();
    const TPos from = std::min(anchor_, cursor_), to = std::max(anchor_, cursor_);
    const QColor text = palette().color(group, QPalette::Text);
    const QColor highlighted = palette().color(group, QPalette::HighlightedText);
    for (qsizetype i = first; i < lineCount(); ++i) {
        const int top = cMargin + int(i - first) * lh;
        if (top > area.bottom())
            break;
        if (top + lh < area.top())
            continue;
        const QString line = lineText(i);
        const QPointF baseline(x0, top + fm.ascent());
        p.setPen(text);
        p.drawText(baseline, line);
        if (hasSelection() && i >= from.line && i <= to.line) {
            const qreal xs = x0 + Advance(line, i == from.line ? from.column : 0);
            qreal xe = x0 + Advance(line, i == to.line ? to.column : line.size());
            if (i < to.line) // the line break is selected too
                xe += fm.horizontalAdvance(QLatin1Char(' '));
            const QRectF box(xs, top, xe - xs, lh);
            p.fillRect(box, palette().brush(group, QPalette::Highlight));
            p.save();
            p.setClipRect(box);
            p.setPen(highlighted);
            p.drawText(baseline, line);
            p.restore();
        }
    }
}

void TLogView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void TLogView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        MeasureAll();
        UpdateScrollBars();
        viewport()->update();
    }
}

void TLogView::wheelEvent(QWheelEvent* event)
{
    SyncScrollBars();
    QAbstractScrollArea::wheelEvent(event);
}

void TLogView::scrollContentsBy(int, int)
{
    // The bars count lines and pixels; everything on screen is drawn anew.
    if (!painting_)
        viewport()->update();
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
    const TPos at = posAtPoint(event->position().toPoint());
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
    // Held above or below the text, the view keeps scrolling.
    const bool outside = dragPoint_.y() < 0 || dragPoint_.y() >= viewport()->height();
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
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void TLogView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // The word under the pointer: a run of anything but blanks.
    const TPos at = posAtPoint(event->position().toPoint());
    const QString line = lineText(at.line);
    qsizetype b = at.column, e = at.column;
    while (b > 0 && IsWordChar(line[b - 1]))
        --b;
    while (e < line.size() && IsWordChar(line[e]))
        ++e;
    setSelection({at.line, b}, {at.line, e});
    dragging_ = false;
}

void TLogView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != dragScroll_.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    QScrollBar* v = verticalScrollBar();
    v->triggerAction(dragPoint_.y() < 0 ? QAbstractSlider::SliderSingleStepSub
                                        : QAbstractSlider::SliderSingleStepAdd);
    DragTo(dragPoint_);
}

void TLogView::DragTo(QPoint point)
{
    setSelection(anchor_, posAtPoint(point));
}

void TLogView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
