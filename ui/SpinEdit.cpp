#include "SpinEdit.h"

#include <QLineEdit>
#include <QRegularExpression>

#include <limits>

namespace {

// A whole number as typed: optional sign, digits, blanks around.
const QRegularExpression& IntegerText()
{
    static const QRegularExpression re(QStringLiteral("^\\s*([+-]?)(\\d+)\\s*$"));
    return re;
}

// The typed number brought into [lo, hi]; text that is no number gives lo.
int ClampedValue(const QString& text, int lo, int hi)
{
    const auto m = IntegerText().match(text);
    if (!m.hasMatch())
        return lo;
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok);
    if (!ok) // more digits than any limit: the sign tells which end
        return m.captured(1) == QLatin1String("-") ? lo : hi;
    if (v < lo)
        return lo;
    if (v > hi)
        return hi;
    return int(v);
}

} // namespace

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent)
{
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

QValidator::State TSpinEdit::validate(QString& input, int& pos) const
{
    Q_UNUSED(pos);
    // Every text stands: numbers outside the range and text that is no number
    // are brought to a value when read (valueFromText) and when the box loses
    // the focus, where the text is replaced by the value.
    Q_UNUSED(input);
    return QValidator::Acceptable;
}

void TSpinEdit::fixup(QString& input) const
{
    input = QString::number(ClampedValue(input, minimum(), maximum()));
}

int TSpinEdit::valueFromText(const QString& text) const
{
    return ClampedValue(text, minimum(), maximum());
}
