// The one seam through which the program shows message, question and error
// boxes, so that tests can read their texts and answer them.
#pragma once

#include <QString>

#include <functional>

class QWidget;

class IDialogs {
public:
    virtual ~IDialogs() = default;
    // Modal box with a text and OK; returns when it is closed.
    virtual void Message(QWidget* parent, const QString& text) = 0;
    // The same box with a detailed text the operator can unfold. A seam that
    // does not override it shows the text alone.
    virtual void DetailedMessage(QWidget* parent, const QString& text, const QString& details)
    {
        (void)details;
        Message(parent, text);
    }
    // Modal box with Yes and No; true for Yes.
    virtual bool Question(QWidget* parent, const QString& text) = 0;
    // The standard error dialog for an error that escaped a handler.
    virtual void Error(QWidget* parent, const QString& text) = 0;
    // Modal file-open dialog. `filter` is "description|pattern" pairs joined
    // by '|', `defaultExt` like "*.BIN", `fileName` the name proposed.
    // Returns the file picked, or an empty string when cancelled (the default
    // for seams that show no files).
    virtual QString OpenFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                             const QString& fileName)
    {
        (void)parent, (void)filter, (void)defaultExt, (void)fileName;
        return {};
    }
    // Modal file-save dialog, with the same arguments; it asks before a file
    // is replaced. Returns the file chosen, or an empty string when cancelled.
    virtual QString SaveFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                             const QString& fileName)
    {
        (void)parent, (void)filter, (void)defaultExt, (void)fileName;
        return {};
    }
};

// The seam in force; by default real modal QMessageBoxes.
IDialogs& Dialogs();
// Replaces the seam (tests); nullptr restores the real boxes.
void SetDialogs(IDialogs* dialogs);

// Runs a handler that Qt calls and shows any error escaping it in the error
// dialog, so that no exception ever reaches Qt's own frames.
void Guarded(QWidget* parent, const std::function<void()>& handler);
