#include "LogSave.h"

#include "Dialogs.h"
#include "LogView.h"
#include "protocol/logtime.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTimerEvent>

namespace {
// Work done in one turn of the event loop: well under a frame.
constexpr qint64 cSliceNs = 5'000'000;
// Lines between looks at the clock, and bytes gathered before a write.
constexpr std::size_t cLinesPerLook = 512;
constexpr std::size_t cWriteBytes = std::size_t(1) << 18;
} // namespace

TLogSaver::TLogSaver(std::shared_ptr<const TLogStore> store, const QString& path, QObject* parent)
    : QObject(parent), store_(std::move(store)), lines_(store_->Lines()), file_(path)
{
}

TLogSaver::~TLogSaver()
{
    if (committer_.joinable())
        committer_.join();
}

bool TLogSaver::Start(QString& error)
{
    if (!file_.open(QIODevice::WriteOnly)) {
        error = file_.errorString();
        return false;
    }
    buffer_.reserve(cWriteBytes + 4096);
    slice_.start(0, this);
    return true;
}

void TLogSaver::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != slice_.timerId())
        return QObject::timerEvent(event);
    QElapsedTimer clock;
    clock.start();
    while (next_ < lines_) {
        const std::size_t end = std::min(lines_, next_ + cLinesPerLook);
        for (; next_ < end; ++next_)
            AppendLogFileLine(buffer_, store_->Time(next_), store_->Line(next_));
        if (buffer_.size() >= cWriteBytes || next_ == lines_) {
            if (file_.write(buffer_.data(), qint64(buffer_.size())) != qint64(buffer_.size()))
                return Fail(file_.errorString());
            buffer_.clear();
        }
        if (clock.nsecsElapsed() >= cSliceNs)
            return;
    }
    slice_.stop();
    // The file is flushed to the disk and renamed into place on a thread of
    // its own, which nothing else touches meanwhile; the window goes on.
    committer_ = std::thread([this] {
        const bool written = file_.commit();
        const QString error = written ? QString() : file_.errorString();
        QMetaObject::invokeMethod(
            this,
            [this, written, error] {
                committer_.join();
                emit finished(written, error);
            },
            Qt::QueuedConnection);
    });
}

void TLogSaver::Fail(const QString& error)
{
    slice_.stop();
    file_.cancelWriting();
    file_.commit();
    emit finished(false, error);
}

QString TLogView::proposedFileName(std::int64_t ms)
{
    // "YYYY-MM-DD HH:MM:SS.mmm" -> "YYYYMMDD-HHMMSS"
    const std::string t = LogDateTime(ms);
    const std::string stamp = t.substr(0, 4) + t.substr(5, 2) + t.substr(8, 2) + '-' + t.substr(11, 2) +
                              t.substr(14, 2) + t.substr(17, 2);
    return QStringLiteral("quorvantel-log-%1.txt").arg(QString::fromLatin1(stamp));
}

void TLogView::saveLog()
{
    const QString path = Dialogs().SaveFile(
        this, QStringLiteral("Pliki tekstowe (*.txt)|*.txt|Wszystkie pliki (*)|*"), QStringLiteral("*.txt"),
        proposedFileName(LogNowMs()));
    if (path.isEmpty())
        return;
    auto* saver = new TLogSaver(store_, path, this);
    const auto told = [this, path](const QString& reason) {
        Dialogs().Message(this, QStringLiteral("Nie można zapisać LOGu do pliku %1\n%2")
                                    .arg(QDir::toNativeSeparators(path), reason));
    };
    connect(saver, &TLogSaver::finished, this, [this, saver, path, told](bool written, const QString& error) {
        saver->deleteLater();
        if (!written)
            Guarded(this, [&] { told(error); });
        emit saveFinished(path, written);
    });
    QString error;
    if (!saver->Start(error)) {
        delete saver;
        told(error);
        emit saveFinished(path, false);
    }
}
