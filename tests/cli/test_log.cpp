// quorvantel-cli's --log file: every line after its date and time, as the
// window saves its log, appended to what the file held.
#include "CliRig.h"

#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

class TestCliLog : public QObject {
    Q_OBJECT
private slots:
    void linesAfterTheirDateAndTime()
    {
        TCliRig rig;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("frames.log"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("earlier line\n") == 13);
        file.close();
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        QProcess p;
        p.start(QStringLiteral(QV_CLI_BIN), {"--port", QString::fromStdString(rig.emu.SlavePath()), "--log", path, "test"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        static const QRegularExpression timed(QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3})  (.*)$"));
        QStringList texts;
        qint64 last = before;
        for (const QString& line : lines.mid(1, lines.size() - 2)) {
            const QRegularExpressionMatch m = timed.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            const qint64 at = QDateTime::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toMSecsSinceEpoch();
            QVERIFY2(at >= last && at <= after, qPrintable(line));
            last = at;
            texts << m.captured(2);
        }
        QCOMPARE(lines.first(), QStringLiteral("earlier line"));
        QCOMPARE(lines.last(), QString());
        QCOMPARE(texts, (QStringList{QStringLiteral("1B 01 0A 00 5B C2 00 00 0D 0A  wielkość: 10"),
                                     QStringLiteral("1B 01 10 00 6B 13 00 00 00 00 00 00 01 00 0D 0A  Wielkość: 16")}));
    }
};

QTEST_GUILESS_MAIN(TestCliLog)
#include "test_log.moc"
