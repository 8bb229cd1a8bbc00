// The search under the operator log: a field (accessible name "Szukaj w
// LOGu") and a note beside it. Typing finds the first match from the view's
// place on; Enter or F3 the next, Shift+Enter or Shift+F3 the previous,
// wrapping at the ends; the match is selected and scrolled into view; case
// does not count. Escape closes it and gives the keyboard back to the log.
#pragma once

#include "LogView.h"

#include <QWidget>

class QLabel;
class QLineEdit;

class TLogFind : public QWidget {
    Q_OBJECT
public:
    enum class TStep { FromPlace, Next, Previous };

    TLogFind(TLogView* view, QWidget* parent);
    QLineEdit* Field() const { return field_; }
    QLabel* Note() const { return note_; }
    // Shows the field with the keyboard in it.
    void Open();
    // Hides it; the log has the keyboard.
    void Close();
    // One step of the search for the field's text; true when a match is selected.
    bool Find(TStep step);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Where typing starts: the selection when it is on screen, else the
    // first line on screen.
    TLogView::TPos Place() const;

    TLogView* view_;
    QLineEdit* field_;
    QLabel* note_;
};
