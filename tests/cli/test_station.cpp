// quorvantel-cli as a station: inspect before anything is sent, and four
// controllers updated at once, each with its record in the report.
#include "CliRig.h"
#include "tests/common/Hex.h"
#include "tests/common/PortTree.h"
#include "tests/update/UpdateFiles.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <set>

namespace {
struct TRun {
    int code = -1;
    QString out, err;
};

QProcess* StartCli(const QStringList& args, const QString& state)
{
    auto* p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", state); // resume records of the test's own
    p->setProcessEnvironment(env);
    p->start(QStringLiteral(QV_CLI_BIN), args);
    return p;
}

TRun Finish(QProcess* p)
{
    if (!p->waitForFinished(110000))
        p->kill();
    TRun r{p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1,
           QString::fromUtf8(p->readAllStandardOutput()), QString::fromUtf8(p->readAllStandardError())};
    delete p;
    return r;
}

int PageOf(const std::string& f)
{
    return int(GetLE32(reinterpret_cast<const std::uint8_t*>(f.data()) + 8) / 256);
}

int Code3Count(const TEmulator& emu)
{
    int n = 0;
    for (const std::string& f : emu.Frames())
        n += f.size() > 1 && std::uint8_t(f[1]) == cmd_UpgreadeCPU;
    return n;
}

QByteArray Sha(const QByteArray& b) { return QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex(); }

// A CPU file whose board text is in Windows-1250 ("Płyta Ł2").
QByteArray CpuFileNamed(std::int32_t size)
{
    QByteArray f = CpuFile(size);
    const char board[] = "P\xB3yta \xA3" "2";
    std::memcpy(f.data() + offsetof(sflashrecord, board), board, sizeof board);
    std::memcpy(f.data() + offsetof(sflashrecord, version), "1.07\0", 5);
    return f;
}
} // namespace

class TestStation : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
private slots:
    void inspect_data();
    void inspect();
    void fourAtOnce_data();
    void fourAtOnce();
    void resumeOnAdapter_data();
    void resumeOnAdapter();
    void bySerial_data();
    void bySerial();
};

void TestStation::inspect_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("lines"); // of standard output, in order
    QTest::newRow("CPU firmware")
        << "good.bin" << CpuFileNamed(192256) << 0
        << QStringList{QStringLiteral("  version  \"1.07\""), QStringLiteral("  board    \"Płyta Ł2\""),
                       "  size     192256", "pages 16-783", "sha256 " + Sha(CpuFileNamed(192256))};
    QTest::newRow("negative size") << "neg.bin" << CpuFileNamed(-1) << 3
                                   << QStringList{"  size     -1", "pages 16-32",
                                                  "warning: the header's size -1 is negative; the update refuses "
                                                  "this file"};
    QTest::newRow("last page past the file")
        << "past.BIN" << CpuFileNamed(192512) << 3
        << QStringList{"pages 16-784", "warning: the header's size 192512 puts the last page at 784, past the "
                                       "file's last page 783; the update refuses this file"};
    QTest::newRow("graphics with bytes beyond the image")
        << "g.qgf" << Pattern(cFlashImageSize + 1000, 3) << 0
        << QStringList{QStringLiteral("g.qgf: graphics data, 1049328 bytes"), "pages 0-4095",
                       "bytes beyond the image, ignored: 1000", "sha256 " + Sha(Pattern(cFlashImageSize + 1000, 3))};
}

void TestStation::inspect()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, file);
    QFETCH(int, code);
    QFETCH(QStringList, lines);
    const QString path = WriteFile(dir, name, file);
    TRun r = Finish(StartCli({"inspect", path}, dir.path()));
    QCOMPARE(r.code, code);
    qsizetype at = 0;
    for (const QString& l : lines) {
        const qsizetype found = r.out.indexOf(l + "\n", at);
        QVERIFY2(found >= 0, qPrintable(l + " in:\n" + r.out));
        at = found + l.size();
    }
    // The same facts as one JSON object.
    r = Finish(StartCli({"inspect", path, "--json"}, dir.path()));
    QCOMPARE(r.code, code);
    QCOMPARE(r.out.count('\n'), 1);
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    QCOMPARE(o["sha256"].toString().toUtf8(), Sha(file));
    QCOMPARE(o["first_page"].toInt(), name.endsWith("qgf") ? 0 : 16);
    QVERIFY(lines.contains(QStringLiteral("pages %1-%2").arg(o["first_page"].toInt()).arg(o["last_page"].toInt())));
    QCOMPARE(o["header"].isNull(), name.endsWith("qgf"));
    if (!o["header"].isNull())
        QCOMPARE(o["header"]["size"].toInt(), std::int32_t(GetLE32(reinterpret_cast<const std::uint8_t*>(file.data()) + 64)));
}

