// quorvantel-cli run as a program against the emulator: the frames it puts on
// the line, its output and exit codes, both updates with lost confirmations,
// a transfer that stops and goes on, and Ctrl+C.
#include "CliRig.h"
#include "tests/common/Hex.h"
#include "tests/common/Wait.h"
#include "tests/update/UpdateFiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>
#include <set>

namespace {
struct TRun {
    int code = -1;
    QString out, err;
};

void StartCli(QProcess& p, const QStringList& args)
{
    p.start(QStringLiteral(QV_CLI_BIN), args);
    QVERIFY(p.waitForStarted());
}

TRun Finish(QProcess& p)
{
    if (!p.waitForFinished(110000))
        p.kill();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

TRun Cli(const QStringList& args)
{
    QProcess p;
    StartCli(p, args);
    return Finish(p);
}

QByteArray Flash(const TEmulator& emu, qsizetype from, qsizetype length)
{
    const auto image = emu.FlashImage();
    return QByteArray(reinterpret_cast<const char*>(image.data()) + from, length);
}

int PageOf(const std::string& frame)
{
    return frame.size() == tProgramFlashPage::cSize ? int(GetLE32(reinterpret_cast<const std::uint8_t*>(frame.data()) + 8) / 256)
                                                     : -1;
}

QByteArray GraphicsFlash(const QByteArray& file)
{
    return file + QByteArray(TEmulator::cFlashSize - file.size(), '\0');
}

const QString cCommand3 = QStringLiteral("1B 03 0A 00 3C 04 00 00 0D 0A");

bool HasCode(const TEmulator& emu, std::uint8_t code)
{
    for (const std::string& f : emu.Frames())
        if (f.size() > 1 && std::uint8_t(f[1]) == code)
            return true;
    return false;
}
} // namespace

class TestCliProgram : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void commands_data();
    void commands();
    void refusals_data();
    void refusals();
    void updates_data();
    void updates();
    void stopsAndGoesOn();
    void interrupt();
    void stopSignals_data();
    void stopSignals();
    void unreadOutput_data();
    void unreadOutput();
    void json_data();
    void json();
    void jsonLive();
    void lineLost();

private:
    std::unique_ptr<TCliRig> rig;
    QTemporaryDir dir;
    std::unique_ptr<QTemporaryDir> state; // the records of stopped transfers, each test its own
    QString port;
};

void TestCliProgram::init()
{
    rig = std::make_unique<TCliRig>();
    port = QString::fromStdString(rig->emu.SlavePath());
    state = std::make_unique<QTemporaryDir>();
    qputenv("XDG_STATE_HOME", state->path().toUtf8());
}

void TestCliProgram::cleanup() { rig.reset(); }

void TestCliProgram::commands_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("out");
    // The frames as the emulator received them (sealed here).
    auto S = [](const char* hex) { return HexOf(Sealed(Hex(hex))); };
    QTest::newRow("test") << QStringList{"test"} << "1B 01 0A 00 5B C2 00 00 0D 0A" << "OK";
    QTest::newRow("restart") << QStringList{"restart"} << "1B 02 0A 00 1F EF 00 00 0D 0A" << "OK";
    QTest::newRow("clear") << QStringList{"clear"} << "1B 04 0A 00 97 B5 00 00 0D 0A" << "OK";
    QTest::newRow("version") << QStringList{"version"} << "1B 0D 0A 00 4B 77 00 00 0D 0A"
                             << QStringLiteral("Wersja firmware 1.02. Wersja sprzętowa 2.00");
    QTest::newRow("brightness") << QStringList{"brightness"} << "1B 05 0A 00 B4 5E 00 00 0D 0A" << "0";
    QTest::newRow("brightness 15") << QStringList{"brightness", "15"} << "1B 06 0C 00 15 3C 00 00 0F 00 0D 0A"
                                   << "15";
    QTest::newRow("text, Polish letters")
        << QStringList{"text", QStringLiteral("Zażółć")}
        << "1B 07 1E 00 B0 BB 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 5A 61 91 8D 8C 8A 0D 0A" << "OK";
    QTest::newRow("text, every option")
        << QStringList{"text", "--x", "-3", "--y", "7", "--font", "15", "--color", "0", "--background", "1", "A"}
        << S("1B 07 19 00 00 00 00 00 00 00 00 00 01 00 00 00 FD FF 07 00 0F 00 41 0D 0A") << "OK";
    QTest::newRow("window 3") << QStringList{"window", "3", "--text", QStringLiteral("Gęś")}
                              << "1B 08 23 00 15 B6 00 00 01 00 00 00 00 00 00 00 02 00 00 00 00 00 00 00 "
                                 "80 00 20 00 05 00 47 8B 8F 0D 0A"
                              << "OK";
    QTest::newRow("window 8, defaults kept")
        << QStringList{"window", "8", "--left", "-5", "--height", "16", "--vert", "-2"}
        << S("1B 08 2C 00 00 00 00 00 01 00 00 00 00 00 00 00 07 00 00 00 FB FF 00 00 80 00 10 00 05 FE "
             "44 79 6E 2E 20 54 65 6B 73 74 20 38 0D 0A")
        << "OK";
    QTest::newRow("logo 64") << QStringList{"logo", "64"} << S("1B 0C 0C 00 00 00 00 00 40 00 0D 0A") << "OK";
    QTest::newRow("speed 115200") << QStringList{"speed", "115200"} << "1B 0A 0A 00 E0 C6 00 00 0D 0A"
                                  << "115200";
}

