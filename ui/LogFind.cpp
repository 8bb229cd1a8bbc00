#include "LogFind.h"

#include "Dialogs.h"
#include "LogText.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include <optional>

using logtext::TMatcher;
using TPos = TLogView::TPos;

namespace {

constexpr std::size_t npos = std::string_view::npos;

struct TMatch {
    qsizetype line;
    std::size_t byte;
};

// The first match at or after byte `from` of line `line`, wrapping past the
// last line to the first and on to where the search began.
std::optional<TMatch> Forward(const TLogView& view, const TMatcher& m, qsizetype line, std::size_t from)
{
    const qsizetype lines = view.lineCount();
    for (qsizetype k = 0; k <= lines; ++k) {
        const qsizetype i = (line + k) % lines;
        const std::size_t at = m.First(view.lineUtf8(i), k == 0 ? from : 0);
        if (at != npos)
            return TMatch{i, at};
    }
    return std::nullopt;
}

// The last match starting before byte `before` of line `line`, wrapping
// back past the first line to the last.
std::optional<TMatch> Backward(const TLogView& view, const TMatcher& m, qsizetype line, std::size_t before)
{
    const qsizetype lines = view.lineCount();
    for (qsizetype k = 0; k <= lines; ++k) {
        const qsizetype i = ((line - k) % lines + lines) % lines;
        const std::size_t at = m.Last(view.lineUtf8(i), k == 0 ? before : npos);
        if (at != npos)
            return TMatch{i, at};
    }
    return std::nullopt;
}

} // namespace

TLogFind::TLogFind(TLogView* view, QWidget* parent) : QWidget(parent), view_(view)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("edLogFind"));
    field_->setAccessibleName(QStringLiteral("Szukaj w LOGu"));
    field_->setPlaceholderText(QStringLiteral("Szukaj w LOGu"));
    field_->setClearButtonEnabled(true);
    field_->installEventFilter(this);
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("lLogFind"));
    row->addWidget(field_, 1);
    row->addWidget(note_);
    connect(field_, &QLineEdit::textEdited, this, [this] { Guarded(this, [this] { Find(TStep::FromPlace); }); });
    connect(view_, &TLogView::findRequested, this, &TLogFind::Open);
    hide();
}

void TLogFind::Open()
{
    show();
    field_->setFocus(Qt::ShortcutFocusReason);
    field_->selectAll();
}

void TLogFind::Close()
{
    hide();
    note_->clear();
    view_->setFocus(Qt::OtherFocusReason);
}

TPos TLogFind::Place() const
{
    const TPos start = std::min(view_->anchor(), view_->cursor());
    const qsizetype top = view_->firstVisibleLine();
    const qsizetype shown = std::max<qsizetype>(1, view_->viewport()->height() / std::max(1, view_->fontMetrics().lineSpacing()));
    if (view_->hasSelection() && start.line >= top && start.line < top + shown)
        return start;
    return {top, 0};
}

bool TLogFind::Find(TStep step)
{
    const TMatcher matcher(field_->text());
    if (matcher.Empty() || view_->lineCount() == 0) {
        note_->setText(matcher.Empty() ? QString() : QStringLiteral("Nie znaleziono"));
        return false;
    }
    const qsizetype tc = view_->timeColumns();
    // A shown place as a byte of its line's own text.
    const auto byteOf = [this, tc](TPos p) {
        return logtext::Utf8Offset(view_->lineUtf8(p.line), std::max<qsizetype>(0, p.column - tc));
    };
    const bool selected = view_->hasSelection();
    const TPos from = std::min(view_->anchor(), view_->cursor()), to = std::max(view_->anchor(), view_->cursor());
    std::optional<TMatch> found;
    if (step == TStep::Previous) {
        const TPos p = selected ? from : Place();
        found = Backward(*view_, matcher, p.line, byteOf(p));
    } else {
        const TPos p = step == TStep::Next && selected ? to : Place();
        found = Forward(*view_, matcher, p.line, byteOf(p));
    }
    if (!found) {
        note_->setText(QStringLiteral("Nie znaleziono"));
        return false;
    }
    note_->clear();
    const std::string_view line = view_->lineUtf8(found->line);
    const std::size_t length = matcher.Length(line, found->byte);
    const qsizetype start = tc + logtext::Utf16Units(line, found->byte);
    const qsizetype end = start + logtext::Utf16Units(line.substr(found->byte), length);
    view_->selectFound({found->line, start}, {found->line, end});
    return true;
}

bool TLogFind::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != field_ || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool back = key->modifiers() & Qt::ShiftModifier;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F3:
        Guarded(this, [this, back] { Find(back ? TStep::Previous : TStep::Next); });
        return true;
    case Qt::Key_Escape:
        Close();
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}
