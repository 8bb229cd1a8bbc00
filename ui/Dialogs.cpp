#include "Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

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
        DetailedMessage(parent, text, QString());
    }
    void DetailedMessage(QWidget* parent, const QString& text, const QString& details) override
    {
        QMessageBox box(QMessageBox::Information, BoxTitle(), text, QMessageBox::Ok, parent);
        if (!details.isEmpty())
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
    QString OpenFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                     const QString& fileName) override
    {
        return FileDialog(parent, QFileDialog::AcceptOpen, filter, defaultExt, fileName);
    }
    QString SaveFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                     const QString& fileName) override
    {
        return FileDialog(parent, QFileDialog::AcceptSave, filter, defaultExt, fileName);
    }

private:
    static QString FileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& filter,
                              const QString& defaultExt, const QString& fileName)
    {
        QFileDialog dialog(parent, BoxTitle());
        // Qt's own dialog speaks the program's Polish; a desktop's native one
        // would follow the system's language.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(mode);
        dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        dialog.setNameFilters(QtFilters(filter));
        QString suffix = defaultExt;
        suffix.remove(QStringLiteral("*.")).remove(QLatin1Char('*'));
        dialog.setDefaultSuffix(suffix);
        dialog.selectFile(fileName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().constFirst();
    }

    // "Description (*.BIN)|*.BIN" pairs as Qt's "Description (*.BIN *.bin)":
    // Linux names are case-sensitive, the patterns are meant without case.
    static QStringList QtFilters(const QString& filter)
    {
        QStringList out;
        const QStringList parts = filter.split(QLatin1Char('|'));
        for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
            QString description = parts[i];
            const qsizetype paren = description.lastIndexOf(QLatin1Char('('));
            if (paren > 0)
                description.truncate(paren);
            QStringList patterns;
            for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
                patterns << p << p.toLower() << p.toUpper();
            patterns.removeDuplicates();
            out << description.trimmed() + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
        }
        return out;
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
