// The operator log's view: read-only lines without wrapping, both scroll
// bars, following the end unless the operator has scrolled up; mouse
// selection, copy and select-all. It keeps its lines in a TLogStore and
// draws only the lines on screen, so a day of frames costs little more than
// its text. Screen readers read it through its accessibility interface
// (LogViewAccessible.cpp) as a read-only text area.
#pragma once

#include "LogStore.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QString>

#include <array>
#include <string_view>

class QMenu;

class TLogView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // A place in the text: line and UTF-16 column within it.
    struct TPos {
        qsizetype line = 0;
        qsizetype column = 0;
        friend bool operator==(const TPos&, const TPos&) = default;
        friend auto operator<=>(const TPos&, const TPos&) = default;
    };

    explicit TLogView(QWidget* parent = nullptr);
    ~TLogView() override;

    // ---- the log ----
    // Appends `text` at the end; each line break in it starts another line.
    // The scroll bars take new lines in on the next turn of the event loop.
    void appendPlainText(const QString& text);
    // Appends one line given as UTF-8.
    void appendUtf8(std::string_view line);
    // Removes every line and gives their memory back.
    void clear();
    QString toPlainText() const;
    qsizetype lineCount() const { return qsizetype(store_.Lines()); }
    QString lineText(qsizetype line) const;
    bool isReadOnly() const { return true; }
    std::size_t bytesHeld() const { return store_.BytesHeld(); }

    // ---- selection (anchor: where it began; cursor: its moving end) ----
    TPos anchor() const { return anchor_; }
    TPos cursor() const { return cursor_; }
    void setSelection(TPos anchor, TPos cursor);
    bool hasSelection() const { return anchor_ != cursor_; }
    QString selectedText() const;
    void selectAll();
    // Puts the selected text on the clipboard; nothing without a selection.
    void copy();
    // The context menu: copy and select-all.
    QMenu* createContextMenu(QWidget* parent);

    // ---- the whole text as one string (lines joined by '\n') ----
    qint64 characterCount() const;
    qint64 offsetOf(TPos pos) const;
    TPos posAt(qint64 offset) const;
    QString textRange(qint64 start, qint64 end) const;
    // A character's box in the viewport's coordinates (empty when out of the text).
    QRect characterRect(qint64 offset) const;
    // The place under a point of the viewport.
    TPos posAtPoint(QPoint viewportPoint) const;
    // Scrolls so that `line` is on screen.
    void ensureLineVisible(qsizetype line);
    // True while new lines bring the view along (the view is at the end).
    bool followsEnd() const { return follow_; }

signals:
    void textChanged();
    void selectionChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void AddLine(QStringView line);
    void AddUtf8(std::string_view utf8, std::size_t chars);
    void Appended(qint64 oldCount, qsizetype firstNew);
    void UpdateScrollBars();
    void SyncScrollBars();
    void MeasureAll();
    int LineHeight() const;
    int VisibleLines() const;
    qreal Advance(const QString& text, qsizetype columns) const;
    qreal LineWidth(std::string_view utf8) const;
    qsizetype ColumnAt(const QString& text, qreal x) const;
    QString TextBetween(TPos from, TPos to) const;
    TPos Clamped(TPos pos) const;
    void DragTo(QPoint viewportPoint);

    TLogStore store_;
    TPos anchor_, cursor_;
    qreal widest_ = 0;                // widest line in pixels
    // Advances of the characters up to U+017F (Latin, Polish letters included).
    std::array<qreal, 0x180> charWidth_{};
    bool follow_ = true;
    bool adjusting_ = false;
    bool barsPending_ = false;
    bool painting_ = false;
    bool dragging_ = false;
    QPoint dragPoint_;
    QBasicTimer dragScroll_;
};
