// The update procedures and the page exchange of the main window against the
// controller emulator: CPU firmware and graphics updates end to end, refused
// files, lost and odd confirmations, and the locked update buttons.
#include "UpdateFiles.h"

#include "tests/common/WindowRig.h"
#include "protocol/flashpage.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace {
const QString cAdvice = QStringLiteral("Proponuję przełączyć prędkość na 115200.");
const QString cCpuQuestion = QStringLiteral(
    "Zaraz zacznie się proces upgreade firmware CPU. Nie będzie można go przerwać. Czy mam kontynuować?");
const QString cGfxQuestion = QStringLiteral("Zaraz zacznie się proces aktualizowania danych graficznych. "
                                            "Nie będzie można go przerwać. Czy mam kontynuować?");
const QString cProgramCpu = QStringLiteral("Po naciśnięciu OK nastapi zaprogramowanie procesora?");
const QString cGfxDone = QStringLiteral("Dane graficzne zostały zaktualizowane.");
const QString cWrongFile = QStringLiteral("Wybrano zły plik do upgreadu CPU");
const QString cResend = QStringLiteral("Błąd wysyłania danych do Quorvantela, czy mam kontynuować dalej?");
const QString cBinFilter = QStringLiteral("Plik Firmware Quorvantel (*.BIN)|*.BIN");
const QString cQgfFilter = QStringLiteral("Plik Quorvantel Flash (*.QGF)|*.QGF");
// Header size of the test firmware: pages 16 to 35.
constexpr std::int32_t cSmallSize = 1000;
constexpr std::uint32_t cSmallLast = 35;

std::vector<std::uint32_t> Range(std::uint32_t first, std::uint32_t last)
{
    std::vector<std::uint32_t> out;
    for (auto p = first; p <= last; ++p)
        out.push_back(p * 256);
    return out;
}
int CountCommand(const TEmulator& emu, std::uint8_t code)
{
    int n = 0;
    for (const auto& f : emu.Frames())
        n += f.size() > 1 && std::uint8_t(f[1]) == code;
    return n;
}
// How many of the three update buttons are enabled.
int Enabled(const TMainForm& f)
{
    return f.btnFlash->isEnabled() + f.BitBtn1->isEnabled() + f.btnAutoRun->isEnabled();
}
// Frames of other codes than pages and command 3 from the first page on.
int OthersInUpdate(const TEmulator& emu)
{
    int n = 0, pages = 0;
    for (const auto& f : emu.Frames()) {
        const auto code = f.size() > 1 ? std::uint8_t(f[1]) : 0;
        pages += code == cmd_ProgramFlashPage;
        n += pages > 0 && code != cmd_ProgramFlashPage && code != cmd_UpgreadeCPU;
    }
    return n;
}
// Holds the emulator's answer to one page until released.
struct TGate {
    std::mutex mx;
    std::condition_variable cv;
    bool reached = false, released = false;
    void Hold()
    {
        std::unique_lock lk(mx);
        reached = true;
        cv.wait_for(lk, std::chrono::seconds(10), [this] { return released; });
    }
    bool Reached()
    {
        std::lock_guard lk(mx);
        return reached;
    }
    void Release()
    {
        std::lock_guard lk(mx);
        released = true;
        cv.notify_all();
    }
};
bool IsPage(const std::string& frame, std::uint32_t page)
{
    return frame.size() == tProgramFlashPage::cSize &&
           GetLE32(reinterpret_cast<const std::uint8_t*>(frame.data()) + 8) == page * 256;
}
} // namespace