void TestCliProgram::commands()
{
    QFETCH(QStringList, args);
    QFETCH(QString, frame);
    QFETCH(QString, out);
    const TRun r = Cli(QStringList{"--port", port} + args);
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, out + "\n");
    const auto frames = rig->emu.Frames();
    QCOMPARE(frames.size(), std::size_t(1));
    QCOMPARE(HexOf(frames[0]), frame);
    QTRY_COMPARE(rig->emu.Speed(), args[0] == "speed" ? 115200 : 9600);
}

void TestCliProgram::refusals_data()
{
    QTest::addColumn<QStringList>("args"); // "P" stands for the emulator's port
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("frames");
    const QStringList P{"--port", "P"};
    QTest::newRow("no command") << P << 2 << "no command given" << 0;
    QTest::newRow("no port") << QStringList{"test"} << 2 << "--port is required" << 0;
    QTest::newRow("unknown command") << P + QStringList{"flash"} << 2 << "unknown command: flash" << 0;
    QTest::newRow("brightness 16") << P + QStringList{"brightness", "16"} << 2 << "brightness must be 0 to 15" << 0;
    QTest::newRow("logo 0") << P + QStringList{"logo", "0"} << 2 << "logo must be 1 to 64" << 0;
    QTest::newRow("window 9") << P + QStringList{"window", "9"} << 2 << "window must be 1 to 8" << 0;
    QTest::newRow("window width 129") << P + QStringList{"window", "1", "--width", "129"} << 2
                                      << "--width must be 1 to 128" << 0;
    QTest::newRow("text of 200") << P + QStringList{"text", QString(200, 'x')} << 2 << "more than 199" << 0;
    QTest::newRow("unknown option") << P + QStringList{"--bogus", "test"} << 2 << "--bogus is not an option" << 0;
    QTest::newRow("option of another command") << P + QStringList{"text", "--left", "1", "A"} << 2
                                               << "--left is not an option of text" << 0;
    QTest::newRow("speed 4800") << P + QStringList{"speed", "4800"} << 2 << "9600 or 115200" << 0;
    QTest::newRow("--speed 300") << P + QStringList{"--speed", "300", "test"} << 2 << "9600 or 115200" << 0;
    QTest::newRow("--from before the file's pages") << P + QStringList{"update-cpu", "good.bin", "--from", "15"}
                                                    << 2 << "--from must be 16 to 783" << 0;
    QTest::newRow("--resume without a record") << P + QStringList{"update-cpu", "good.bin", "--resume"} << 2
                                               << "no stopped transfer is recorded for" << 0;
    QTest::newRow("--from without --force") << P + QStringList{"update-cpu", "good.bin", "--from", "20"} << 2
                                            << "give --force as well" << 0;
    QTest::newRow("--from above the last page") << P + QStringList{"update-cpu", "good.bin", "--from", "784", "--force"}
                                                << 2 << "--from must be 16 to 783" << 0;
    QTest::newRow("relative port") << QStringList{"--port", "qv-dir/none", "test"} << 4
                                   << QStringLiteral("Port %1/qv-dir/none nie istnieje").arg(QDir::currentPath()) << 0;
    QTest::newRow("missing port") << QStringList{"--port", "/dev/quorvantel-none", "test"} << 4
                                  << QStringLiteral("Port /dev/quorvantel-none nie istnieje (urządzenie nie "
                                                    "jest podłączone).")
                                  << 0;
    QTest::newRow("refused file") << P + QStringList{"update-cpu", "short.bin"} << 3
                                  << QStringLiteral("Wybrano zły plik do upgreadu CPU") << 0;
    QTest::newRow("unreadable file") << P + QStringList{"update-gfx", "none.qgf"} << 3 << "none.qgf" << 0;
    QTest::newRow("no answer") << P + QStringList{"--retries", "1", "test"} << 1
                               << QStringLiteral("Brak potwierdzenia odebrania komendy do Quorvantela") << 2;
}

