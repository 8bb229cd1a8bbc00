// Small pieces the page builders share: fonts, named controls, labelled rows,
// spin edits and the colour and font lists.
#pragma once

#include <QColor>
#include <QFont>
#include <QGroupBox>
#include <QList>
#include <QMargins>
#include <QString>
#include <QStringList>

class QComboBox;
class QGridLayout;
class QWidget;
class TSpinEdit;

namespace layout {

QFont TahomaFont(int pixelSize, bool bold = false);

template <class T>
T* Named(T* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// The two colours a frame can carry, by list position.
const QStringList& ColourNames();
const QList<QColor>& ColourValues();
// "Czcionka 8x8 1" .. "Czcionka 64x64 2".
QStringList FontNames();
// The cell size (8, 16, 32 or 64) the font at `position` of that list names.
int FontCell(int position);

// A spin edit with its range and value, in the large font of the entry
// fields, its text centred unless told otherwise.
void SetupSpin(TSpinEdit* s, int lo, int hi, int value, bool centred = true);
// The colour list with its swatches, `selected` chosen and shown as its colour.
void SetupColourList(QComboBox* box, int selected);
// The 16 fonts, the first chosen.
void SetupFontList(QComboBox* box);
// A group box with its title, laid out by a new `Layout` with the given
// margins and spacing.
template <class Layout>
Layout* TitledGroup(QGroupBox* box, const char* title, const QMargins& margins, int spacing)
{
    box->setTitle(QString::fromUtf8(title));
    auto* l = new Layout(box);
    l->setContentsMargins(margins);
    l->setSpacing(spacing);
    return l;
}

// A spin edit set up as SetupSpin does, in a labelled row.
void AddSpinRow(QGridLayout* grid, int row, const QString& label, TSpinEdit* spin, int lo, int hi,
                int value, Qt::Alignment fieldAlign = {});
// "label" in column `col`, the field beside it; the label is the field's buddy.
void AddRow(QGridLayout* grid, int row, const QString& label, QWidget* field,
            int col = 0, Qt::Alignment fieldAlign = {});

} // namespace layout

// Creates member `var` of type `Type` under `parent`, named after the member.
#define QV_MAKE(var, Type, parent) (var = layout::Named(new Type(parent), #var))
