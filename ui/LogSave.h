// Saving the operator log: every line with its date and time, written a
// slice at a time on the GUI thread so that the window keeps answering, from
// the lines as they stood when the save began (lines added meanwhile are not
// written; a log cleared meanwhile is still written whole).
#pragma once

#include "LogStore.h"

#include <QBasicTimer>
#include <QObject>
#include <QSaveFile>

#include <memory>
#include <string>
#include <thread>

class TLogSaver : public QObject {
    Q_OBJECT
public:
    TLogSaver(std::shared_ptr<const TLogStore> store, const QString& path, QObject* parent);
    ~TLogSaver() override;
    // Opens the file; false with the reason when it cannot be opened.
    bool Start(QString& error);

signals:
    // The file is written in full and in place, or not (`error` says why;
    // a file of that name that was there before is left as it was).
    void finished(bool written, const QString& error);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void Fail(const QString& error);

    std::shared_ptr<const TLogStore> store_;
    std::size_t lines_;
    std::size_t next_ = 0;
    QSaveFile file_;
    std::string buffer_;
    QBasicTimer slice_;
    // Puts the written file in place: the flush to the disk can take long.
    std::thread committer_;
};
