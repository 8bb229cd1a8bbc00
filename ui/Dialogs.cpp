#include "Dialogs.h"

#include <QMessageBox>

#include <exception>

namespace {

QString BoxTitle()
{
    return QStringLiteral("Quorvantel");
}

class TMessageBoxes final : public IDialogs {
public:
    void Message(QWidget* parent, const QString& text) override
    {
        QMessageBox box(QMessageBox::Information, BoxTitle(), text, QMessageBox::Ok, parent);
        box.exec();
    }
    void DetailedMessage(QWidget* parent, const QString& text, const QString& details) override
    {
        QMessageBox box(QMessageBox::Information, BoxTitle(), text, QMessageBox::Ok, parent);
        box.setDetailedText(details);
        box.exec();
    }
    bool Question(QWidget* parent, const QString& text) override
    {
        QMessageBox box(QMessageBox::Question, BoxTitle(), text,
                        QMessageBox::Yes | QMessageBox::No, parent);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    }
    void Error(QWidget* parent, const QString& text) override
    {
        QMessageBox::critical(parent, BoxTitle(), text);
    }
};

TMessageBoxes gMessageBoxes;
IDialogs* gDialogs = &gMessageBoxes;

} // namespace

IDialogs& Dialogs()
{
    return *gDialogs;
}

void SetDialogs(IDialogs* dialogs)
{
    gDialogs = dialogs ? dialogs : &gMessageBoxes;
}

void Guarded(QWidget* parent, const std::function<void()>& handler)
{
    QString text;
    try {
        handler();
        return;
    } catch (const std::exception& e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("Nieznany błąd");
    }
    // The dialog runs outside the catch blocks: a handler may throw again while
    // the dialog's own loop runs other handlers.
    try {
        Dialogs().Error(parent, text);
    } catch (...) {
        // Nothing may reach Qt's frames; a failing error dialog has no one to tell.
    }
}
