#include "Style.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace {

// Light slate-blue skin: a palette for the fields and lists (the base
// style draws their arrows) and a sheet for frames, tabs and buttons. The
// progress bar has no rule here and gets the platform's own palette back.
const char* const cAquaLightSlate = R"(
TMainForm, QTabWidget > QStackedWidget, QDialog, QMessageBox {
    background-color: #e8edf3;
}
QTabWidget::pane {
    border: 1px solid #8a9bb4;
    border-radius: 3px;
    background-color: #eef2f7;
    top: -1px;
}
QTabBar::tab {
    color: #1f2d3d;
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f4f7fb, stop:1 #d3dce8);
    border: 1px solid #8a9bb4;
    border-bottom: none;
    border-top-left-radius: 4px;
    border-top-right-radius: 4px;
    padding: 3px 12px;
    margin-right: 1px;
}
QTabBar::tab:selected {
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #eef2f7);
    color: #0d1b2a;
}
QTabBar::tab:!selected {
    margin-top: 2px;
}
QTabBar::tab:hover:!selected {
    background-color: #dfe8f3;
}
QGroupBox {
    border: 1px solid #9aaac0;
    border-radius: 4px;
    margin-top: 7px;
    padding-top: 4px;
    background-color: transparent;
}
QGroupBox::title {
    subcontrol-origin: margin;
    subcontrol-position: top left;
    left: 8px;
    padding: 0 3px;
    color: #2b4566;
}
QPushButton {
    color: #10202f;
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fbfcfe, stop:0.5 #e3e9f1, stop:1 #c9d4e2);
    border: 1px solid #7d8fa8;
    border-radius: 4px;
    padding: 3px 10px;
    min-height: 17px;
}
QPushButton:hover {
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:0.5 #e9f0fa, stop:1 #bcd0ea);
    border-color: #5c7fae;
}
QPushButton:pressed {
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #b8c9de, stop:1 #dce5f0);
}
QPushButton:focus {
    border-color: #4f74a6;
}
QPushButton:disabled {
    color: #8893a0;
}
TLogView {
    color: #0d1b2a;
    background-color: #ffffff;
    border: 1px solid #8a9bb4;
    selection-background-color: #7f9cc4;
}
QCheckBox {
    color: #10202f;
    spacing: 5px;
}
QLabel {
    color: #1f2d3d;
    background-color: transparent;
}
QFrame#StatusPanel {
    background-color: #d3dce8;
    border-top: 1px solid #9aaac0;
}
)";

QPalette SlatePalette(const QPalette& from)
{
    QPalette p = from;
    const QColor window(0xe8, 0xed, 0xf3);
    const QColor button(0xdc, 0xe4, 0xee);
    const QColor text(0x10, 0x20, 0x2f);
    const QColor highlight(0x6d, 0x8f, 0xbf);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::WindowText, text);
        p.setColor(group, QPalette::Button, button);
        p.setColor(group, QPalette::ButtonText, text);
        p.setColor(group, QPalette::Base, Qt::white);
        p.setColor(group, QPalette::AlternateBase, QColor(0xf1, 0xf4, 0xf8));
        p.setColor(group, QPalette::Text, text);
        p.setColor(group, QPalette::Highlight, highlight);
        p.setColor(group, QPalette::HighlightedText, Qt::white);
        p.setColor(group, QPalette::Light, Qt::white);
        p.setColor(group, QPalette::Midlight, QColor(0xc9, 0xd4, 0xe2));
        p.setColor(group, QPalette::Mid, QColor(0x9a, 0xaa, 0xc0));
        p.setColor(group, QPalette::Dark, QColor(0x7d, 0x8f, 0xa8));
        p.setColor(group, QPalette::Shadow, QColor(0x4a, 0x5a, 0x70));
    }
    p.setColor(QPalette::Disabled, QPalette::Window, window);
    p.setColor(QPalette::Disabled, QPalette::Button, button);
    return p;
}

} // namespace

bool ApplyVisualStyle(QApplication& app)
{
    // The skin draws on top of Fusion; without it the plain look stays.
    QStyle* base = QStyleFactory::create(QStringLiteral("Fusion"));
    if (!base)
        return false;
    QApplication::setStyle(base);
    QApplication::setPalette(SlatePalette(base->standardPalette()));
    app.setStyleSheet(QString::fromUtf8(cAquaLightSlate));
    return true;
}
