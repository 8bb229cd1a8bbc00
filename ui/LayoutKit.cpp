#include "LayoutKit.h"

#include "MainUnit.h"
#include "SpinEdit.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include <iterator>
#include <utility>

namespace layout {

QFont TahomaFont(int pixelSize, bool bold)
{
    QFont f;
    // Tahoma where it exists; otherwise a sans face of similar width.
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("DejaVu Sans")});
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

const QStringList& ColourNames()
{
    static const QStringList names{QStringLiteral("Czarny"), QStringLiteral("Czerwony")};
    return names;
}

const QList<QColor>& ColourValues()
{
    static const QList<QColor> values{QColor(0, 0, 0), QColor(255, 0, 0)};
    return values;
}

namespace {
// Cell size and how many fonts of it, in list order.
constexpr std::pair<int, int> cFontCells[] = {{8, 8}, {16, 4}, {32, 2}, {64, 2}};
} // namespace

QStringList FontNames()
{
    QStringList names;
    for (auto [cell, count] : cFontCells)
        for (int i = 1; i <= count; ++i)
            names << QStringLiteral("Czcionka %1x%1 %2").arg(cell).arg(i);
    return names;
}

int FontCell(int position)
{
    for (auto [cell, count] : cFontCells) {
        if (position < count)
            return cell;
        position -= count;
    }
    return std::end(cFontCells)[-1].first;
}

void SetupSpin(TSpinEdit* s, int lo, int hi, int value, bool centred)
{
    s->setRange(lo, hi);
    s->setValue(value);
    s->setFont(TahomaFont(24));
    if (centred)
        s->setAlignment(Qt::AlignCenter);
    s->setMinimumWidth(104);
}

void SetupColourList(QComboBox* box, int selected)
{
    for (int i = 0; i < ColourNames().size(); ++i) {
        QPixmap swatch(14, 14);
        swatch.fill(ColourValues()[i]);
        QPainter edge(&swatch);
        edge.setPen(QColor(0x80, 0x80, 0x80));
        edge.drawRect(0, 0, 13, 13);
        edge.end();
        box->addItem(QIcon(swatch), ColourNames()[i]);
    }
    box->setCurrentIndex(selected);
    TMainForm::SetSelectorColour(box, ColourValues()[selected]);
}

void SetupFontList(QComboBox* box)
{
    box->addItems(FontNames());
    box->setMaxVisibleItems(16);
    box->setCurrentIndex(0);
}

void AddSpinRow(QGridLayout* grid, int row, const QString& label, TSpinEdit* spin, int lo, int hi,
                int value, Qt::Alignment fieldAlign)
{
    SetupSpin(spin, lo, hi, value);
    AddRow(grid, row, label, spin, 0, fieldAlign);
}

void AddRow(QGridLayout* grid, int row, const QString& label, QWidget* field, int col,
            Qt::Alignment fieldAlign)
{
    auto* l = new QLabel(label, field->parentWidget());
    l->setBuddy(field);
    grid->addWidget(l, row, col);
    grid->addWidget(field, row, col + 1, fieldAlign);
}

} // namespace layout
