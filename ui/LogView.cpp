#include "LogView.h"

#include "LogText.h"
#include "protocol/logtime.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

using namespace logtext;

void InstallLogViewAccessibility(); // LogViewAccessible.cpp

namespace {

// Empty space around the text, as a text area leaves it.
constexpr int cMargin = 4;
// Tab stops, as text drawing and measuring place them.
constexpr qreal cTabStop = 80;

// The time shown before a line: "HH:MM:SS.mmm" and two blanks.
std::string ShownTime(std::int64_t ms)
{
    return LogTimeOfDay(ms) + "  ";
}

} // namespace

TLogView::TLogView(QWidget* parent) : QAbstractScrollArea(parent), store_(std::make_shared<TLogStore>())
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
        if (i < text.size() && !IsLineBreak(text[i].unicode()))
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
    const bool wellFormed = Walk(line, [&units, &oneLine](char32_t c, std::size_t) {
        units += std::size_t(Utf16Width(c));
        oneLine = oneLine && !IsLineBreak(c);
        return true;
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
    store_->Append(utf8, chars, LogNowMs());
    widest_ = std::max(widest_, LineWidth(utf8));
}

qreal TLogView::LineWidth(std::string_view utf8) const
{
    // The sum of the characters' own advances: a hair wider than the drawn
    // line where the font kerns, and cheap enough for every line.
    qreal x = 0;
    std::optional<QFontMetricsF> fm;
    Walk(utf8, [this, &x, &fm](char32_t c, std::size_t) {
        if (c == U'\t') {
            x = (std::floor(x / cTabStop) + 1) * cTabStop;
        } else if (c < char32_t(charWidth_.size())) {
            x += charWidth_[c];
        } else {
            if (!fm)
                fm.emplace(font());
            x += fm->horizontalAdvance(QString::fromUcs4(&c, 1));
        }
        return true;
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
        QString added = TextBetween({firstNew, 0}, EndOfText());
        if (firstNew > 0)
            added.prepend(QLatin1Char('\n'));
        QAccessibleTextInsertEvent ev(this, int(std::min<qint64>(oldCount, INT_MAX)), added);
        QAccessible::updateAccessibility(&ev);
    }
    emit textChanged();
}

void TLogView::clear()
{
    const bool had = !store_->Empty();
    if (had && QAccessible::isActive()) {
        QAccessibleTextRemoveEvent ev(this, 0, toPlainText());
        QAccessible::updateAccessibility(&ev);
    }
    const bool selected = hasSelection();
    // A save still writing the old lines keeps them; the view starts afresh.
    if (store_.use_count() > 1)
        store_ = std::make_shared<TLogStore>();
    else
        store_->Clear();
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
    const std::string_view s = store_->Line(std::size_t(line));
    QString text = QString::fromUtf8(s.data(), qsizetype(s.size()));
    if (timeColumns_ > 0)
        text.prepend(QString::fromLatin1(ShownTime(lineTime(line))));
    return text;
}

qsizetype TLogView::ShownChars(qsizetype line) const
{
    return qsizetype(store_->LineChars(std::size_t(line))) + timeColumns_;
}

TLogView::TPos TLogView::EndOfText() const
{
    return store_->Empty() ? TPos{} : TPos{lineCount() - 1, ShownChars(lineCount() - 1)};
}

QString TLogView::toPlainText() const
{
    return TextBetween({}, EndOfText());
}

QString TLogView::TextBetween(TPos from, TPos to) const
{
    if (store_->Empty() || !(from < to))
        return {};
    const std::size_t tc = std::size_t(timeColumns_);
    // The bytes of a shown column: the time is ASCII, one byte a column.
    const auto bytesAt = [tc](std::string_view s, qsizetype column) {
        return std::size_t(column) <= tc ? std::size_t(column) : tc + Utf8Offset(s, column - qsizetype(tc));
    };
    // Gathered as UTF-8 and converted once: a million lines copy in one go.
    QByteArray utf8;
    utf8.reserve(qsizetype(store_->CharsBefore(std::size_t(to.line) + 1) - store_->CharsBefore(std::size_t(from.line))) +
                 (to.line - from.line + 1) * qsizetype(tc + 1));
    for (qsizetype i = from.line; i <= to.line; ++i) {
        if (i > from.line)
            utf8.append('\n');
        const std::string_view s = store_->Line(std::size_t(i));
        const std::size_t end = i == to.line ? bytesAt(s, to.column) : tc + s.size();
        const std::size_t begin = i == from.line ? std::min(end, bytesAt(s, from.column)) : 0;
        if (begin < tc) {
            const std::string time = ShownTime(lineTime(i));
            utf8.append(time.data() + begin, qsizetype(std::min(end, tc) - begin));
        }
        if (end > tc) {
            const std::size_t b = std::max(begin, tc) - tc;
            utf8.append(s.data() + b, qsizetype(end - tc - b));
        }
    }
    return QString::fromUtf8(utf8);
}

// ---- times ----

void TLogView::setTimesShown(bool shown)
{
    const qsizetype columns = shown ? cTimeColumns : 0;
    if (columns == timeColumns_)
        return;
    QString before;
    if (QAccessible::isActive())
        before = toPlainText();
    // The selection stays on the same characters.
    const qsizetype delta = columns - timeColumns_;
    const auto moved = [delta](TPos p) { return TPos{p.line, std::max<qsizetype>(0, p.column + delta)}; };
    const bool selected = hasSelection();
    timeColumns_ = columns;
    anchor_ = Clamped(moved(anchor_));
    cursor_ = Clamped(moved(cursor_));
    UpdateScrollBars();
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent ev(this, 0, before, toPlainText());
        QAccessible::updateAccessibility(&ev);
    }
    emit timesShownChanged(shown);
    if (selected)
        emit selectionChanged();
}

// ---- selection ----

TLogView::TPos TLogView::Clamped(TPos p) const
{
    if (store_->Empty())
        return {};
    p.line = std::clamp<qsizetype>(p.line, 0, lineCount() - 1);
    p.column = std::clamp<qsizetype>(p.column, 0, ShownChars(p.line));
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
    if (store_->Empty())
        return;
    setSelection({}, EndOfText());
    OfferSelection();
}

void TLogView::copy()
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

void TLogView::OfferSelection()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void TLogView::selectFound(TPos from, TPos to)
{
    setSelection(from, to);
    ensureVisible(to);
    ensureVisible(from);
    OfferSelection();
}

// ---- the whole text ----

qint64 TLogView::characterCount() const
{
    return store_->Empty() ? 0 : qint64(store_->Chars()) + lineCount() * (timeColumns_ + 1) - 1;
}

qint64 TLogView::offsetOf(TPos pos) const
{
    pos = Clamped(pos);
    return store_->Empty() ? 0
                           : qint64(store_->CharsBefore(std::size_t(pos.line))) + pos.line * (timeColumns_ + 1) +
                                 pos.column;
}

TLogView::TPos TLogView::posAt(qint64 offset) const
{
    if (store_->Empty())
        return {};
    offset = std::clamp<qint64>(offset, 0, characterCount());
    const auto line = qsizetype(store_->LineAtOffset(std::uint64_t(offset), std::size_t(timeColumns_)));
    return {line, qsizetype(offset - qint64(store_->CharsBefore(std::size_t(line))) - line * (timeColumns_ + 1))};
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

TLogView::TPos TLogView::posAtPoint(QPoint point, bool nearest) const
{
    if (store_->Empty())
        return {};
    const qsizetype line = std::clamp<qsizetype>(
        verticalScrollBar()->value() + qsizetype(std::floor(qreal(point.y() - cMargin) / LineHeight())), 0,
        lineCount() - 1);
    return {line, ColumnAt(lineText(line), point.x() - cMargin + horizontalScrollBar()->value(), nearest)};
}

qsizetype TLogView::firstVisibleLine() const
{
    return verticalScrollBar()->value();
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

void TLogView::ensureVisible(TPos pos)
{
    ensureLineVisible(pos.line);
    ShowColumn(pos);
}

void TLogView::ShowColumn(TPos pos)
{
    QScrollBar* h = horizontalScrollBar();
    const int x = int(Advance(lineText(pos.line), pos.column));
    const int room = std::max(1, viewport()->width() - 2 * cMargin);
    if (x < h->value())
        h->setValue(x);
    else if (x > h->value() + room)
        h->setValue(x - room + QFontMetrics(font()).averageCharWidth() * 4);
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

qsizetype TLogView::ColumnAt(const QString& text, qreal x, bool nearest) const
{
    // The last column whose left edge is at or before x; past the middle of
    // its character, the next one (where the nearest gap is wanted).
    qsizetype lo = 0, hi = text.size();
    while (lo < hi) {
        const qsizetype mid = lo + (hi - lo + 1) / 2;
        if (Advance(text, mid) <= x)
            lo = mid;
        else
            hi = mid - 1;
    }
    if (nearest && lo < text.size() && x - Advance(text, lo) > (Advance(text, lo + 1) - Advance(text, lo)) / 2)
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
    qreal digit = 0;
    for (char c = '0'; c <= '9'; ++c)
        digit = std::max(digit, charWidth_[std::size_t(c)]);
    timeWidth_ = 9 * digit + 2 * charWidth_[':'] + charWidth_['.'] + 2 * charWidth_[' '];
    widest_ = 0;
    for (std::size_t i = 0; i < store_->Lines(); ++i)
        widest_ = std::max(widest_, LineWidth(store_->Line(i)));
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
    const qreal widest = store_->Empty() ? 0 : widest_ + (timeColumns_ > 0 ? timeWidth_ : 0);
    const int width = int(std::ceil(widest)) + 2 * cMargin;
    h->setRange(0, std::max(0, width - viewport()->width()));
    h->setPageStep(viewport()->width());
    h->setSingleStep(std::max(1, QFontMetrics(font()).averageCharWidth() * 2));
    adjusting_ = false;
}

// ---- drawing ----

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
    if (store_->Empty())
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

void TLogView::scrollContentsBy(int, int)
{
    // The bars count lines and pixels; everything on screen is drawn anew.
    if (!painting_)
        viewport()->update();
}