void TestCliProgram::refusals()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(int, frames);
    WriteFile(dir, "good.bin", CpuFile(192256));
    WriteFile(dir, "short.bin", CpuFile(192256, cCpuFileSize - 1));
    for (QString& a : args) {
        if (a == "P")
            a = port;
        else if (a.contains('.'))
            a = dir.filePath(a);
    }
    rig->emu.DropAnswers(100);
    const TRun r = Cli(args);
    QCOMPARE(r.code, code);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QCOMPARE(r.out, QString());
    QTRY_COMPARE(int(rig->emu.Frames().size()), frames);
}

void TestCliProgram::updates_data()
{
    QTest::addColumn<bool>("cpu");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::newRow("CPU firmware") << true << 16 << 783;
    QTest::newRow("graphics, --fast, --json") << false << 0 << 4095;
}

void TestCliProgram::updates()
{
    QFETCH(bool, cpu);
    QFETCH(int, first);
    QFETCH(int, last);
    const QByteArray file = cpu ? CpuFile(192256) : Pattern(300000, 5);
    // Four confirmations lost at seeded random pages.
    QRandomGenerator random(15);
    std::set<std::uint32_t> lost;
    while (lost.size() < 4)
        lost.insert(std::uint32_t(random.bounded(first, last + 1)));
    std::set<std::uint32_t> drop = lost;
    rig->SetHook([&](const std::string& f) {
        if (f.size() == tProgramFlashPage::cSize && drop.erase(GetLE32(reinterpret_cast<const std::uint8_t*>(f.data()) + 8) / 256))
            rig->emu.DropAnswers(1);
    });
    QStringList args{"--port", port, cpu ? "update-cpu" : "update-gfx", WriteFile(dir, "u.bin", file)};
    if (!cpu)
        args << "--fast" << "--json";
    const TRun r = Cli(args);
    QCOMPARE(r.code, 0);
    QCOMPARE(rig->emu.PageAddresses().size(), std::size_t(last - first + 1 + 4));
    const auto frames = rig->emu.Frames();
    if (cpu) {
        QCOMPARE(Flash(rig->emu, 4096, file.size()), file);
        QCOMPARE(r.out, QStringLiteral("cmd_UpgradeCPU\n"));
        QCOMPARE(HexOf(frames.back()), QStringLiteral("1B 03 0A 00 3C 04 00 00 0D 0A"));
        QCOMPARE(r.err.count(QStringLiteral("sent again")), 4);
    } else {
        QCOMPARE(Flash(rig->emu, 0, TEmulator::cFlashSize), file + QByteArray(TEmulator::cFlashSize - file.size(), '\0'));
        // Switched to 115200 first, back to 9600 at the end.
        QCOMPARE(HexOf(frames.front()), QStringLiteral("1B 0A 0A 00 E0 C6 00 00 0D 0A"));
        QCOMPARE(HexOf(frames.back()), QStringLiteral("1B 09 0A 00 A4 EB 00 00 0D 0A"));
        QTRY_COMPARE(rig->emu.Speed(), 9600);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.filter(QStringLiteral("\"event\":\"retry\"")).size(), 4);
        QCOMPARE(lines.filter(QStringLiteral("\"event\":\"page\"")).size(), 64);
        QCOMPARE(lines.back(), QStringLiteral("{\"event\":\"done\",\"command\":\"update-gfx\",\"page\":-1,\"pages\":4096,"
                                              "\"confirmed\":4096,\"attempt\":0,\"exit\":0,\"message\":\"Dane "
                                              "graficzne zostały zaktualizowane.\"}"));
    }
}

