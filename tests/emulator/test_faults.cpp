// The faults the emulator can be told to make, each on the next answer(s) only.
#include "EmulatorLine.h"

#include <QtTest>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>

namespace {

const std::string cTestConnect = Hex("1B 01 0A 00 5B C2 00 00 0D 0A");
const std::string cFillScreen = Hex("1B 04 0A 00 97 B5 00 00 0D 0A");
const std::string cVersionCmd = Hex("1B 0D 0A 00 4B 77 00 00 0D 0A");
const QString cTestConnectAnswer = "1B 01 10 00 6B 13 00 00 00 00 00 00 01 00 0D 0A";
const QString cFillScreenAnswer = "1B 04 10 00 25 26 00 00 00 00 00 00 01 00 0D 0A";
const QString cVersionAnswer = "1B 0D 10 00 8F CC 00 00 66 00 00 00 01 02 0D 0A";

} // namespace

class TestEmulatorFaults : public QObject {
    Q_OBJECT

    std::optional<TEmulatorLine> line; // a fresh emulator and line per test
    TEmulator* emu = nullptr;
    TPty* tool = nullptr;

private slots:
    void init()
    {
        line.emplace();
        emu = line->emu.get();
        tool = line->tool.get();
    }
    void cleanup() { line.reset(); }

    void dropAnswers()
    {
        emu->DropAnswers(2);
        QVERIFY(tool->Send(cTestConnect + cFillScreen + cVersionCmd));
        // Frames are handled in order: the version answer first means the two
        // before it were dropped.
        QCOMPARE(HexOf(tool->Receive(16)), cVersionAnswer);
        QVERIFY(tool->Send(cTestConnect));
        QCOMPARE(HexOf(tool->Receive(16)), cTestConnectAnswer);
        QVERIFY(emu->WaitForAnswers(2, 3000));
        QCOMPARE(emu->AnswersSent(), std::size_t(2));
        QCOMPARE(emu->Frames().size(), std::size_t(4));
    }

    void droppedSpeedCommandStillSwitches()
    {
        // The controller acted; only its answer got lost.
        emu->DropAnswers(1);
        QVERIFY(tool->Send(Hex("1B 0A 0A 00 E0 C6 00 00 0D 0A")));
        QTRY_COMPARE_WITH_TIMEOUT(emu->Speed(), 115200, 3000);
        QCOMPARE(emu->AnswersSent(), std::size_t(0));
    }

    void corruptChecksum()
    {
        emu->CorruptChecksum(2);
        QVERIFY(tool->Send(cTestConnect));
        std::string got = tool->Receive(16);
        QVERIFY(!VerifyFrame(got));
        QCOMPARE(HexOf(got.substr(0, 4)), cTestConnectAnswer.left(11));
        QCOMPARE(HexOf(got.substr(6)), cTestConnectAnswer.mid(18));
        QVERIFY(tool->Send(cFillScreen));
        got = tool->Receive(16);
        QVERIFY(!VerifyFrame(got));
        QCOMPARE(std::uint8_t(got[1]), cmd_FillScreen);
        QVERIFY(tool->Send(cVersionCmd));
        QCOMPARE(HexOf(tool->Receive(16)), cVersionAnswer);
    }