class TestUpdate : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<TWindowRig> rig;
    std::unique_ptr<TGate> gate;

    TMainForm& Form() { return *rig->form; }
    // The window reaches the emulator through a symlink, as an adapter's
    // stable name: a restarted emulator is the adapter plugged in again.
    bool StartRig(std::function<void(TEmulator&)> before = {})
    {
        TEmulator::Options o;
        o.pace = false;
        o.symlink = QDir::temp()
                        .filePath(QStringLiteral("qv-update-%1").arg(QCoreApplication::applicationPid()))
                        .toStdString();
        rig = std::make_unique<TWindowRig>(o);
        if (before)
            before(rig->emu);
        if (!rig->Start())
            return false;
        Form().Receiver.StartPauseMs = 0;
        rig->dialogs.answer = true;
        return true;
    }
    // Starts a CPU update of the small test firmware; true once page 16 is out.
    bool StartCpu(const QByteArray& file)
    {
        rig->dialogs.fileToPick = WriteFile(dir, QStringLiteral("cpu.bin"), file);
        Form().btnFlash->click();
        return rig->emu.WaitForFrames(1, 3000);
    }
    bool CpuDone()
    {
        return LogLines(Form()).value(LogLines(Form()).size() - 1) == QStringLiteral("cmd_UpgradeCPU");
    }

    // Checks the CPU update of `file` ran to its end: command 3 answered,
    // the flash as the file.
    void CheckCpuDone(const QByteArray& file)
    {
        QVERIFY(WaitUntil([&] { return CpuDone(); }, 10000));
        const auto image = rig->emu.FlashImage();
        const std::size_t sent = (cSmallLast - 15) * 256;
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(image.data()) + 4096, qsizetype(sent)),
                 file.left(qsizetype(sent)));
        QCOMPARE(rig->dialogs.messages.filter(cProgramCpu).size(), 1);
        QVERIFY(WaitUntil([&] { return Enabled(Form()) == 3; }, 1000));
    }