void TestStation::fourAtOnce_data()
{
    QTest::addColumn<int>("stopped");   // the controller that stops answering at page 300, -1 none
    QTest::addColumn<int>("processes"); // the four ports given to one process, or two each to two
    QTest::newRow("one command, one dropping confirmations") << -1 << 1;
    QTest::newRow("one of four stops answering") << 2 << 1;
    QTest::newRow("two processes, one report") << 3 << 2;
}

void TestStation::fourAtOnce()
{
    QFETCH(int, stopped);
    QFETCH(int, processes);
    std::vector<std::unique_ptr<TCliRig>> rigs;
    QStringList ports;
    for (int i = 0; i < 4; ++i) {
        rigs.push_back(std::make_unique<TCliRig>());
        ports << QString::fromStdString(rigs.back()->emu.SlavePath());
    }
    // Controller 1 drops a confirmation every 97 pages; the stopped one
    // answers nothing from page 300 on.
    TEmulator& dropping = rigs[1]->emu;
    std::set<int> dropped;
    rigs[1]->SetHook([&](const std::string& f) {
        if (f.size() == tProgramFlashPage::cSize && PageOf(f) % 97 == 0 && dropped.insert(PageOf(f)).second)
            dropping.DropAnswers(1);
    });
    if (stopped >= 0) {
        TEmulator& deaf = rigs[std::size_t(stopped)]->emu;
        rigs[std::size_t(stopped)]->SetHook([&](const std::string& f) {
            if (f.size() == tProgramFlashPage::cSize && PageOf(f) >= 300)
                deaf.DropAnswers(1);
        });
    }
    const QByteArray file = CpuFile(192256);
    const QString path = WriteFile(dir, "station.bin", file), report = dir.filePath("report.jsonl");
    QFile::remove(report);

    std::vector<QProcess*> runs;
    const int each = 4 / processes;
    for (int p = 0; p < processes; ++p) {
        QStringList args{"--retries", "1", "--report", report};
        for (int i = p * each; i < (p + 1) * each; ++i)
            args << "--port" << ports[i];
        runs.push_back(StartCli(args + QStringList{"update-cpu", path, "--fast"}, dir.path()));
    }
    int worst = 0;
    QString out;
    for (QProcess* p : runs) {
        const TRun r = Finish(p);
        worst = std::max(worst, r.code);
        out += r.out;
    }
    QCOMPARE(worst, stopped >= 0 ? 1 : 0);

    QFile f(report);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    QCOMPARE(lines.size(), 5); // four whole lines
    QCOMPARE(lines.back(), QByteArray());
    for (int i = 0; i < 4; ++i) {
        QJsonObject rec;
        for (int k = 0; k < 4; ++k) {
            QJsonParseError e{};
            const QJsonObject o = QJsonDocument::fromJson(lines[k], &e).object();
            QVERIFY2(e.error == QJsonParseError::NoError, lines[k].constData());
            if (o["port"].toString() == ports[i])
                rec = o;
        }
        QCOMPARE(rec["sha256"].toString().toUtf8(), Sha(file));
        QCOMPARE(rec["command"].toString(), QStringLiteral("update-cpu"));
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$")
                    .match(rec["time"].toString()).hasMatch());
        const TEmulator& emu = rigs[std::size_t(i)]->emu;
        if (i == stopped) {
            QCOMPARE(rec["result"].toString(), QStringLiteral("stopped"));
            QCOMPARE(rec["exit"].toInt(), 1);
            QCOMPARE(rec["pages_confirmed"].toInt(), 300 - 16);
            QVERIFY2(rec["message"].toString().contains("page 300"), qPrintable(rec["message"].toString()));
            QVERIFY2(rec["resume"].toString().contains("--resume") &&
                         rec["resume"].toString().contains(ports[i]),
                     qPrintable(rec["resume"].toString()));
            QCOMPARE(Code3Count(emu), 0);
            continue;
        }
        QCOMPARE(rec["result"].toString(), QStringLiteral("done"));
        QCOMPARE(rec["exit"].toInt(), 0);
        QCOMPARE(rec["pages_confirmed"].toInt(), 768);
        QCOMPARE(rec["resends"].toInt(), i == 1 ? 8 : 0); // pages 97, 194, ... 776
        QVERIFY(rec["resume"].isNull());
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(emu.FlashImage().data()) + 4096, file.size()), file);
        QCOMPARE(Code3Count(emu), 1);
        QVERIFY2(out.contains(ports[i] + ": cmd_UpgradeCPU\n"), qPrintable(out));
    }
}