    void splitAnswer_data()
    {
        QTest::addColumn<std::vector<std::size_t>>("sizes");
        QTest::addColumn<std::vector<std::size_t>>("boundaries");
        QTest::newRow("5,6,5") << std::vector<std::size_t>{5, 6, 5} << std::vector<std::size_t>{5, 11};
        QTest::newRow("between CR and LF") << std::vector<std::size_t>{15, 1} << std::vector<std::size_t>{15};
        QTest::newRow("rest in a last chunk") << std::vector<std::size_t>{1, 2} << std::vector<std::size_t>{1, 3};
    }
    void splitAnswer()
    {
        QFETCH(std::vector<std::size_t>, sizes);
        QFETCH(std::vector<std::size_t>, boundaries);
        emu->SplitAnswer(sizes, 150);
        QVERIFY(tool->Send(cTestConnect));
        const auto chunks = tool->ReceiveChunks(16);
        std::string all;
        std::set<std::size_t> readEnds;
        for (const auto& c : chunks) {
            all += c;
            readEnds.insert(all.size());
        }
        QCOMPARE(HexOf(all), cTestConnectAnswer);
        // Every chunk boundary is also a boundary between reads: the pieces
        // reached the tool apart.
        for (auto b : boundaries)
            QVERIFY2(readEnds.count(b), qPrintable(QString("no read ended at byte %1").arg(b)));
        QVERIFY(emu->WaitForAnswers(1, 3000));

        QVERIFY(tool->Send(cFillScreen));
        QCOMPARE(HexOf(tool->Receive(16)), cFillScreenAnswer);
    }

    void noiseBeforeAnswer()
    {
        emu->NoiseBeforeAnswer(std::string("\x00\xAA\x0D\x0A\x55", 5));
        QVERIFY(tool->Send(cTestConnect));
        QCOMPARE(HexOf(tool->Receive(21)), "00 AA 0D 0A 55 " + cTestConnectAnswer);
        QVERIFY(tool->Send(cFillScreen));
        QCOMPARE(HexOf(tool->Receive(16)), cFillScreenAnswer);
    }

    void glueAnswers()
    {
        emu->GlueAnswers();
        // The bad frame after the first command is logged only once the first
        // command has been dealt with; its answer must still be held back.
        QVERIFY(tool->Send(cTestConnect + Hex("1B 01 0A 00 00 00 00 00 0D 0A")));
        QVERIFY(emu->WaitForFrames(2, 3000));
        QVERIFY(!tool->HasInput());
        QCOMPARE(emu->AnswersSent(), std::size_t(0));
        QVERIFY(tool->Send(cFillScreen));
        const auto chunks = tool->ReceiveChunks(32);
        QCOMPARE(chunks.size(), std::size_t(1));
        QCOMPARE(HexOf(chunks[0]), cTestConnectAnswer + " " + cFillScreenAnswer);
        QVERIFY(emu->WaitForAnswers(2, 3000));
        // Only two answers were glued.
        QVERIFY(tool->Send(cVersionCmd));
        QCOMPARE(HexOf(tool->Receive(16)), cVersionAnswer);
    }

    void answerWithCode()
    {
        emu->AnswerWithCode(14);
        QVERIFY(tool->Send(cTestConnect));
        const std::string got = tool->Receive(16);
        QCOMPARE(HexOf(got), QString("1B 0E 10 00 B9 4C 00 00 00 00 00 00 01 00 0D 0A"));
        QVERIFY(VerifyFrame(got));
        QVERIFY(tool->Send(cTestConnect));
        QCOMPARE(HexOf(tool->Receive(16)), cTestConnectAnswer);
    }

    void confirmPageAt()
    {
        // Only a page confirmation takes the address, and only the next one.
        emu->ConfirmPageAt(0x2000);
        QVERIFY(tool->Send(cTestConnect));
        QCOMPARE(HexOf(tool->Receive(16)), cTestConnectAnswer);
        QVERIFY(tool->Send(PageFrame(4096, '\x77')));
        QCOMPARE(HexOf(tool->Receive(16)), QString("1B 0B 10 00 01 17 00 00 00 20 00 00 01 00 0D 0A"));
        QVERIFY(tool->Send(PageFrame(256, '\x78')));
        QCOMPARE(HexOf(tool->Receive(16)), QString("1B 0B 10 00 96 C1 00 00 00 01 00 00 01 00 0D 0A"));
        // The page went where the frame said, not where the confirmation said.
        const auto image = emu->FlashImage();
        QCOMPARE(int(image[4096]), 0x77);
        QCOMPARE(int(image[0x2000]), 0xFF);
        QCOMPARE(int(image[256]), 0x78);
        QCOMPARE(emu->PageAddresses(), (std::vector<std::uint32_t>{4096, 256}));
    }