void TestCliProgram::stopsAndGoesOn()
{
    const QByteArray file = CpuFile(192256);
    rig->SetHook([&](const std::string& f) {
        if (f.size() == tProgramFlashPage::cSize && GetLE32(reinterpret_cast<const std::uint8_t*>(f.data()) + 8) >= 300 * 256)
            rig->emu.DropAnswers(1);
    });
    const QStringList args{"--port", port, "--retries", "1", "update-cpu", WriteFile(dir, "c.bin", file), "--fast"};
    TRun r = Cli(args);
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(QStringLiteral("page 300 ($00012C00) was not confirmed after 2 tries; pages 16-299 "
                                           "confirmed, no CPU command sent.")),
             qPrintable(r.err));
    const QString goOn = "Go on with:\n  quorvantel-cli " + args.join(' ') + " --resume\n";
    QVERIFY2(r.err.endsWith(goOn), qPrintable(r.err));
    QVERIFY(!HasCode(rig->emu, cmd_UpgreadeCPU));

    // Resumed, stopped again: the same line goes on.
    rig->SetHook([&](const std::string& f) {
        if (f.size() == tProgramFlashPage::cSize && GetLE32(reinterpret_cast<const std::uint8_t*>(f.data()) + 8) >= 500 * 256)
            rig->emu.DropAnswers(1);
    });
    rig->emu.ClearLog();
    r = Cli(args + QStringList{"--resume"});
    QCOMPARE(r.code, 1);
    QCOMPARE(rig->emu.PageAddresses().front(), 300u * 256);
    QVERIFY2(r.err.contains(QStringLiteral("page 500 ($0001F400) was not confirmed after 2 tries; pages 16-499 confirmed")),
             qPrintable(r.err));
    QVERIFY2(r.err.endsWith(goOn), qPrintable(r.err));

    rig->SetHook({});
    rig->emu.ClearLog();
    r = Cli(args + QStringList{"--resume"});
    QCOMPARE(r.code, 0);
    QCOMPARE(rig->emu.PageAddresses().front(), 500u * 256);
    // Done: the record is gone.
    QCOMPARE(Cli(args + QStringList{"--resume"}).code, 2);
    QCOMPARE(Flash(rig->emu, 4096, file.size()), file);
    QCOMPARE(HexOf(rig->emu.Frames().back()), QStringLiteral("1B 03 0A 00 3C 04 00 00 0D 0A"));
}

void TestCliProgram::interrupt()
{
    const QByteArray file = Pattern(1048576, 9);
    const QStringList args{"--port", port, "update-gfx", WriteFile(dir, "g.qgf", file), "--fast"};
    QProcess p;
    StartCli(p, args);
    QVERIFY(rig->emu.WaitForFrames(300, 20000));
    ::kill(pid_t(p.processId()), SIGINT);
    TRun r = Finish(p);
    QCOMPARE(r.code, 130);
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("pages 0-(\\d+) confirmed")).match(r.err);
    QVERIFY2(m.hasMatch() && r.err.endsWith(" --resume\n"), qPrintable(r.err));
    const int from = m.captured(1).toInt() + 1;
    // Stopped between pages: every page sent was whole and confirmed, in
    // order, and the controller went back to the speed it was found at.
    const auto pages = rig->emu.PageAddresses();
    QCOMPARE(int(pages.size()), from);
    QCOMPARE(pages.back(), std::uint32_t(from - 1) * 256);
    const auto frames = rig->emu.Frames();
    QCOMPARE(int(frames.size()), from + 2);
    for (const std::string& f : frames)
        QVERIFY(VerifyFrame(f));
    QCOMPARE(HexOf(frames.back()), QStringLiteral("1B 09 0A 00 A4 EB 00 00 0D 0A"));
    QCOMPARE(rig->emu.GarbageBytes(), std::size_t(0));
    QVERIFY2(r.err.contains(QStringLiteral("interrupted; pages 0-%1 confirmed").arg(from - 1)), qPrintable(r.err));

    rig->emu.ClearLog();
    r = Cli(args + QStringList{"--resume"});
    QCOMPARE(r.code, 0);
    QCOMPARE(rig->emu.PageAddresses().front(), std::uint32_t(from) * 256);
    QCOMPARE(Flash(rig->emu, 0, cFlashImageSize), file.left(cFlashImageSize));
}

