// The operator log's view: read-only lines without wrapping, both scroll
// bars, following the end unless the operator has scrolled up; selection as
// in a text area, copy and select-all; each line's time on demand, saving to
// a file (LogSave.cpp) and search (LogFind.cpp). It keeps its lines in a
// TLogStore and draws only the lines on screen, so a day of frames costs
// little more than its text. Screen readers read it through its
// accessibility interface (LogViewAccessible.cpp) as a read-only text area.
// Everything it offers - lines, selection, copy, the accessible text -
// follows what it shows, times included when they are shown.
#pragma once

#include "LogStore.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
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
    // Columns of the time shown before each line: "HH:MM:SS.mmm" and two blanks.
    static constexpr qsizetype cTimeColumns = 14;

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
    // The lines as shown, joined by '\n'.
    QString toPlainText() const;
    qsizetype lineCount() const { return qsizetype(store_->Lines()); }
    // A line as shown (its time before it while times are shown).
    QString lineText(qsizetype line) const;
    // A line as it was logged, and when.
    std::string_view lineUtf8(qsizetype line) const { return store_->Line(std::size_t(line)); }
    std::int64_t lineTime(qsizetype line) const { return store_->Time(std::size_t(line)); }
    // The lines as they stand; kept alive for whoever holds them (a save in
    // progress) while the view goes on with an emptied log.
    std::shared_ptr<const TLogStore> store() const { return store_; }
    bool isReadOnly() const { return true; }
    std::size_t bytesHeld() const { return store_->BytesHeld(); }

    // ---- times ----
    bool timesShown() const { return timeColumns_ > 0; }
    void setTimesShown(bool shown);
    // Columns in front of each line's own text as shown.
    qsizetype timeColumns() const { return timeColumns_; }

    // ---- selection (anchor: where it began; cursor: its moving end) ----
    TPos anchor() const { return anchor_; }
    TPos cursor() const { return cursor_; }
    void setSelection(TPos anchor, TPos cursor);
    bool hasSelection() const { return anchor_ != cursor_; }
    QString selectedText() const;
    void selectAll();
    // Puts the selected text on the clipboard; nothing without a selection.
    void copy();
    // Selects as the mouse would (the selection offered to middle-click
    // paste) and scrolls the selection's end into view.
    void selectFound(TPos from, TPos to);
    // The context menu: copy, select-all, times, search, saving.
    QMenu* createContextMenu(QWidget* parent);

    // ---- saving (LogSave.cpp) ----
    // Asks for a file in the save dialog and writes every line with its date
    // and time there, a slice of lines per turn of the event loop.
    void saveLog();
    // The name the save dialog proposes for a log saved at `ms`.
    static QString proposedFileName(std::int64_t ms);

    // ---- the whole text as one string (lines joined by '\n') ----
    qint64 characterCount() const;
    qint64 offsetOf(TPos pos) const;
    TPos posAt(qint64 offset) const;
    QString textRange(qint64 start, qint64 end) const;
    // A character's box in the viewport's coordinates (empty when out of the text).
    QRect characterRect(qint64 offset) const;
    // The place under a point of the viewport; with `nearest` false the
    // character under it rather than the nearest gap between characters.
    TPos posAtPoint(QPoint viewportPoint, bool nearest = true) const;
    // The first line on screen.
    qsizetype firstVisibleLine() const;
    // Scrolls so that `line` is on screen.
    void ensureLineVisible(qsizetype line);
    // Scrolls so that the place is on screen, sideways too.
    void ensureVisible(TPos pos);
    // True while new lines bring the view along (the view is at the end).
    bool followsEnd() const { return follow_; }

signals:
    void textChanged();
    void selectionChanged();
    void timesShownChanged(bool shown);
    // Ctrl+F or "Znajdź…": the search field is wanted.
    void findRequested();
    // A save has ended, written in full or not.
    void saveFinished(const QString& path, bool written);

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
    qsizetype ShownChars(qsizetype line) const;
    TPos EndOfText() const;
    qreal Advance(const QString& text, qsizetype columns) const;
    qreal LineWidth(std::string_view utf8) const;
    qsizetype ColumnAt(const QString& text, qreal x, bool nearest) const;
    QString TextBetween(TPos from, TPos to) const;
    TPos Clamped(TPos pos) const;
    void DragTo(QPoint viewportPoint);
    // Scrolls sideways so that the place is on screen.
    void ShowColumn(TPos pos);
    // The selection offered to middle-click paste, where the platform has one.
    void OfferSelection();

    std::shared_ptr<TLogStore> store_;
    TPos anchor_, cursor_;
    qsizetype timeColumns_ = 0;
    qreal widest_ = 0;                // widest line in pixels, times left out
    qreal timeWidth_ = 0;             // width of the time shown before a line
    // Advances of the characters up to U+017F (Latin, Polish letters included).
    std::array<qreal, 0x180> charWidth_{};
    bool follow_ = true;
    bool adjusting_ = false;
    bool barsPending_ = false;
    bool painting_ = false;
    bool dragging_ = false;
    QPoint dragPoint_;
    QBasicTimer dragScroll_;
    // A press soon after a double-click on the same spot selects the line.
    QElapsedTimer doubleClicked_;
    QPoint doubleClickPoint_;
};