    void setResponse()
    {
        emu->SetResponse(rec_ResponseRepeat, 2);
        QVERIFY(tool->Send(cTestConnect));
        QCOMPARE(HexOf(tool->Receive(16)), QString("1B 01 10 00 03 FE 00 00 00 00 00 00 03 00 0D 0A"));
        QVERIFY(tool->Send(PageFrame(4096, '\x01')));
        QCOMPARE(HexOf(tool->Receive(16)), QString("1B 0B 10 00 E4 A3 00 00 00 10 00 00 03 00 0D 0A"));
        QVERIFY(tool->Send(cTestConnect));
        QCOMPARE(HexOf(tool->Receive(16)), cTestConnectAnswer);
        emu->SetResponse(rec_ResponseWrong);
        QVERIFY(tool->Send(cTestConnect));
        QCOMPARE(HexOf(tool->Receive(16)), QString("1B 01 10 00 B7 88 00 00 00 00 00 00 02 00 0D 0A"));
        QVERIFY(tool->Send(cTestConnect));
        QCOMPARE(HexOf(tool->Receive(16)), cTestConnectAnswer);
    }

    void refusePages_data()
    {
        QTest::addColumn<int>("response");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("Wrong") << int(rec_ResponseWrong) << "1B 0B 10 00 50 D5 00 00 00 10 00 00 02 00 0D 0A";
        QTest::newRow("Repeat") << int(rec_ResponseRepeat) << "1B 0B 10 00 E4 A3 00 00 00 10 00 00 03 00 0D 0A";
    }
    void refusePages()
    {
        // A refused page is not programmed; the same page sent again is.
        QFETCH(int, response);
        QFETCH(QString, refusal);
        emu->RefusePages(std::uint8_t(response));
        QVERIFY(tool->Send(PageFrame(4096, '\x11')));
        QCOMPARE(HexOf(tool->Receive(16)), refusal);
        QCOMPARE(int(emu->FlashImage()[4096]), 0xFF);
        QVERIFY(emu->WrittenPages().empty());
        QVERIFY(tool->Send(PageFrame(4096, '\x11') + PageFrame(0xFFFFFF00u, '\x12') + PageFrame(1024, '\x13')));
        QCOMPARE(HexOf(tool->Receive(16)), QString("1B 0B 10 00 8C 4E 00 00 00 10 00 00 01 00 0D 0A"));
        QVERIFY(emu->WaitForAnswers(4, 3000));
        QCOMPARE(int(emu->FlashImage()[4096]), 0x11);
        // Programmed pages only, in order of index; a page beyond the flash is none.
        QCOMPARE(emu->WrittenPages(), (std::vector<std::uint32_t>{4, 16}));
        emu->ClearLog();
        QCOMPARE(emu->WrittenPages(), (std::vector<std::uint32_t>{4, 16}));
        emu->ForgetWrittenPages();
        QVERIFY(emu->WrittenPages().empty());
        QCOMPARE(int(emu->FlashImage()[1024]), 0x13);
    }

    void faultsWaitForAnAnswerToApplyTo()
    {
        // Dropped and unanswered frames do not use up the one-shot faults.
        emu->DropAnswers(1);
        emu->NoiseBeforeAnswer("\xEE");
        emu->AnswerWithCode(cmd_Restart);
        std::string bad = cTestConnect;
        bad[5] = 0;
        QVERIFY(tool->Send(cTestConnect + bad + cFillScreen));
        QCOMPARE(HexOf(tool->Receive(17)), QString("EE 1B 02 10 00 4E F0 00 00 00 00 00 00 01 00 0D 0A"));
    }

    void sendRaw()
    {
        emu->SendRaw(std::string("\x01\x1B\x00\x0D\x0A", 5));
        QCOMPARE(HexOf(tool->Receive(5)), QString("01 1B 00 0D 0A"));
        QVERIFY(!tool->HasInput());
    }
};

QTEST_GUILESS_MAIN(TestEmulatorFaults)
#include "test_faults.moc"