void TestCliProgram::stopSignals_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("cpu");
    QTest::addColumn<bool>("lastPage"); // else at a random page
    QTest::newRow("SIGHUP, graphics") << int(SIGHUP) << false << false;
    QTest::newRow("SIGTERM, CPU firmware") << int(SIGTERM) << true << false;
    QTest::newRow("Ctrl+C at the last page: command 3 alone is left") << int(SIGINT) << true << true;
}

void TestCliProgram::stopSignals()
{
    QFETCH(int, signal);
    QFETCH(bool, cpu);
    QFETCH(bool, lastPage);
    const QByteArray file = cpu ? CpuFile(192256) : Pattern(300000, 3);
    const int first = cpu ? 16 : 0, last = cpu ? 783 : 4095;
    const int at = lastPage ? last : int(QRandomGenerator::global()->bounded(first + 1, last));
    const QStringList args{"--port", port, cpu ? "update-cpu" : "update-gfx", WriteFile(dir, "s.bin", file), "--fast"};
    QProcess p;
    StartCli(p, args);
    const auto pid = pid_t(p.processId());
    // Signalled while page `at` is on the line, before its confirmation.
    rig->SetHook([&, pid](const std::string& f) {
        if (PageOf(f) == at)
            ::kill(pid, signal);
    });
    const TRun r = Finish(p);
    QCOMPARE(r.code, 128 + signal);
    QVERIFY2(r.err.contains(QStringLiteral("interrupted; pages %1-%2 confirmed").arg(first).arg(at)), qPrintable(r.err));
    QVERIFY2(r.err.endsWith("Go on with:\n  quorvantel-cli " + args.join(' ') + " --resume\n"), qPrintable(r.err));
    QCOMPARE(int(rig->emu.PageAddresses().size()), at - first + 1);
    QVERIFY(!HasCode(rig->emu, cmd_UpgreadeCPU));
    QTRY_COMPARE(rig->emu.Speed(), 9600);

    rig->SetHook({});
    rig->emu.ClearLog();
    const TRun resumed = Cli(args + QStringList{"--resume"});
    QCOMPARE(resumed.code, 0);
    QCOMPARE(int(rig->emu.PageAddresses().size()), last - at);
    if (lastPage)
        QCOMPARE(rig->emu.Frames().size(), std::size_t(1));
    if (cpu) {
        QCOMPARE(Flash(rig->emu, 4096, file.size()), file);
        QCOMPARE(HexOf(rig->emu.Frames().back()), cCommand3);
    } else {
        QCOMPARE(rig->emu.PageAddresses().front(), std::uint32_t(at + 1) * 256);
        QCOMPARE(Flash(rig->emu, 0, TEmulator::cFlashSize), GraphicsFlash(file));
    }
    QTRY_COMPARE(rig->emu.Speed(), 9600);
}

void TestCliProgram::unreadOutput_data()
{
    QTest::addColumn<bool>("closePipe");
    QTest::newRow("standard output closed by its reader at a random page") << true;
    QTest::newRow("--log on a full disk") << false;
}

void TestCliProgram::unreadOutput()
{
    QFETCH(bool, closePipe);
    const QByteArray file = Pattern(400000, 4);
    QStringList args{"--port", port, "--json", "update-gfx", WriteFile(dir, "u.qgf", file), "--fast"};
    if (!closePipe)
        args << "--log" << "/dev/full";
    QProcess p;
    StartCli(p, args);
    if (closePipe) {
        QVERIFY(rig->emu.WaitForFrames(std::size_t(QRandomGenerator::global()->bounded(2, 4000)), 60000));
        p.closeReadChannel(QProcess::StandardOutput);
    }
    const TRun r = Finish(p);
    QCOMPARE(r.code, 0);
    QCOMPARE(Flash(rig->emu, 0, TEmulator::cFlashSize), GraphicsFlash(file));
    QTRY_COMPARE(rig->emu.Speed(), 9600);
    if (!closePipe)
        QVERIFY2(r.err.contains(QStringLiteral("the log file /dev/full cannot be written any more (No space left on device)")),
                 qPrintable(r.err));
}