void TestStation::resumeOnAdapter_data()
{
    QTest::addColumn<QString>("serial"); // of the adapter plugged in under the name before --resume
    QTest::addColumn<bool>("pull");      // stopped by pulling the adapter, not by silence
    QTest::addColumn<int>("code");
    QTest::newRow("the same adapter") << "A50285BI" << false << 0;
    QTest::newRow("another adapter under the name") << "B77" << false << 4;
    QTest::newRow("pulled at a page, plugged in again") << "A50285BI" << true << 0;
}

void TestStation::resumeOnAdapter()
{
    QFETCH(QString, serial);
    QFETCH(bool, pull);
    QFETCH(int, code);
    TCliRig rig;
    TPortTree tree;
    QVERIFY(tree.Ok());
    tree.AddUsb(TPortTree::Ftdi());
    QVERIFY(tree.Plug("ttyUSB0", rig.emu.SlavePath()));
    if (!pull)
        rig.SetHook([&](const std::string& f) {
            if (f.size() == tProgramFlashPage::cSize && PageOf(f) >= 40)
                rig.emu.DropAnswers(1);
        });
    const QByteArray file = CpuFile(20000);
    const QStringList args{"--port", QString::fromStdString(tree.Dev("ttyUSB0")), "--retries", "0", "update-cpu",
                           WriteFile(dir, "adapter.bin", file)};
    QProcess* p = StartCli(args, dir.path());
    if (pull) {
        QVERIFY(rig.emu.WaitForFrames(std::size_t(QRandomGenerator::global()->bounded(3, 60)), 60000));
        rig.emu.Stop();
    }
    TRun r = Finish(p);
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("--resume"), qPrintable(r.err));
    // The page to go on from: the first one not confirmed.
    const QRegularExpressionMatch stop = QRegularExpression("\\bpage (\\d+)\\b").match(r.err);
    QVERIFY2(stop.hasMatch() && (!pull || r.err.contains("the line to the controller was lost")), qPrintable(r.err));

    rig.SetHook({});
    if (pull)
        QVERIFY(rig.emu.Start());
    TUsbAdapter other = TPortTree::Ftdi();
    other.serial = serial.toStdString();
    tree.AddUsb(other);
    QVERIFY(tree.Plug("ttyUSB0", rig.emu.SlavePath()));
    rig.emu.ClearLog();
    r = Finish(StartCli(args + QStringList{"--resume"}, dir.path()));
    QCOMPARE(r.code, code);
    if (code == 0) {
        QCOMPARE(rig.emu.PageAddresses().front(), stop.captured(1).toUInt() * 256);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(rig.emu.FlashImage().data()) + 4096, 256 * 80),
                 file.left(256 * 80));
        return;
    }
    // Refused before the line opens: nothing reaches the controller.
    QVERIFY2(r.err.contains(QStringLiteral("is FT232R USB UART (B77), not the one the stopped update began on, "
                                           "FT232R USB UART (A50285BI); nothing was sent")),
             qPrintable(r.err));
    QCOMPARE(rig.emu.Frames().size(), std::size_t(0));
}

void TestStation::bySerial_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said");
    QTest::newRow("present") << "serial:A50285BI" << 0 << "OK";
    QTest::newRow("absent, the present ones named") << "serial:B77" << 4
                                                    << "no single adapter has the serial number B77; serial "
                                                       "numbers present: E6616407E3646B2A, A50285BI";
}

void TestStation::bySerial()
{
    QFETCH(QString, port);
    QFETCH(int, code);
    QFETCH(QString, said);
    TCliRig rig;
    TPortTree tree;
    QVERIFY(tree.Ok());
    tree.AddStandardSet();
    QVERIFY(tree.Plug("ttyUSB0", rig.emu.SlavePath()));
    const TRun r = Finish(StartCli({"--port", port, "test"}, dir.path()));
    QCOMPARE(r.code, code);
    QVERIFY2((code == 0 ? r.out : r.err).contains(said), qPrintable(r.out + r.err));
    // Only the named adapter's controller was asked.
    QCOMPARE(rig.emu.Frames().size(), std::size_t(code == 0 ? 1 : 0));
}

QTEST_GUILESS_MAIN(TestStation)
#include "test_station.moc"
