// The update procedures and the page exchange of the main window against the
// controller emulator: CPU firmware and graphics updates end to end, refused
// files, lost and odd confirmations, and the locked update buttons.
#include "UpdateFiles.h"

#include "tests/common/WindowRig.h"
#include "protocol/flashpage.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

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

std::vector<std::uint32_t> Addresses(std::initializer_list<std::uint32_t> pages)
{
    std::vector<std::uint32_t> out;
    for (auto p : pages)
        out.push_back(p * 256);
    return out;
}
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
bool ButtonsEnabled(const TMainForm& f)
{
    return f.btnFlash->isEnabled() && f.BitBtn1->isEnabled() && f.btnAutoRun->isEnabled();
}
bool ButtonsDisabled(const TMainForm& f)
{
    return !f.btnFlash->isEnabled() && !f.BitBtn1->isEnabled() && !f.btnAutoRun->isEnabled();
}
} // namespace

class TestUpdate : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<TWindowRig> rig;

    TMainForm& Form() { return *rig->form; }
    bool StartRig(std::function<void(TEmulator&)> before = {})
    {
        TEmulator::Options o;
        o.pace = false;
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
    void cleanup() { rig.reset(); }

    void cpuUpdate_data()
    {
        QTest::addColumn<bool>("fast");
        QTest::newRow("at 9600") << false;
        QTest::newRow("at 115200") << true;
    }
    void cpuUpdate()
    {
        QFETCH(bool, fast);
        QVERIFY(StartRig());
        TMainForm& f = Form();
        if (fast) {
            f.btnSetHiSpeed->click();
            QTRY_COMPARE_WITH_TIMEOUT(rig->emu.Speed(), 115200, 3000);
            QVERIFY(WaitUntil([&] { return rig->Idle(); }, 3000));
            rig->emu.ClearLog();
        }
        const QByteArray file = CpuFile(cSmallSize);
        // At the closing message command 3 has not gone out yet and the
        // buttons are still locked.
        int cmd3AtMessage = -1;
        bool lockedAtMessage = false;
        rig->dialogs.onMessage = [&](const QString& text) {
            if (text == cProgramCpu) {
                cmd3AtMessage = CountCommand(rig->emu, cmd_UpgreadeCPU);
                lockedAtMessage = ButtonsDisabled(f);
            }
        };
        QVERIFY(StartCpu(file));
        QVERIFY(WaitUntil([&] { return CpuDone(); }, 10000));

        QCOMPARE(rig->dialogs.fileFilters, QStringList{cBinFilter});
        QCOMPARE(rig->dialogs.fileDefaultExts, QStringList{QStringLiteral("*.BIN")});
        QCOMPARE(rig->dialogs.fileNames, QStringList{QStringLiteral("QuorvantelRS_firmware.bin")});
        QCOMPARE(rig->dialogs.questions, QStringList{cCpuQuestion});
        QStringList messages{cProgramCpu};
        if (!fast)
            messages.prepend(cAdvice);
        QCOMPARE(rig->dialogs.messages, messages);
        QCOMPARE(cmd3AtMessage, 0);
        QVERIFY(lockedAtMessage);

        // Pages 16..35 in order, each frame sound, then command 3.
        QCOMPARE(rig->emu.PageAddresses(), Range(16, cSmallLast));
        const auto frames = rig->emu.Frames();
        QCOMPARE(frames.size(), std::size_t(cSmallLast - 16 + 2));
        for (std::size_t i = 0; i + 1 < frames.size(); ++i)
            QVERIFY(frames[i].size() == tProgramFlashPage::cSize && VerifyFrame(frames[i]));
        const TBytes cmd3 = Hex("1B 03 0A 00 3C 04 00 00 0D 0A");
        QCOMPARE(frames.back(), cmd3);
        const auto image = rig->emu.FlashImage();
        const std::size_t sent = (cSmallLast - 15) * 256;
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(image.data()) + 4096, qsizetype(sent)),
                 file.left(qsizetype(sent)));

        // The log ends with command 3, its answer and the note; the line is at 9600.
        const QStringList log = LogLines(f);
        QCOMPARE(log.value(log.size() - 3), SentLine(cmd3));
        QVERIFY(IsAnswerLine(log.value(log.size() - 2), cmd_UpgreadeCPU));
        QVERIFY(f.ComPort1->Connected());
        QCOMPARE(f.ComPort1->BaudRate(), br9600);
        QCOMPARE(f.cbComSpeed->GetText(), std::string("9600"));
        QCOMPARE(rig->emu.ToolSpeed(), 9600);
        QCOMPARE(f.pBar->value(), 0);
        QCOMPARE(f.lStat->text(), QStringLiteral("Programowanie pamięci flash 35/35"));
        QVERIFY(ButtonsEnabled(f));

        // "Flashing GFX" next: the dialog proposes the CPU file, under its own filter.
        rig->dialogs.fileToPick.clear();
        f.btnAutoRun->click();
        QCOMPARE(rig->dialogs.fileNames.last(), dir.filePath(QStringLiteral("cpu.bin")));
        QCOMPARE(rig->dialogs.fileFilters.last(), cQgfFilter);
        QCOMPARE(rig->dialogs.fileDefaultExts.last(), QStringLiteral("*.QGF"));
    }

    void cpuRefused_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("messages");
        const QStringList refused{cAdvice, cWrongFile};
        QTest::newRow("196607 bytes") << CpuFile(0, 196607) << true << refused;
        QTest::newRow("196609 bytes") << CpuFile(0, 196609) << true << refused;
        QTest::newRow("negative size") << CpuFile(-256) << true << refused;
        QTest::newRow("size past the file") << CpuFile(192512) << true << refused;
        QTest::newRow("answer No") << CpuFile(0) << false << QStringList{cAdvice};
    }
    void cpuRefused()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, answer);
        QFETCH(QStringList, messages);
        QVERIFY(StartRig());
        rig->dialogs.answer = answer;
        rig->dialogs.fileToPick = WriteFile(dir, QStringLiteral("bad.bin"), file);
        Form().btnFlash->click();
        QCOMPARE(rig->dialogs.questions, QStringList{cCpuQuestion});
        QCOMPARE(rig->dialogs.messages, messages);
        QVERIFY(!rig->emu.WaitForFrames(1, 300));
        QVERIFY(LogLines(Form()).isEmpty());
        QVERIFY(ButtonsEnabled(Form()));
    }

    void unreadableOrCancelled_data()
    {
        QTest::addColumn<QString>("pick");
        QTest::addColumn<int>("errors");
        QTest::newRow("cancelled") << QString() << 0;
        QTest::newRow("missing file") << dir.filePath(QStringLiteral("nowhere.qgf")) << 1;
    }
    void unreadableOrCancelled()
    {
        QFETCH(QString, pick);
        QFETCH(int, errors);
        QVERIFY(StartRig());
        rig->dialogs.fileToPick = pick;
        Form().btnAutoRun->click();
        QCOMPARE(rig->dialogs.fileNames, QStringList{QStringLiteral("Flash")});
        QCOMPARE(rig->dialogs.errors.size(), errors);
        if (errors)
            QVERIFY2(rig->dialogs.errors[0].contains(pick) &&
                         rig->dialogs.errors[0].contains(QString::fromUtf8(std::strerror(ENOENT))),
                     qPrintable(rig->dialogs.errors[0]));
        QVERIFY(rig->dialogs.questions.isEmpty());
        QVERIFY(!rig->emu.WaitForFrames(1, 300));
        QVERIFY(ButtonsEnabled(Form()));
    }

    void lostConfirmation_data()
    {
        QTest::addColumn<bool>("resend");
        QTest::newRow("Yes") << true;
        QTest::newRow("No") << false;
    }
    void lostConfirmation()
    {
        QFETCH(bool, resend);
        QVERIFY(StartRig());
        rig->emu.DropAnswers(1);
        QStringList logAtQuestion;
        QVERIFY(StartCpu(CpuFile(cSmallSize)));
        // Nothing confirmed: the buttons stay locked until the operator decides.
        QVERIFY(ButtonsDisabled(Form()));
        rig->dialogs.answer = resend;
        QVERIFY(WaitUntil([&] { return !rig->dialogs.questions.filter(cResend).isEmpty(); }, 5000));
        QCOMPARE(rig->dialogs.questions.filter(cResend).size(), 1);
        if (resend) {
            QVERIFY(WaitUntil([&] { return CpuDone(); }, 10000));
            QVERIFY(LogLines(Form()).contains(QStringLiteral("Zaczynam wysyłanie od 16 $00000010")));
            std::vector<std::uint32_t> expect = Addresses({16});
            const auto rest = Range(16, cSmallLast);
            expect.insert(expect.end(), rest.begin(), rest.end());
            QCOMPARE(rig->emu.PageAddresses(), expect);
        } else {
            QVERIFY(!rig->emu.WaitForFrames(2, 1500));
            QCOMPARE(rig->emu.PageAddresses(), Addresses({16}));
            QVERIFY(LogLines(Form()).isEmpty());
            QCOMPARE(Form().pBar->value(), 16);
            QCOMPARE(rig->dialogs.questions.filter(cResend).size(), 1);
        }
        QVERIFY(ButtonsEnabled(Form()));
    }

    void cpuCommandUnanswered()
    {
        // The closing command 3 gets no answer: the general timeout, and the
        // buttons come back; the line keeps the transfer's speed.
        QVERIFY(StartRig([](TEmulator& emu) {
            emu.OnFrame([&emu](const std::string& frame, bool) {
                if (frame.size() > 1 && std::uint8_t(frame[1]) == cmd_UpgreadeCPU)
                    emu.DropAnswers(1);
            });
        }));
        bool lockedWhileWaiting = false;
        rig->dialogs.onMessage = [&](const QString& text) {
            if (text == cTimeoutText)
                lockedWhileWaiting = ButtonsDisabled(Form());
        };
        QVERIFY(StartCpu(CpuFile(cSmallSize)));
        QVERIFY(WaitUntil([&] { return rig->dialogs.messages.contains(cTimeoutText); }, 10000));
        QVERIFY(lockedWhileWaiting);
        QVERIFY(WaitUntil([&] { return ButtonsEnabled(Form()); }, 1000));
        QCOMPARE(CountCommand(rig->emu, cmd_UpgreadeCPU), 1);
        QVERIFY(!LogLines(Form()).contains(QStringLiteral("cmd_UpgradeCPU")));
    }

    void confirmations_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<std::vector<std::uint32_t>>("pages");
        std::vector<std::uint32_t> again = Addresses({16});
        const auto all = Range(16, cSmallLast);
        again.insert(again.end(), all.begin(), all.end());
        std::vector<std::uint32_t> twice = Range(16, 33);
        for (std::uint32_t p = 34; p <= cSmallLast; ++p)
            twice.insert(twice.end(), {p * 256, p * 256});
        QTest::newRow("Response 2") << 2 << all;
        QTest::newRow("Response 3") << 3 << all;
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
            rig->emu.SetResponse(std::uint8_t(fault), 100);
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

    void strayConfirmations()
    {
        QVERIFY(StartRig());
        TMainForm& f = Form();
        // No transfer under way: logged as received, nothing else.
        f.btnOpenClose->click();
        QVERIFY(f.ComPort1->Connected());
        rig->emu.SendRaw(tProgramFlashPageConfirm::Build(100 * 256, rec_ResponseOK));
        QVERIFY(WaitUntil([&] { return LogLines(f).size() == 1; }, 3000));
        QVERIFY(IsAnswerLine(LogLines(f)[0], cmd_ProgramFlashPage));
        QVERIFY(!rig->emu.WaitForFrames(1, 300));
        QVERIFY(rig->dialogs.messages.isEmpty());
        // A page beyond the table: ignored, so the question comes; No ends it.
        rig->emu.ConfirmPageAt(4096 * 256);
        rig->dialogs.answer = true;
        QVERIFY(StartCpu(CpuFile(cSmallSize)));
        rig->dialogs.answer = false;
        QVERIFY(WaitUntil([&] { return !rig->dialogs.questions.filter(cResend).isEmpty(); }, 5000));
        QCOMPARE(rig->emu.PageAddresses(), Addresses({16}));
        QCOMPARE(CountCommand(rig->emu, cmd_UpgreadeCPU), 0);
        QCOMPARE(rig->dialogs.messages, QStringList{cAdvice});
        QVERIFY(ButtonsEnabled(f));
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
            QVERIFY(ButtonsEnabled(f));
        }
        QCOMPARE(rig->dialogs.questions, (QStringList{cGfxQuestion, cGfxQuestion}));
        QCOMPARE(rig->dialogs.fileNames.first(), QStringLiteral("Flash"));
        QCOMPARE(rig->dialogs.fileNames.last(), dir.filePath(QStringLiteral("gfx1048576.qgf")));
        QCOMPARE(rig->dialogs.fileFilters, (QStringList{cQgfFilter, cQgfFilter}));
    }
};

QTEST_MAIN(TestUpdate)
#include "test_update.moc"
