// A spin edit that accepts any typed whole number and brings it into range
// when it is read or loses the focus; text that is no number reads as the
// lower limit.
#pragma once

#include <QSpinBox>

class TSpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
    int valueFromText(const QString& text) const override;
};
