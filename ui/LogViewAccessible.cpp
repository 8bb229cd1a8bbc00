// The log as screen readers and test tools see it: a read-only multi-line
// text area whose text is the log's lines as shown joined by line breaks.
#include "LogText.h"
#include "LogView.h"

#include <QAccessibleWidget>
#include <QScrollBar>

#include <algorithm>
#include <climits>

namespace {

int Clip(qint64 v) { return int(std::clamp<qint64>(v, INT_MIN, INT_MAX)); }

class TLogViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit TLogViewAccessible(TLogView* view) : QAccessibleWidget(view, QAccessible::EditableText) {}

    TLogView* View() const { return static_cast<TLogView*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        s.selectableText = true;
        s.editable = false;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return View()->toPlainText();
        return QAccessibleWidget::text(t);
    }

    // ---- QAccessibleTextInterface ----
    void selection(int index, int* start, int* end) const override
    {
        *start = *end = 0;
        if (index != 0 || !View()->hasSelection())
            return;
        const qint64 a = View()->offsetOf(View()->anchor()), c = View()->offsetOf(View()->cursor());
        *start = Clip(std::min(a, c));
        *end = Clip(std::max(a, c));
    }
    int selectionCount() const override { return View()->hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override
    {
        if (index == 0)
            View()->setSelection(View()->cursor(), View()->cursor());
    }
    void setSelection(int index, int start, int end) override
    {
        if (index == 0)
            View()->setSelection(View()->posAt(start), View()->posAt(end));
    }
    int cursorPosition() const override { return Clip(View()->offsetOf(View()->cursor())); }
    void setCursorPosition(int position) override
    {
        const TLogView::TPos p = View()->posAt(position);
        View()->setSelection(p, p);
    }
    QString text(int start, int end) const override { return View()->textRange(start, end); }
    int characterCount() const override { return Clip(View()->characterCount()); }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const override
    {
        return Give(Unit(offset, type), start, end);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const override
    {
        const qint64 s = Unit(offset, type).first;
        return s <= 0 ? Give({-1, -1}, start, end) : Give(Unit(s - 1, type), start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const override
    {
        const auto [s, e] = Unit(offset, type);
        // Past a line's end comes the line break, then the next line.
        const qint64 next = IsLineUnit(type) ? e + 1 : e;
        if (s < 0 || next >= View()->characterCount())
            return Give({-1, -1}, start, end);
        return Give(Unit(next, type), start, end);
    }

    QRect characterRect(int offset) const override
    {
        const QRect r = View()->characterRect(offset);
        return r.isNull() ? r : QRect(View()->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint local = View()->viewport()->mapFromGlobal(point);
        if (!View()->viewport()->rect().contains(local) || View()->lineCount() == 0)
            return -1;
        return Clip(View()->offsetOf(View()->posAtPoint(local)));
    }
    void scrollToSubstring(int start, int) override { View()->ensureLineVisible(View()->posAt(start).line); }
    QString attributes(int, int* start, int* end) const override
    {
        // One run without attributes: the log has a single look.
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    static bool IsLineUnit(QAccessible::TextBoundaryType t)
    {
        return t == QAccessible::LineBoundary || t == QAccessible::SentenceBoundary ||
               t == QAccessible::ParagraphBoundary;
    }

    // The unit of text holding `offset`: [start, end), or {-1, -1}.
    std::pair<qint64, qint64> Unit(qint64 offset, QAccessible::TextBoundaryType type) const
    {
        const qint64 count = View()->characterCount();
        if (offset < 0 || offset > count || count == 0)
            return {-1, -1};
        if (type == QAccessible::NoBoundary)
            return {0, count};
        const TLogView::TPos p = View()->posAt(offset);
        const qint64 lineStart = offset - p.column;
        const QString line = View()->lineText(p.line);
        if (IsLineUnit(type))
            return {lineStart, lineStart + line.size()};
        if (type == QAccessible::CharBoundary)
            return offset == count ? std::pair<qint64, qint64>{-1, -1} : std::pair<qint64, qint64>{offset, offset + 1};
        // Words as a double-click picks them, and what lies between them.
        if (p.column >= line.size())
            return {offset, offset + 1};
        const auto [b, e] = logtext::WordAt(line, p.column);
        return {lineStart + b, lineStart + e};
    }

    QString Give(std::pair<qint64, qint64> unit, int* start, int* end) const
    {
        *start = Clip(unit.first);
        *end = Clip(unit.second);
        return unit.first < 0 ? QString() : View()->textRange(unit.first, unit.second);
    }
};

QAccessibleInterface* LogViewFactory(const QString& key, QObject* object)
{
    if (key == QLatin1String("TLogView") && object && object->isWidgetType())
        return new TLogViewAccessible(static_cast<TLogView*>(object));
    return nullptr;
}

} // namespace

void InstallLogViewAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(&LogViewFactory);
        return true;
    }();
    (void)installed;
}
