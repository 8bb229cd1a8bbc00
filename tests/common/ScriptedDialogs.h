// Dialogs that record their texts instead of showing, for the window tests:
// the order and the exact texts of the boxes can then be asserted.
#pragma once

#include "ui/Dialogs.h"

#include <QString>
#include <QStringList>

#include <functional>

// Records every box; Question answers `answer` (No unless told otherwise).
class TScriptedDialogs final : public IDialogs {
public:
    QStringList messages, questions, errors;
    // The detailed text of each message, in step with `messages` (empty: none).
    QStringList details;
    bool answer = false;
    // Run where the box would be open (inside its nested loop).
    std::function<void(const QString&)> onMessage;
    std::function<void(const QString&)> onError;

    void Message(QWidget* parent, const QString& text) override { DetailedMessage(parent, text, QString()); }
    void DetailedMessage(QWidget*, const QString& text, const QString& detailText) override
    {
        messages << text;
        details << detailText;
        if (onMessage)
            onMessage(text);
    }
    std::function<void(const QString&)> onQuestion;
    bool Question(QWidget*, const QString& text) override
    {
        questions << text;
        if (onQuestion)
            onQuestion(text);
        return answer;
    }
    void Error(QWidget*, const QString& text) override
    {
        errors << text;
        if (onError)
            onError(text);
    }
    // File dialog: what it was shown, and the file it picks (empty: cancel).
    QString fileToPick;
    QStringList fileFilters, fileDefaultExts, fileNames;
    QString OpenFile(QWidget*, const QString& filter, const QString& defaultExt,
                     const QString& fileName) override
    {
        fileFilters << filter;
        fileDefaultExts << defaultExt;
        fileNames << fileName;
        return fileToPick;
    }
    // Save dialog: the names it proposed, and the file it picks (empty: cancel).
    QString saveToPick;
    QStringList saveNames;
    QString SaveFile(QWidget*, const QString&, const QString&, const QString& fileName) override
    {
        saveNames << fileName;
        return saveToPick;
    }
    int Count() const { return int(messages.size() + questions.size() + errors.size()); }
};
