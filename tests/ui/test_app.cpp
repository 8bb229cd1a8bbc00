// The program itself: it does not come up when the port list cannot be read,
// and it runs against the emulator given on its command line.
#include "emulator/Emulator.h"
#include "protocol/frame.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct TRun {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QString out, err;
};

TRun RunProgram(const QStringList& args, const QList<std::pair<QString, QString>>& env,
                int timeoutMs = 20000)
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    e.insert(QStringLiteral("QV_DIALOGS"), QStringLiteral("stderr"));
    e.insert(QStringLiteral("QV_REPORT_SHOWN"), QStringLiteral("1"));
    for (const auto& [k, v] : env)
        e.insert(k, v);
    p.setProcessEnvironment(e);
    p.start(QStringLiteral(QV_PROGRAM), args);
    TRun r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitCode();
    r.status = p.exitStatus();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    // Only the boxes' lines; Qt's own warnings are not ours to judge.
    const QStringList lines = QString::fromUtf8(p.readAllStandardError()).split(QLatin1Char('\n'));
    for (const QString& line : lines)
        if (line.startsWith(QLatin1String("ERROR: ")) || line.startsWith(QLatin1String("MESSAGE: ")) ||
            line.startsWith(QLatin1String("QUESTION: ")) || line.startsWith(QLatin1String("QV_")))
            r.err += line + QLatin1Char('\n');
    return r;
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT
private slots:
    void unreadablePortListEndsTheRunBeforeTheWindow()
    {
        // The port list is read from a folder that does not exist.
        const TRun r = RunProgram({}, {{"QV_SYS_CLASS_TTY", "/nonexistent/sys/class/tty"},
                                       {"QV_QUIT_MS", "0"}});
        QCOMPARE(r.status, QProcess::NormalExit);
        QVERIFY(r.exitCode != 0);
        QCOMPARE(r.err.trimmed(),
                 QStringLiteral("ERROR: COM Port Error: Registry error on registry read"));
        QVERIFY2(!r.out.contains(QStringLiteral("QV_SHOWN")), qPrintable(r.out));
    }

    void runsAgainstTheEmulator()
    {
        TEmulator emu;
        std::string error;
        QVERIFY2(emu.Start(&error), error.c_str());
        // An empty port list: the port comes from the command line alone.
        QTemporaryDir sys;
        QVERIFY(sys.isValid());
        const TRun r = RunProgram({QString::fromStdString(emu.SlavePath())},
                                  {{"QV_SYS_CLASS_TTY", sys.path()},
                                   {"QV_CLICK", "btnTestConnection"},
                                   {"QV_CLICK_GAP_MS", "100"},
                                   {"QV_QUIT_MS", "2500"}});
        QCOMPARE(r.status, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(QStringLiteral("QV_SHOWN ")), qPrintable(r.out));
        // No box of any kind: the port opened and the answer came in time.
        QVERIFY2(r.err.trimmed().isEmpty(), qPrintable(r.err));
        QVERIFY(emu.WaitForFrames(1, 1000));
        TBytes expected = BuildCommandFrame(cmd_TestConnect);
        SealFrame(expected);
        QCOMPARE(emu.Frames().front(), expected);
        QCOMPARE(emu.AnswersSent(), std::size_t(1));
    }

    void windowManagerSeesTheCaptionAlone()
    {
        // What a desktop's title bar shows is the window's _NET_WM_NAME, not the
        // widget's title: read it from a real X server.
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        const QString xprop = QStandardPaths::findExecutable(QStringLiteral("xprop"));
        if (xvfb.isEmpty() || xprop.isEmpty())
            QSKIP("needs Xvfb and xprop");

        QProcess server;
        // -displayfd 1: the server writes its display number to its stdout once ready.
        server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                            QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                            QStringLiteral("1024x768x24")});
        QVERIFY(server.waitForStarted(5000));
        QByteArray number;
        QElapsedTimer t;
        t.start();
        while (!number.contains('\n') && t.elapsed() < 10000 && server.state() == QProcess::Running) {
            server.waitForReadyRead(100);
            number += server.readAllStandardOutput();
        }
        const QString display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
        QVERIFY2(number.contains('\n'), "Xvfb did not come up");

        QTemporaryDir sys;
        QVERIFY(sys.isValid());
        QProcess program;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        e.insert(QStringLiteral("DISPLAY"), display);
        e.insert(QStringLiteral("QV_DIALOGS"), QStringLiteral("stderr"));
        e.insert(QStringLiteral("QV_REPORT_SHOWN"), QStringLiteral("1"));
        e.insert(QStringLiteral("QV_SYS_CLASS_TTY"), sys.path());
        e.insert(QStringLiteral("QV_QUIT_MS"), QStringLiteral("5000"));
        program.setProcessEnvironment(e);
        program.start(QStringLiteral(QV_PROGRAM), QStringList{});
        QByteArray out;
        t.restart();
        while (!out.contains("QV_SHOWN") && t.elapsed() < 15000 && program.state() != QProcess::NotRunning) {
            program.waitForReadyRead(100);
            out += program.readAllStandardOutput();
        }

        const QString caption = QStringLiteral("Vornale/Dazoza Quorvantel V1.02 2017-06-12");
        QProcess query;
        query.start(xprop, {QStringLiteral("-display"), display, QStringLiteral("-name"), caption,
                            QStringLiteral("_NET_WM_NAME"), QStringLiteral("WM_NAME")});
        QVERIFY(query.waitForFinished(5000));
        const QString props = QString::fromUtf8(query.readAllStandardOutput());

        program.kill();
        program.waitForFinished(5000);
        server.terminate();
        if (!server.waitForFinished(5000))
            server.kill();

        QVERIFY2(out.contains("QV_SHOWN"), out.constData());
        QCOMPARE(props.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                 (QStringList{QStringLiteral("_NET_WM_NAME(UTF8_STRING) = \"") + caption + QLatin1Char('"'),
                              QStringLiteral("WM_NAME(STRING) = \"") + caption + QLatin1Char('"')}));
    }
};

QTEST_GUILESS_MAIN(TestApp)
#include "test_app.moc"
