// The quorvantel-emulator program: first line, frame log, options, clean exit.
#include "tests/common/Hex.h"
#include "tests/common/Pty.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <signal.h>

namespace {

const std::string cTestConnect = Hex("1B 01 0A 00 5B C2 00 00 0D 0A");
const std::string cVersionCmd = Hex("1B 0D 0A 00 4B 77 00 00 0D 0A");

} // namespace

class TestEmulatorProgram : public QObject {
    Q_OBJECT

    // Starts the program and returns the terminal named on its first line.
    QString Launch(QProcess& p, const QStringList& args)
    {
        p.setProgram(QV_EMULATOR_BIN);
        p.setArguments(args);
        p.start();
        if (!p.waitForStarted(5000))
            return {};
        QElapsedTimer timer;
        timer.start();
        while (!p.canReadLine() && timer.elapsed() < 5000)
            p.waitForReadyRead(100);
        const QString first = QString::fromUtf8(p.readLine()).trimmed();
        const auto m = QRegularExpression("^Quorvantel emulator on (/dev/pts/\\d+)$").match(first);
        if (!m.hasMatch())
            qWarning("first line: %s", qPrintable(first));
        return m.captured(1);
    }

    // Ends the program as an operator would and returns its exit code.
    int Terminate(QProcess& p, int sig = SIGTERM)
    {
        ::kill(pid_t(p.processId()), sig);
        if (!p.waitForFinished(5000))
            return -1;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    }

private slots:
    void printsPathAndFrames()
    {
        QProcess p;
        const QString path = Launch(p, {"--firmware", "305", "--board", "4"});
        QVERIFY(!path.isEmpty());
        {
            TPty tool(path.toStdString());
            QVERIFY(tool.Ok());
            std::string bad = cTestConnect;
            bad[4] = 0;
            QVERIFY(tool.Send(bad + cVersionCmd));
            QCOMPARE(HexOf(tool.Receive(16)), QString("1B 0D 10 00 32 CA 00 00 31 01 00 00 01 04 0D 0A"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(p.canReadLine(), 5000);
        QCOMPARE(QString::fromUtf8(p.readLine()), QString("1B 01 0A 00 00 C2 00 00 0D 0A  (bad checksum)\n"));
        QTRY_VERIFY_WITH_TIMEOUT(p.canReadLine(), 5000);
        QCOMPARE(QString::fromUtf8(p.readLine()), QString("1B 0D 0A 00 4B 77 00 00 0D 0A \n"));
        QCOMPARE(Terminate(p, SIGINT), 0);
        QCOMPARE(p.readAllStandardError(), QByteArray());
    }

    void faultsFromTheCommandLine()
    {
        QProcess p;
        const QString path = Launch(p, {"--quiet", "--no-pace", "--drop", "1", "--corrupt", "1", "--split", "15,1",
                                        "--split-gap-ms", "100", "--noise", "AA55", "--response", "3"});
        QVERIFY(!path.isEmpty());
        TPty tool(path.toStdString());
        // Dropped first; the next answer comes with noise, a bad checksum and
        // in two pieces, split between CR and LF.
        QVERIFY(tool.Send(cTestConnect + cTestConnect));
        const auto chunks = tool.ReceiveChunks(18);
        std::string all;
        for (const auto& c : chunks)
            all += c;
        QCOMPARE(all.size(), std::size_t(18));
        QCOMPARE(HexOf(all.substr(0, 2)), QString("AA 55"));
        QVERIFY(!VerifyFrame(all.substr(2)));
        QCOMPARE(HexOf(all.substr(2, 4)), QString("1B 01 10 00"));
        QCOMPARE(HexOf(all.substr(8)), QString("00 00 00 00 00 00 03 00 0D 0A"));
        QVERIFY(chunks.size() >= 2);
        QCOMPARE(HexOf(chunks.back()), QString("0A"));
        // Response 3 stays; the rest was for one answer only.
        QVERIFY(tool.Send(cTestConnect));
        QCOMPARE(HexOf(tool.Receive(16)), QString("1B 01 10 00 03 FE 00 00 00 00 00 00 03 00 0D 0A"));
        QVERIFY(!tool.HasInput());
        QCOMPARE(p.readAllStandardOutput(), QByteArray());
        QCOMPARE(Terminate(p), 0);
    }

    void linkAndFlashImage()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString link = dir.filePath("ttyQV");
        const QString image = dir.filePath("flash.bin");
        QProcess p;
        const QString path = Launch(p, {"--quiet", "--no-pace", "--link", link, "--flash-out", image,
                                        "--code", "7", "--confirm-addr", "0x300"});
        QVERIFY(!path.isEmpty());
        QCOMPARE(QFileInfo(link).symLinkTarget(), path);
        {
            TPty tool(link.toStdString());
            QVERIFY(tool.Send(PageFrame(0x100, '\x42')));
            QCOMPARE(HexOf(tool.Receive(16)), QString("1B 07 10 00 82 1D 00 00 00 03 00 00 01 00 0D 0A"));
        }
        QCOMPARE(Terminate(p), 0);
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
        QFile f(image);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QCOMPARE(bytes.size(), qsizetype(1048576));
        QCOMPARE(bytes.count('\x42'), qsizetype(256));
        QCOMPARE(bytes.mid(0x100, 256), QByteArray(256, '\x42'));
        QCOMPARE(bytes.count('\xFF'), qsizetype(1048576 - 256));
    }

    void helpAndBadOptions()
    {
        QProcess p;
        p.start(QV_EMULATOR_BIN, {"--help"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 0);
        const QString help = QString::fromUtf8(p.readAllStandardOutput());
        for (const char* opt : {"--drop", "--corrupt", "--split", "--split-gap-ms", "--noise", "--glue", "--code",
                                "--confirm-addr", "--response", "--delay-ms", "--no-pace", "--firmware", "--board",
                                "--link", "--flash-out", "--quiet"})
            QVERIFY2(help.contains(opt), opt);

        for (const QStringList& args : {QStringList{"--drop", "many"}, QStringList{"--noise", "ABC"},
                                        QStringList{"--board", "256"}, QStringList{"--split", "5,,5"},
                                        QStringList{"--bogus"}, QStringList{"--firmware"}}) {
            QProcess bad;
            bad.start(QV_EMULATOR_BIN, args);
            QVERIFY(bad.waitForFinished(5000));
            QVERIFY2(bad.exitCode() == 2, qPrintable(args.join(' ')));
            QCOMPARE(bad.readAllStandardOutput(), QByteArray());
            QVERIFY(!bad.readAllStandardError().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestEmulatorProgram)
#include "test_program.moc"
