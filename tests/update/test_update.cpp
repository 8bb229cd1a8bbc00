// The update procedures and the page exchange of the main window against the
// controller emulator: CPU firmware and graphics updates end to end, refused
// files, lost and odd confirmations, and the locked update buttons.
#include "UpdateFiles.h"

#include "tests/common/WindowRig.h"
#include "tests/protocol/PageAnswerRows.h"
#include "protocol/flashpage.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <atomic>
#include <thread>
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
} // namespace

class TestUpdate : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<TWindowRig> rig;
    std::atomic<int> held{0}; // 1 while the emulator holds an answer back

    TMainForm& Form() { return *rig->form; }
    // The port is a symlink, as an adapter's name: a restart is a replug.
    bool StartRig(std::function<void(TEmulator&)> before = {})
    {
        TEmulator::Options o;
        o.pace = false;
        o.symlink = QDir::temp().filePath(QStringLiteral("qv-upd-%1").arg(getpid())).toStdString();
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

private slots:
    void cleanup() { held = 0, rig.reset(); }

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
        // Refused: the resend question comes and "Tak" sends the page again.
        QTest::newRow("Response 2") << 2 << again;
        QTest::newRow("Response 3") << 3 << again;
        QTest::newRow("page k-1 confirmed") << 4 << again;
        QTest::newRow("confirmation repeated") << 5 << twice;
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
        }));
        if (fault == 2 || fault == 3)
            rig->emu.SetResponse(std::uint8_t(fault), 1);
        if (fault == 4)
            rig->emu.ConfirmPageAt(15 * 256);
        QVERIFY(StartCpu(CpuFile(cSmallSize)));
        const bool done = WaitUntil([&] { return CpuDone(); }, 10000);
        QCOMPARE(rig->emu.PageAddresses(), pages);
        QVERIFY(done);
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
        // First on a loopback plug: echoes confirm nothing; on the controller again "Tak" goes on.
        rig->emu.SetLoopback(true);
        rig->dialogs.onQuestion = [&, on = true](const QString& q) mutable { rig->emu.SetLoopback(on = on && q != cResend); };
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
        QCOMPARE(rig->dialogs.questions, (QStringList{cGfxQuestion, cResend, cGfxQuestion}));
        QCOMPARE(rig->dialogs.fileNames.first(), QStringLiteral("Flash"));
        QCOMPARE(rig->dialogs.fileNames.last(), dir.filePath(QStringLiteral("gfx1048576.qgf")));
        QCOMPARE(rig->dialogs.fileFilters, (QStringList{cQgfFilter, cQgfFilter}));
    }

    // The rule book's table in the window: it follows the page on the line and
    // an earlier one (sending the page after it); anything else is left to the
    // resend question, which a refusal brings at once.
    void pageAnswers_data() { PageAnswerRows(); }
    void pageAnswers()
    {
        QFETCH(QByteArray, frame);
        QFETCH(TPageAnswer, answer);
        QVERIFY(StartRig([frame, n = std::make_shared<int>(0)](TEmulator& emu) {
            emu.OnFrame([&emu, frame, n](const std::string& f, bool) {
                if (f.size() == tProgramFlashPage::cSize && std::uint8_t(f[9]) == cRowOnLine && !(*n)++)
                    emu.DropAnswers(1), emu.SendRaw(frame.toStdString());
            });
        }));
        // Whatever asks for it, no page outside the transfer under way is written.
        rig->dialogs.onQuestion = [&](const QString&) {
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, Form().SendFlashPage(cRowFirst - 1));
        };
        QVERIFY(StartCpu(CpuFile(cSmallSize)));
        QVERIFY(WaitUntil([&] { return CpuDone(); }, 15000));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, Form().SendFlashPage(cRowLast));
        const bool followed = answer == TPageAnswer::OnLine || answer == TPageAnswer::Earlier;
        const std::uint32_t named = GetLE32(reinterpret_cast<const std::uint8_t*>(frame.data()) + 8) >> 8;
        auto pages = Range(cRowFirst, cRowOnLine);
        const auto rest = Range(followed ? named + 1 : cRowOnLine, cRowLast);
        pages.insert(pages.end(), rest.begin(), rest.end());
        QCOMPARE(rig->emu.PageAddresses(), pages);
        QCOMPARE(rig->dialogs.questions.filter(cResend).size(), followed ? 0 : 1);
    }

    void runsToItsEnd_data()
    {
        // What meets a CPU update at page 26 (see runsToItsEnd); `box`: the page the box
        // told at once names (0: command 3, -1: none); `resent`: the page resent, `twice`: seen twice.
        QTest::addColumn<QString>("act");
        QTest::addColumn<int>("box");
        QTest::addColumn<int>("resent");
        QTest::addColumn<bool>("twice");
        // Every control locked during an update, pressed where it is a button.
        for (const char* c : {"btnFlash", "BitBtn1", "btnAutoRun", "btnTestConnection", "btnRestart", "btnClearScreen",
                              "btnUstaw", "btnPobierz", "BitBtn2", "btnCbstSend", "cbAnimate", "btnCbsdSend",
                              "btnSendLogo", "btnSet9600", "btnSetHiSpeed", "cbComSpeed", "cbComName", "btnOpenClose"})
            QTest::newRow(c) << QString::fromLatin1(c) << -1 << -1 << false;
        QTest::newRow("animation left running") << "anim" << -1 << -1 << false;
        QTest::newRow("unsolicited answer") << "other1" << -1 << -1 << false;
        QTest::newRow("unsolicited speed answer") << "other10" << -1 << -1 << false;
        QTest::newRow("unsolicited command-3 answer") << "other3" << -1 << -1 << false;
        QTest::newRow("15-byte command-11 frame") << "15" << -1 << 26 << true;
        QTest::newRow("17-byte command-11 frame") << "17" << -1 << 26 << true;
        QTest::newRow("confirmation naming a page ahead") << "ahead" << -1 << 26 << true;
        QTest::newRow("loopback plug, then the controller") << "loop" << -1 << 16 << false;
        QTest::newRow("pulled in a confirmation's delivery") << "delivery" << 26 << 26 << false;
        QTest::newRow("pulled at a resent page's write") << "resend" << 26 << 26 << true;
        QTest::newRow("pulled before the first page") << "first" << 16 << 16 << false;
        QTest::newRow("pulled at the closing message") << "closing" << 0 << -1 << false;
    }
    // A control pressed (locked), an animation left running, another code's answer, frames that are
    // no confirmation or name page 30, a loopback plug, the adapter pulled: the update ends as it should.
    void runsToItsEnd()
    {
        QFETCH(QString, act);
        QFETCH(int, box);
        QFETCH(int, resent);
        QFETCH(bool, twice);
        const bool hold = !QStringList{"ahead", "loop", "delivery", "first", "closing"}.contains(act);
        QVERIFY(StartRig([&, hold, act, n = std::make_shared<int>(0)](TEmulator& emu) {
            emu.OnFrame([&, hold, act, n](const std::string& frame, bool) { // page 26: 2nd byte of its address
                if (frame.size() != tProgramFlashPage::cSize || frame[9] != 26 || (*n)++)
                    return;
                if (act == "15" || act == "17" || act == "resend")
                    emu.DropAnswers(1);
                if (act == "ahead")
                    emu.ConfirmPageAt(30 * 256);
                held = hold;
                for (int ms = 0; held == 1 && ms < 10000; ++ms)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            });
        }));
        TMainForm& f = Form();
        TEmulator& emu = rig->emu;
        bool pulled = false;
        auto pull = [&](bool now) { now && !std::exchange(pulled, true) ? emu.Stop() : void(); };
        f.PauseHook = [&](int) {
            pull(act == "delivery" && f.FlashStage != TMainForm::TFlashStage::Idle && SendFlash.PartSendCount == 25);
        };
        rig->dialogs.onQuestion = [&](const QString& q) {
            pull((act == "resend" && q == cResend) || (act == "first" && q == cCpuQuestion));
            emu.SetLoopback(act == "loop" && q != cResend);
        };
        const QString told = box ? QStringLiteral("Nie można wysłać strony %1 do Quorvantela.").arg(box)
                                 : QStringLiteral("Nie można wysłać komendy Upgreade CPU do Quorvantela. "
                                                  "Wyślij ją przyciskiem „komenda Upgreade CPU”.");
        QString atBox; // the status line and the resend questions asked, when the box comes
        rig->dialogs.onMessage = [&](const QString& text) {
            pull(act == "closing" && text == cProgramCpu);
            if (text == told) // then plugged in again
                atBox = f.lStat->text() + QString::number(rig->dialogs.questions.filter(cResend).size()) +
                        QString::number(emu.Start());
        };
        f.cbAnimate->setChecked(act == "anim");
        // Running, its last frame answered: an answer glued to a confirmation would be one bad frame.
        QVERIFY(WaitUntil([&] { return act != "anim" || (CountCommand(emu, cmd_putText) > 0 && f.AutoTimer.cmd == 0); }));
        const QByteArray file = CpuFile(cSmallSize);
        QVERIFY(StartCpu(file) || act == "first");
        if (hold) {
            QVERIFY(WaitUntil([&] { return held == 1; }));
            if (auto* w = f.findChild<QWidget*>(act)) {
                QVERIFY(!w->isEnabled());
                if (auto* b = qobject_cast<QAbstractButton*>(w))
                    b->click();
            }
            QVERIFY(!f.Timer2->isActive() && !f.cbAnimate->isChecked());
            if (act.startsWith("other"))
                emu.NoiseBeforeAnswer(BuildAnswerFrame(std::uint8_t(act.mid(5).toInt()), 0, rec_ResponseOK, 0), 100);
            if (act.size() == 2) { // "15", "17": a command-11 frame of that length naming page 26
                TBytes odd = tProgramFlashPageConfirm::Build(26 * 256, rec_ResponseOK);
                act == "15" ? odd.erase(13, 1) : odd.insert(14, 1, '\x01');
                odd[2] = char(odd.size());
                SealFrame(odd);
                emu.SendRaw(odd);
            }
            held = 0;
        }
        if (act == "closing") { // the update is over; the button sends command 3 later
            QVERIFY(WaitUntil([&] { return Enabled(f) == 3 && !f.ComPort1->Connected(); }));
            f.BitBtn1->click();
        }
        QVERIFY(WaitUntil([&] { return CpuDone() && Enabled(f) == 3 && f.cbComName->isEnabled(); }, 10000));

        auto pages = Range(16, cSmallLast);
        if (twice)
            pages.insert(pages.begin() + (resent - 16), resent * 256u);
        QCOMPARE(emu.PageAddresses(), pages);
        QCOMPARE(CountCommand(emu, cmd_ProgramFlashPage) + 1 + CountCommand(emu, cmd_putText), int(emu.Frames().size()));
        QVERIFY(QByteArray(reinterpret_cast<const char*>(emu.FlashImage().data()) + 4096, 20 * 256) == file.left(20 * 256));
        QCOMPARE(LogLines(f).contains(QString::asprintf("Zaczynam wysyłanie od %d $%08X", resent, resent)), resent >= 0);
        QCOMPARE(LogLines(f).contains(QStringLiteral("cmd_TestConnect")), act == "other1");
        QStringList messages{cAdvice, cProgramCpu};
        if (box >= 0)
            messages.insert(box ? 1 : 2, told);
        QCOMPARE(rig->dialogs.messages, messages);
        if (box >= 0) {
            // A write into the pulled line is told as the line lost, not as the failed call.
            const QString detail = rig->dialogs.details[messages.indexOf(told)];
            QVERIFY2(act == "first" ? detail.startsWith(cCantOpenText)
                                    : detail == QStringLiteral("Utracono połączenie z portem ") +
                                                    QString::fromStdString(rig->link),
                     qPrintable(detail));
            QCOMPARE(atBox, (box ? QStringLiteral("Programowanie pamięci flash przerwane na stronie %1/35").arg(box)
                                 : QStringLiteral("Programowanie pamięci flash 35/35")) +
                                QString::number(act == "resend") + QStringLiteral("1"));
        }
        QVERIFY(rig->dialogs.errors.isEmpty());
    }
};

QTEST_MAIN(TestUpdate)
#include "test_update.moc"