private slots:
    void init() { gate = std::make_unique<TGate>(); }
    void cleanup()
    {
        gate->Release();
        rig.reset();
    }

    void cpuUpdate_data()
    {
        QTest::addColumn<bool>("fast");
        QTest::addColumn<bool>("answered");
        QTest::newRow("at 9600") << false << true;
        QTest::newRow("at 115200") << true << true;
        // The general timeout; the buttons come back, the line keeps its speed.
        QTest::newRow("command 3 unanswered") << true << false;
    }
    void cpuUpdate()
    {
        QFETCH(bool, fast);
        QFETCH(bool, answered);
        QVERIFY(StartRig([answered](TEmulator& emu) {
            if (!answered)
                emu.OnFrame([&emu](const std::string& frame, bool) {
                    if (frame.size() > 1 && std::uint8_t(frame[1]) == cmd_UpgreadeCPU)
                        emu.DropAnswers(1);
                });
        }));
        TMainForm& f = Form();
        if (fast) {
            f.btnSetHiSpeed->click();
            QTRY_COMPARE_WITH_TIMEOUT(rig->emu.Speed(), 115200, 3000);
            QVERIFY(WaitUntil([&] { return rig->Idle(); }, 3000));
            rig->emu.ClearLog();
        }
        const QByteArray file = CpuFile(cSmallSize);
        // At the closing message command 3 has not gone out yet; there and
        // during its wait the buttons are locked.
        int cmd3AtMessage = -1;
        int enabledAtMessage = -1;
        int enabledAtTimeout = -1;
        rig->dialogs.onMessage = [&](const QString& text) {
            if (text == cProgramCpu) {
                cmd3AtMessage = CountCommand(rig->emu, cmd_UpgreadeCPU);
                enabledAtMessage = Enabled(f);
            }
            if (text == cTimeoutText)
                enabledAtTimeout = Enabled(f);
        };
        QVERIFY(StartCpu(file));
        if (answered)
            QVERIFY(WaitUntil([&] { return CpuDone(); }, 10000));
        else
            QVERIFY(WaitUntil([&] { return rig->dialogs.messages.contains(cTimeoutText); }, 10000));

        QCOMPARE(rig->dialogs.fileFilters, QStringList{cBinFilter});
        QCOMPARE(rig->dialogs.fileDefaultExts, QStringList{QStringLiteral("*.BIN")});
        QCOMPARE(rig->dialogs.fileNames, QStringList{QStringLiteral("QuorvantelRS_firmware.bin")});
        QCOMPARE(rig->dialogs.questions, QStringList{cCpuQuestion});
        QStringList messages{cProgramCpu};
        if (!fast)
            messages.prepend(cAdvice);
        if (!answered)
            messages.append(cTimeoutText);
        QCOMPARE(rig->dialogs.messages, messages);
        QCOMPARE(cmd3AtMessage, 0);
        QCOMPARE(enabledAtMessage, 0);
        QCOMPARE(enabledAtTimeout, answered ? -1 : 0);

        // Pages 16..35 in order (the emulator takes only sound whole pages), then command 3.
        QCOMPARE(rig->emu.PageAddresses(), Range(16, cSmallLast));
        const auto frames = rig->emu.Frames();
        QCOMPARE(frames.size(), std::size_t(cSmallLast - 16 + 2));
        const TBytes cmd3 = Hex("1B 03 0A 00 3C 04 00 00 0D 0A");
        QCOMPARE(frames.back(), cmd3);
        const auto image = rig->emu.FlashImage();
        const std::size_t sent = (cSmallLast - 15) * 256;
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(image.data()) + 4096, qsizetype(sent)),
                 file.left(qsizetype(sent)));

        // Answered: the log ends with command 3, its answer and the note, and
        // the line is at 9600. Unanswered: the line keeps the transfer's speed.
        const QStringList log = LogLines(f);
        QCOMPARE(log.value(log.size() - (answered ? 3 : 1)), SentLine(cmd3));
        if (answered)
            QVERIFY(IsAnswerLine(log.value(log.size() - 2), cmd_UpgreadeCPU));
        QVERIFY(f.ComPort1->Connected());
        QCOMPARE(f.ComPort1->BaudRate(), answered ? br9600 : br115200);
        QCOMPARE(f.cbComSpeed->GetText(), std::string(answered ? "9600" : "115200"));
        QCOMPARE(rig->emu.ToolSpeed(), answered ? 9600 : 115200);
        QCOMPARE(f.pBar->value(), 0);
        QCOMPARE(f.lStat->text(), QStringLiteral("Programowanie pamięci flash 35/35"));
        QVERIFY(WaitUntil([&] { return Enabled(f) == 3; }, 1000));

        // "Flashing GFX" next: the dialog proposes the CPU file, under its own filter.
        rig->dialogs.fileToPick.clear();
        f.btnAutoRun->click();
        QCOMPARE(rig->dialogs.fileNames.last(), dir.filePath(QStringLiteral("cpu.bin")));
        QCOMPARE(rig->dialogs.fileFilters.last(), cQgfFilter);
        QCOMPARE(rig->dialogs.fileDefaultExts.last(), QStringLiteral("*.QGF"));
    }

    void nothingSent_data()
    {
        // File written under `pick` unless null; an empty pick cancels the dialog.
        QTest::addColumn<bool>("cpu");
        QTest::addColumn<QString>("pick");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("errors");
        const QString bin = QStringLiteral("bad.bin");
        const QStringList refused{cAdvice, cWrongFile};
        QTest::newRow("196607 bytes") << true << bin << CpuFile(0, 196607) << true << refused << 0;
        QTest::newRow("196609 bytes") << true << bin << CpuFile(0, 196609) << true << refused << 0;
        QTest::newRow("negative size") << true << bin << CpuFile(-256) << true << refused << 0;
        QTest::newRow("size past the file") << true << bin << CpuFile(192512) << true << refused << 0;
        QTest::newRow("answer No") << true << bin << CpuFile(0) << false << QStringList{cAdvice} << 0;
        QTest::newRow("cancelled") << false << QString() << QByteArray() << true << QStringList{cAdvice} << 0;
        QTest::newRow("missing file") << false << QStringLiteral("nowhere.qgf") << QByteArray() << true
                                      << QStringList{cAdvice} << 1;
    }
    void nothingSent()
    {
        QFETCH(bool, cpu);
        QFETCH(QString, pick);
        QFETCH(QByteArray, file);
        QFETCH(bool, answer);
        QFETCH(QStringList, messages);
        QFETCH(int, errors);
        QVERIFY(StartRig());
        rig->dialogs.answer = answer;
        if (!pick.isEmpty())
            rig->dialogs.fileToPick = file.isNull() ? dir.filePath(pick) : WriteFile(dir, pick, file);
        (cpu ? Form().btnFlash : Form().btnAutoRun)->click();
        // The start question comes only once a readable file is picked.
        QCOMPARE(rig->dialogs.questions, cpu ? QStringList{cCpuQuestion} : QStringList{});
        QCOMPARE(rig->dialogs.messages, messages);
        QCOMPARE(rig->dialogs.errors.size(), errors);
        if (errors)
            QVERIFY2(rig->dialogs.errors[0].contains(rig->dialogs.fileToPick) &&
                         rig->dialogs.errors[0].contains(QString::fromUtf8(std::strerror(ENOENT))),
                     qPrintable(rig->dialogs.errors[0]));
        QVERIFY(!rig->emu.WaitForFrames(1, 300));
        QVERIFY(LogLines(Form()).isEmpty());
        QCOMPARE(Enabled(Form()), 3);
    }

    void lostConfirmation_data()
    {
        // A confirmation naming a page beyond the table counts as none.
        QTest::addColumn<bool>("beyond");
        QTest::addColumn<bool>("resend");
        QTest::newRow("dropped, Yes") << false << true;
        QTest::newRow("dropped, No") << false << false;
        QTest::newRow("page beyond the table, No") << true << false;
    }
    void lostConfirmation()
    {
        QFETCH(bool, beyond);
        QFETCH(bool, resend);
        QVERIFY(StartRig());
        if (beyond)
            rig->emu.ConfirmPageAt(4096 * 256);
        else
            rig->emu.DropAnswers(1);
        QVERIFY(StartCpu(CpuFile(cSmallSize)));
        // Nothing confirmed: the buttons stay locked until the operator decides.
        QCOMPARE(Enabled(Form()), 0);
        rig->dialogs.answer = resend;
        QVERIFY(WaitUntil([&] { return !rig->dialogs.questions.filter(cResend).isEmpty(); }, 5000));
        if (resend) {
            QVERIFY(WaitUntil([&] { return CpuDone(); }, 10000));
            QVERIFY(LogLines(Form()).contains(QStringLiteral("Zaczynam wysyłanie od 16 $00000010")));
            std::vector<std::uint32_t> expect = Range(16, 16);
            const auto rest = Range(16, cSmallLast);
            expect.insert(expect.end(), rest.begin(), rest.end());
            QCOMPARE(rig->emu.PageAddresses(), expect);
        } else {
            QVERIFY(!rig->emu.WaitForFrames(2, 1500));
            QCOMPARE(rig->emu.PageAddresses(), Range(16, 16));
            // No line for the page frame; only a received confirmation is logged.
            QCOMPARE(LogLines(Form()).size(), beyond ? 1 : 0);
            QCOMPARE(Form().pBar->value(), 16);
            QCOMPARE(rig->dialogs.messages, QStringList{cAdvice});
        }
        QCOMPARE(rig->dialogs.questions.filter(cResend).size(), 1);
        QCOMPARE(Enabled(Form()), 3);
    }

    void confirmations_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<std::vector<std::uint32_t>>("pages");
        std::vector<std::uint32_t> again = Range(16, 16);
        const auto all = Range(16, cSmallLast);
        again.insert(again.end(), all.begin(), all.end());
        std::vector<std::uint32_t> twice = Range(16, 33);
        for (std::uint32_t p = 34; p <= cSmallLast; ++p)
            twice.insert(twice.end(), {p * 256, p * 256});
        QTest::newRow("Response 2") << 2 << all;
        QTest::newRow("Response 3") << 3 << all;
        QTest::newRow("page k-1 confirmed") << 4 << again;
        QTest::newRow("confirmation repeated") << 5 << twice;
        // Page 26's confirmation names page 30: ignored, 26 resent.
        std::vector<std::uint32_t> ahead = Range(16, 26);
        const auto from26 = Range(26, cSmallLast);
        ahead.insert(ahead.end(), from26.begin(), from26.end());
        QTest::newRow("page ahead confirmed") << 6 << ahead;
    }
    void confirmations()
    {
        QFETCH(int, fault);
        QFETCH(std::vector<std::uint32_t>, pages);
        // The confirmation of page 33 comes twice. From there on answers are
        // spaced so that no two share a read (the receiver would take them as
        // one frame and drop it).
        QVERIFY(StartRig([&](TEmulator& emu) {
            if (fault == 5)
                emu.OnFrame([&emu](const std::string& frame, bool) {
                    if (frame.size() == tProgramFlashPage::cSize &&
                        GetLE32(reinterpret_cast<const std::uint8_t*>(frame.data()) + 8) == 33 * 256) {
                        emu.SetAnswerDelayMs(150);
                        emu.RepeatAnswer(150);
                    }
                });
            if (fault == 6)
                emu.OnFrame([&emu, n = std::make_shared<int>(0)](const std::string& frame, bool) {
                    if (IsPage(frame, 26) && (*n)++ == 0)
                        emu.ConfirmPageAt(30 * 256);
                });
        }));
        if (fault == 2 || fault == 3)
            rig->emu.SetResponse(std::uint8_t(fault), 100);
        if (fault == 4)
            rig->emu.ConfirmPageAt(15 * 256);
        QVERIFY(StartCpu(CpuFile(cSmallSize)));
        const bool done = WaitUntil([&] { return CpuDone(); }, 10000);
        QCOMPARE(rig->emu.PageAddresses(), pages);
        QVERIFY(done);
        QCOMPARE(LogLines(Form()).contains(QStringLiteral("Zaczynam wysyłanie od 26 $0000001A")), fault == 6);
        // Late confirmations of the last page never bring a second command 3.
        QVERIFY(!WaitUntil([&] { return CountCommand(rig->emu, cmd_UpgreadeCPU) > 1; }, 300));
        QCOMPARE(rig->dialogs.messages.filter(cProgramCpu).size(), 1);
    }

    void strayConfirmation()
    {
        // No transfer under way: logged as received, nothing else.
        QVERIFY(StartRig());
        TMainForm& f = Form();
        f.btnOpenClose->click();
        QVERIFY(f.ComPort1->Connected());
        rig->emu.SendRaw(tProgramFlashPageConfirm::Build(100 * 256, rec_ResponseOK));
        QVERIFY(WaitUntil([&] { return LogLines(f).size() == 1; }, 3000));
        QVERIFY(IsAnswerLine(LogLines(f)[0], cmd_ProgramFlashPage));
        QVERIFY(!rig->emu.WaitForFrames(1, 300));
        QVERIFY(rig->dialogs.messages.isEmpty());
    }

    void graphicsUpdate()
    {
        QVERIFY(StartRig());
        TMainForm& f = Form();
        const QByteArray big = Pattern(1048576, 11);
        const QByteArray small = Pattern(10, 12);
        for (const QByteArray& file : {big, small}) {
            rig->emu.ClearLog();
            rig->dialogs.messages.clear();
            rig->dialogs.fileToPick = WriteFile(dir, QStringLiteral("gfx%1.qgf").arg(file.size()), file);
            f.btnAutoRun->click();
            QVERIFY(WaitUntil([&] { return rig->dialogs.messages.contains(cGfxDone); }, 30000));
            QCOMPARE(rig->dialogs.messages, (QStringList{cAdvice, cGfxDone}));
            QCOMPARE(rig->emu.PageAddresses(), Range(0, 4095));
            QCOMPARE(CountCommand(rig->emu, cmd_UpgreadeCPU), 0);
            const auto image = rig->emu.FlashImage();
            const QByteArray got(reinterpret_cast<const char*>(image.data()), qsizetype(image.size()));
            const QByteArray expect =
                file.left(cFlashImageSize) + QByteArray(1048576 - std::min<qsizetype>(file.size(), cFlashImageSize), '\0');
            QVERIFY(got == expect);
            QCOMPARE(f.lStat->text(), QStringLiteral("Programowanie pamięci flash 4095/4095"));
            QCOMPARE(f.pBar->value(), 0);
            QCOMPARE(f.pBar->maximum(), 4095);
            QCOMPARE(Enabled(f), 3);
        }
        QCOMPARE(rig->dialogs.questions, (QStringList{cGfxQuestion, cGfxQuestion}));
        QCOMPARE(rig->dialogs.fileNames.first(), QStringLiteral("Flash"));
        QCOMPARE(rig->dialogs.fileNames.last(), dir.filePath(QStringLiteral("gfx1048576.qgf")));
        QCOMPARE(rig->dialogs.fileFilters, (QStringList{cQgfFilter, cQgfFilter}));
    }

    void othersDuringTransfer_data()
    {
        // A control pressed while page 26 is awaited (locked: the press does
        // nothing), an animation left running, an answer nobody asked for.
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("extra");
        for (const char* c : {"btnTestConnection", "btnRestart", "btnUstaw", "btnPobierz", "btnCbstSend",
                              "cbAnimate", "btnSetHiSpeed"})
            QTest::newRow(c) << QString::fromLatin1(c) << 0;
        QTest::newRow("animation left running") << QString() << 1;
        QTest::newRow("unsolicited answer") << QString() << 2;
    }
    void othersDuringTransfer()
    {
        QFETCH(QString, control);
        QFETCH(int, extra);
        TGate* g = gate.get();
        QVERIFY(StartRig([g](TEmulator& emu) {
            emu.OnFrame([g](const std::string& frame, bool) {
                if (IsPage(frame, 26))
                    g->Hold();
            });
        }));
        TMainForm& f = Form();
        if (extra == 1) {
            f.cbAnimate->setChecked(true);
            QVERIFY(WaitUntil([&] { return CountCommand(rig->emu, cmd_putText) > 0; }));
        }
        const QByteArray file = CpuFile(cSmallSize);
        QVERIFY(StartCpu(file));
        QVERIFY(WaitUntil([&] { return gate->Reached(); }));
        auto* button = control.isEmpty() ? nullptr : f.findChild<QAbstractButton*>(control);
        if (button) {
            QVERIFY(!button->isEnabled());
            button->click();
        }
        if (extra == 1)
            QVERIFY(!f.Timer2->isActive() && !f.cbAnimate->isChecked());
        if (extra == 2)
            rig->emu.NoiseBeforeAnswer(BuildAnswerFrame(cmd_TestConnect, 0, rec_ResponseOK, 0), 100);
        gate->Release();
        CheckCpuDone(file);
        QCOMPARE(rig->emu.PageAddresses(), Range(16, cSmallLast));
        QCOMPARE(OthersInUpdate(rig->emu), 0);
        QCOMPARE(LogLines(f).contains(QStringLiteral("cmd_TestConnect")), extra == 2);
        QVERIFY(rig->dialogs.questions.filter(cResend).isEmpty());
        QVERIFY(!button || button->isEnabled());
    }

    void pulled_data()
    {
        // Where the adapter is pulled; the box and the status line then.
        QTest::addColumn<int>("where");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("detail");
        const QString page26 = QStringLiteral("Nie można wysłać strony 26 do Quorvantela.");
        const QString at26 = QStringLiteral("Programowanie pamięci flash przerwane na stronie 26/35");
        const QString writeError = QStringLiteral("COM Port Error");
        QTest::newRow("inside the delivery of a confirmation") << 0 << page26 << at26 << writeError;
        QTest::newRow("at a resent page's write") << 1 << page26 << at26 << writeError;
        QTest::newRow("before the first page") << 2 << QStringLiteral("Nie można wysłać strony 16 do Quorvantela.")
                                               << QStringLiteral("Programowanie pamięci flash przerwane na stronie 16/35")
                                               << cCantOpenText;
        QTest::newRow("at the closing message")
            << 3
            << QStringLiteral("Nie można wysłać komendy Upgreade CPU do Quorvantela. "
                              "Wyślij ją przyciskiem „komenda Upgreade CPU”.")
            << QStringLiteral("Programowanie pamięci flash 35/35") << writeError;
    }
    void pulled()
    {
        QFETCH(int, where);
        QFETCH(QString, box);
        QFETCH(QString, status);
        QFETCH(QString, detail);
        QVERIFY(StartRig([where](TEmulator& emu) {
            if (where == 1)
                emu.OnFrame([&emu, n = std::make_shared<int>(0)](const std::string& frame, bool) {
                    if (IsPage(frame, 26) && (*n)++ == 0)
                        emu.DropAnswers(1);
                });
        }));
        TMainForm& f = Form();
        TEmulator& emu = rig->emu;
        bool pulled = false;
        auto pull = [&] {
            if (!pulled)
                emu.Stop();
            pulled = true;
        };
        if (where == 0)
            f.PauseHook = [&](int) {
                if (f.FlashStage == TMainForm::TFlashStage::Transfer && SendFlash.PartSendCount == 25)
                    pull();
            };
        if (where == 1)
            rig->dialogs.onQuestion = [&](const QString& text) {
                if (text == cResend)
                    pull();
            };
        if (where == 2) {
            f.btnOpenClose->click();
            pull();
            QVERIFY(WaitUntil([&] { return !f.ComPort1->Connected(); }));
        }
        QString statusAtBox;
        int questionsAtBox = -1;
        rig->dialogs.onMessage = [&](const QString& text) {
            if (text == cProgramCpu && where == 3)
                pull();
            if (text != box)
                return;
            statusAtBox = f.lStat->text();
            questionsAtBox = int(rig->dialogs.questions.filter(cResend).size());
            QVERIFY(emu.Start()); // plugged in again
        };
        const QByteArray file = CpuFile(cSmallSize);
        rig->dialogs.fileToPick = WriteFile(dir, QStringLiteral("cpu.bin"), file);
        f.btnFlash->click();
        QVERIFY(WaitUntil([&] { return rig->dialogs.messages.contains(box); }, 10000));
        QCOMPARE(rig->dialogs.messages.filter(box).size(), 1);
        QVERIFY2(rig->dialogs.details[rig->dialogs.messages.indexOf(box)].contains(detail),
                 qPrintable(rig->dialogs.details.join('|')));
        QCOMPARE(statusAtBox, status);
        QCOMPARE(questionsAtBox, where == 1 ? 1 : 0);
        if (where == 3) {
            // The update is over; the button sends command 3 later.
            QVERIFY(WaitUntil([&] { return Enabled(f) == 3 && !f.ComPort1->Connected(); }));
            f.BitBtn1->click();
        } else {
            QVERIFY(WaitUntil([&] { return rig->dialogs.questions.filter(cResend).size() > questionsAtBox; }));
            if (where == 1)
                QVERIFY(LogLines(f).contains(QStringLiteral("Zaczynam wysyłanie od 26 $0000001A")));
        }
        CheckCpuDone(file);
        QVERIFY(rig->dialogs.errors.isEmpty());
    }

    void echoes_data()
    {
        // 0, 1: loopback during a CPU / graphics update; 2: an echoed Test
        // connection; 15, 17: a command-11 frame of that length.
        QTest::addColumn<int>("kind");
        QTest::newRow("loopback, CPU update") << 0;
        QTest::newRow("loopback, graphics update") << 1;
        QTest::newRow("echoed Test connection") << 2;
        QTest::newRow("15-byte command-11 frame") << 15;
        QTest::newRow("17-byte command-11 frame") << 17;
    }
    void echoes()
    {
        QFETCH(int, kind);
        QVERIFY(StartRig());
        TMainForm& f = Form();
        rig->emu.SetLoopback(kind < 15);
        // Yes to start; No to the resend question unless the transfer is to go on.
        rig->dialogs.onQuestion = [&](const QString& text) { rig->dialogs.answer = kind >= 15 || text != cResend; };
        if (kind == 2) {
            f.btnTestConnection->click();
            QVERIFY(WaitUntil([&] { return rig->dialogs.messages.contains(cTimeoutText); }));
            TBytes sent = BuildCommandFrame(cmd_TestConnect);
            SealFrame(sent);
            QCOMPARE(LogLines(f), (QStringList{SentLine(sent), HexText(sent) + QStringLiteral(" Wielkość: 10")}));
            return;
        }
        const QByteArray file = CpuFile(cSmallSize);
        if (kind == 1) {
            rig->dialogs.fileToPick = WriteFile(dir, QStringLiteral("gfx.qgf"), file);
            f.btnAutoRun->click();
        } else {
            if (kind >= 15)
                rig->emu.DropAnswers(1);
            QVERIFY(StartCpu(file));
        }
        if (kind >= 15) {
            // Naming page 16, which it would confirm if read by its first 16 bytes.
            TBytes odd = tProgramFlashPageConfirm::Build(16 * 256, rec_ResponseOK);
            if (kind == 15)
                odd.erase(13, 1);
            else
                odd.insert(14, 1, '\x01');
            odd[2] = char(kind);
            SealFrame(odd);
            rig->emu.SendRaw(odd);
            std::vector<std::uint32_t> expect = Range(16, 16);
            const auto rest = Range(16, cSmallLast);
            expect.insert(expect.end(), rest.begin(), rest.end());
            CheckCpuDone(file);
            QCOMPARE(rig->emu.PageAddresses(), expect);
            QVERIFY(LogLines(f).contains(HexText(odd) + QStringLiteral(" Wielkość: %1").arg(kind)));
            return;
        }
        QVERIFY(WaitUntil([&] { return !rig->dialogs.questions.filter(cResend).isEmpty(); }));
        QVERIFY(WaitUntil([&] { return Enabled(f) == 3; }));
        QCOMPARE(rig->dialogs.messages.filter(kind ? cGfxDone : cProgramCpu).size(), 0);
        QCOMPARE(CountCommand(rig->emu, cmd_UpgreadeCPU), 0);
        QCOMPARE(CountCommand(rig->emu, cmd_ProgramFlashPage), 1);
    }
};

QTEST_MAIN(TestUpdate)
#include "test_update.moc"