void TestCliProgram::json_data()
{
    QTest::addColumn<QStringList>("args"); // "P" the emulator's port, "F" a graphics file
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message"); // of the last event
    QTest::addColumn<QStringList>("pageEvents"); // page:confirmed
    QTest::newRow("usage error") << QStringList{"--json", "--bogus", "test"} << 2 << "--bogus is not an option"
                                 << QStringList{};
    QTest::newRow("no command") << QStringList{"--json"} << 2 << "no command given" << QStringList{};
    QTest::newRow("a name not valid UTF-8") << QStringList{"--json", "--port", "P", "update-gfx", "BAD"} << 3
                                            << QStringLiteral("none-\uFFFD.qgf") << QStringList{};
    QTest::newRow("6 pages: an event for the last") << QStringList{"--json", "--port", "P", "update-gfx", "F", "--from", "4090", "--force"}
                                                    << 0 << QStringLiteral("Dane graficzne zostały zaktualizowane.")
                                                    << QStringList{"4095:6"};
    QTest::newRow("ports") << QStringList{"--json", "ports"} << 0 << "" << QStringList{};
}

void TestCliProgram::json()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(QStringList, pageEvents);
    args.replaceInStrings(QRegularExpression("^P$"), port);
    args.replaceInStrings(QRegularExpression("^F$"), WriteFile(dir, "j.qgf", Pattern(300000, 6)));
    QProcess p;
    if (args.removeAll("BAD")) // a byte no UTF-8 has, through the shell
        p.start("/bin/sh", QStringList{"-c", "exec \"$0\" \"$@\" \"$(printf 'none-\\377.qgf')\"", QV_CLI_BIN} + args);
    else
        p.start(QStringLiteral(QV_CLI_BIN), args);
    const TRun r = Finish(p);
    QCOMPARE(r.code, code);
    QStringList pages;
    QJsonObject event;
    const QList<QByteArray> lines = r.out.toUtf8().split('\n');
    QVERIFY(lines.size() >= 2 && lines.back().isEmpty());
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QJsonDocument d = QJsonDocument::fromJson(lines[i]);
        QVERIFY2(d.isObject(), lines[i].constData());
        event = d.object();
        if (event["event"] == "page")
            pages << QStringLiteral("%1:%2").arg(event["page"].toInt()).arg(event["confirmed"].toInt());
        if (args.contains("ports") && i + 2 < lines.size())
            QCOMPARE(event.keys().filter(QRegularExpression("^(port|by_id|vid|pid|manufacturer|product|serial|driver)$")).size(), 8);
    }
    QCOMPARE(event["event"].toString(), code == 0 ? "done" : "error");
    QCOMPARE(event["exit"].toInt(), code);
    QVERIFY2(event["message"].toString().contains(message), qPrintable(event["message"].toString()));
    if (code != 0)
        QCOMPARE(lines.size(), 2);
    QCOMPARE(pages, pageEvents);
}

void TestCliProgram::jsonLive()
{
    QProcess p;
    StartCli(p, {"--port", port, "--json", "--page-gap", "5", "update-gfx", WriteFile(dir, "l.qgf", Pattern(300000, 2)),
                 "--fast", "--from", "3700", "--force"});
    QByteArray out;
    // The first page event (64 pages) is read while the transfer runs.
    QVERIFY(WaitUntil([&] { return (out += p.readAllStandardOutput()).contains("\"event\":\"page\"") || p.state() != QProcess::Running; }, 60000));
    QCOMPARE(p.state(), QProcess::Running);
    QVERIFY(out.startsWith("{\"event\":\"start\""));
    QCOMPARE(Finish(p).code, 0);
}

void TestCliProgram::lineLost()
{
    const QByteArray file = CpuFile(192256);
    QProcess p;
    StartCli(p, {"--port", port, "update-cpu", WriteFile(dir, "p.bin", file), "--fast"});
    QVERIFY(rig->emu.WaitForFrames(std::size_t(QRandomGenerator::global()->bounded(3, 700)), 60000));
    rig->emu.Unplug();
    const TRun r = Finish(p);
    QCOMPARE(r.code, 1);
    const QRegularExpressionMatch m =
        QRegularExpression("quorvantel-cli: the line to the controller was lost at page (\\d+); pages 16-(\\d+) confirmed, "
                           "no CPU command sent. Go on with:\n  quorvantel-cli .* --resume\n$")
            .match(r.err);
    QVERIFY2(m.hasMatch() && m.captured(1).toInt() == m.captured(2).toInt() + 1, qPrintable(r.err));
}

QTEST_GUILESS_MAIN(TestCliProgram)
#include "test_program.moc"
