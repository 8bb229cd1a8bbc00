#include "Style.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace {

// Light slate-blue skin. The progress bar has no rule here: it keeps the
// platform look.
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
QComboBox, QSpinBox, QLineEdit {
    color: #0d1b2a;
    background-color: #ffffff;
    border: 1px solid #8a9bb4;
    border-radius: 3px;
    padding: 1px 3px;
    selection-background-color: #7f9cc4;
}
QComboBox:focus, QSpinBox:focus, QLineEdit:focus {
    border-color: #4f74a6;
}
QComboBox::drop-down {
    border-left: 1px solid #a9b7ca;
    width: 16px;
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f4f7fb, stop:1 #d3dce8);
}
QComboBox QAbstractItemView {
    background-color: #ffffff;
    selection-background-color: #7f9cc4;
    border: 1px solid #8a9bb4;
}
QSpinBox::up-button, QSpinBox::down-button {
    width: 16px;
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f4f7fb, stop:1 #d3dce8);
    border-left: 1px solid #a9b7ca;
}
QPlainTextEdit {
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

} // namespace

bool ApplyVisualStyle(QApplication& app)
{
    // The sheet draws on top of Fusion; without it the plain look stays.
    QStyle* base = QStyleFactory::create(QStringLiteral("Fusion"));
    if (!base)
        return false;
    app.setStyle(base);
    app.setStyleSheet(QString::fromUtf8(cAquaLightSlate));
    return true;
}
