// What the emulated controller answers to each command, and what it keeps.
#include "EmulatorLine.h"

#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

// A frame of any code and payload, sealed.
std::string FrameWith(std::uint8_t code, const std::string& payload)
{
    TBytes f(cHeaderSize, '\0');
    f[0] = char(cBusStart);
    f[1] = char(code);
    f += payload;
    f += "\r\n";
    PutLE16(reinterpret_cast<std::uint8_t*>(f.data()) + cOffSize, std::uint16_t(f.size()));
    return Sealed(f);
}

// 256 bytes that hold start bytes and CR LF pairs, as real page data do.
std::string AwkwardPage()
{
    std::string data(256, '\0');
    for (int i = 0; i < 256; ++i)
        data[i] = char(i * 7 + 3);
    data.replace(0, 4, "\r\n\x1B\r");
    data.replace(100, 2, "\r\n");
    data.replace(254, 2, "\r\n");
    return data;
}

const std::string cTestConnectAnswer = Hex("1B 01 10 00 6B 13 00 00 00 00 00 00 01 00 0D 0A");
const std::string cVersionCmd = Hex("1B 0D 0A 00 4B 77 00 00 0D 0A");

} // namespace

class TestEmulatorAnswers : public QObject {
    Q_OBJECT

    // Unpaced: these tests are about what is answered, not when.
    static TEmulatorLine Open(TEmulator::Options o = {})
    {
        o.pace = false;
        return TEmulatorLine(o);
    }

private slots:
    void answersEveryCommand_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("speedAfter");
        auto cmd = [](std::uint8_t code) { return QByteArray::fromStdString(Sealed(BuildCommandFrame(code))); };
        auto raw = [](const std::string& s) { return QByteArray::fromStdString(s); };
        QTest::newRow("1 TestConnect") << cmd(1) << "1B 01 10 00 6B 13 00 00 00 00 00 00 01 00 0D 0A" << 9600;
        QTest::newRow("2 Restart") << cmd(2) << "1B 02 10 00 4E F0 00 00 00 00 00 00 01 00 0D 0A" << 9600;
        QTest::newRow("3 UpgreadeCPU") << cmd(3) << "1B 03 10 00 B2 5E 00 00 00 00 00 00 01 00 0D 0A" << 9600;
        QTest::newRow("4 FillScreen") << cmd(4) << "1B 04 10 00 25 26 00 00 00 00 00 00 01 00 0D 0A" << 9600;
        QTest::newRow("5 getJasnosc") << cmd(5) << "1B 05 10 00 D9 88 00 00 00 00 00 00 01 00 0D 0A" << 9600;
        QTest::newRow("6 setJasnosc 9") << raw(Sealed(BuildJasnoscFrame(9)))
                                        << "1B 06 10 00 6D F5 00 00 00 00 00 00 01 09 0D 0A" << 9600;
        QTest::newRow("7 putText") << raw(FrameWith(7, std::string(14, '\0') + "Ala ma kota\x0D\x0A!"))
                                   << "1B 07 10 00 00 C5 00 00 00 00 00 00 01 00 0D 0A" << 9600;
        QTest::newRow("8 putTextFrame") << raw(FrameWith(8, std::string(22, '\x01') + "okno"))
                                        << "1B 08 10 00 D2 9A 00 00 00 00 00 00 01 00 0D 0A" << 9600;
        QTest::newRow("9 Set9600") << cmd(9) << "1B 09 10 00 2E 34 00 00 00 00 00 00 01 00 0D 0A" << 9600;
        QTest::newRow("10 Set115200") << cmd(10) << "1B 0A 10 00 0B D7 00 00 00 00 00 00 01 00 0D 0A" << 115200;
        QTest::newRow("12 putLogo") << raw(FrameWith(12, std::string("\x05\x00", 2)))
                                    << "1B 0C 10 00 60 01 00 00 00 00 00 00 01 00 0D 0A" << 9600;
        // The version command's code and size bytes are 0D 0A: no early end.
        QTest::newRow("13 GetVersion") << raw(cVersionCmd)
                                       << "1B 0D 10 00 8F CC 00 00 66 00 00 00 01 02 0D 0A" << 9600;
    }
    void answersEveryCommand()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, answer);
        QFETCH(int, speedAfter);
        auto r = Open();
        QVERIFY(r.tool->Send(request.toStdString()));
        const std::string got = r.tool->Receive(16);
        QCOMPARE(HexOf(got), answer);
        QVERIFY(VerifyFrame(got));
        QVERIFY(r.emu->WaitForAnswers(1, 3000));
        QCOMPARE(r.emu->AnswersSent(), std::size_t(1));
        QCOMPARE(r.emu->Frames(), std::vector<std::string>{request.toStdString()});
        QCOMPARE(r.emu->FrameLog().at(0), StrToHex(request.toStdString()));
        QTRY_COMPARE_WITH_TIMEOUT(r.emu->Speed(), speedAfter, 3000);
        QVERIFY(!r.tool->HasInput());
    }

    void brightnessIsKept()
    {
        TEmulator::Options o;
        o.brightness = 4;
        auto r = Open(o);
        QCOMPARE(r.emu->Brightness(), std::uint8_t(4));
        QVERIFY(r.tool->Send(Sealed(BuildCommandFrame(cmd_getJasnosc))));
        QCOMPARE(HexOf(r.tool->Receive(16)), QString("1B 05 10 00 19 54 00 00 00 00 00 00 01 04 0D 0A"));

        QVERIFY(r.tool->Send(Sealed(BuildJasnoscFrame(9))));
        QCOMPARE(HexOf(r.tool->Receive(16)), QString("1B 06 10 00 6D F5 00 00 00 00 00 00 01 09 0D 0A"));
        QCOMPARE(r.emu->Brightness(), std::uint8_t(9));
        QVERIFY(r.tool->Send(Sealed(BuildCommandFrame(cmd_getJasnosc))));
        QCOMPARE(HexOf(r.tool->Receive(16)), QString("1B 05 10 00 48 16 00 00 00 00 00 00 01 09 0D 0A"));

        // A brightness command cut short carries no value: the old one stays.
        QVERIFY(r.tool->Send(Sealed(BuildCommandFrame(cmd_setJasnosc))));
        QCOMPARE(HexOf(r.tool->Receive(16)), QString("1B 06 10 00 6D F5 00 00 00 00 00 00 01 09 0D 0A"));

        r.emu->SetBrightness(0);
        QVERIFY(r.tool->Send(Sealed(BuildCommandFrame(cmd_getJasnosc))));
        QCOMPARE(HexOf(r.tool->Receive(16)), QString("1B 05 10 00 D9 88 00 00 00 00 00 00 01 00 0D 0A"));
    }

    void versionAsConfigured()
    {
        TEmulator::Options o;
        o.firmwareVersion = 1234;
        o.boardVersion = 3;
        auto r = Open(o);
        QVERIFY(r.tool->Send(cVersionCmd));
        QCOMPARE(HexOf(r.tool->Receive(16)), QString("1B 0D 10 00 49 8E 00 00 D2 04 00 00 01 03 0D 0A"));
        r.emu->SetVersion(305, 4);
        QVERIFY(r.tool->Send(cVersionCmd));
        QCOMPARE(HexOf(r.tool->Receive(16)), QString("1B 0D 10 00 32 CA 00 00 31 01 00 00 01 04 0D 0A"));
    }

    void pageIsStoredAndConfirmed()
    {
        auto r = Open();
        const std::string data = AwkwardPage();
        const std::string page = PageFrame(4096, data);
        QCOMPARE(page.size(), std::size_t(272));
        QVERIFY(r.tool->Send(page));
        QCOMPARE(HexOf(r.tool->Receive(16)), QString("1B 0B 10 00 8C 4E 00 00 00 10 00 00 01 00 0D 0A"));
        QCOMPARE(r.emu->Frames(), std::vector<std::string>{page});
        QCOMPARE(r.emu->PageAddresses(), std::vector<std::uint32_t>{4096});

        auto image = r.emu->FlashImage();
        QCOMPARE(image.size(), std::size_t(1048576));
        QCOMPARE(HexOf(std::string(image.begin() + 4096, image.begin() + 4352)), HexOf(data));
        QVERIFY(std::all_of(image.begin(), image.begin() + 4096, [](auto b) { return b == 0xFF; }));
        QVERIFY(std::all_of(image.begin() + 4352, image.end(), [](auto b) { return b == 0xFF; }));

        // The last page of the flash fits; one beyond it is refused (Response 2)
        // and leaves the image alone.
        const std::string last(256, '\x5A');
        QVERIFY(r.tool->Send(PageFrame(1048320, last)));
        QCOMPARE(HexOf(r.tool->Receive(16)), QString("1B 0B 10 00 85 19 00 00 00 FF 0F 00 01 00 0D 0A"));
        QVERIFY(r.tool->Send(PageFrame(0xFFFFFF00u, std::string(256, '\x11'))));
        QCOMPARE(HexOf(r.tool->Receive(16)), QString("1B 0B 10 00 4A 49 00 00 00 FF FF FF 02 00 0D 0A"));
        image = r.emu->FlashImage();
        QCOMPARE(HexOf(std::string(image.end() - 256, image.end())), HexOf(last));
        QCOMPARE(std::count(image.begin(), image.end(), 0x11), 0);
        QCOMPARE(r.emu->PageAddresses(), (std::vector<std::uint32_t>{4096, 1048320, 0xFFFFFF00u}));
    }

    void badFramesGetNoAnswer()
    {
        auto r = Open();
        std::string badSum = Sealed(BuildCommandFrame(cmd_TestConnect));
        badSum[4] = char(0x5C);
        const std::string unknown = Sealed(BuildCommandFrame(14));
        const std::string zero = Sealed(BuildCommandFrame(0));
        // A page frame that is not 272 bytes long is not programmed.
        const std::string shortPage = FrameWith(cmd_ProgramFlashPage, std::string(6 + 100, '\x22'));
        QVERIFY(r.tool->Send(badSum + unknown + zero + shortPage));
        QVERIFY(r.tool->Send(cVersionCmd));
        // Frames are handled in order, so the version answer coming first proves
        // that the others went unanswered.
        QCOMPARE(HexOf(r.tool->Receive(16)), QString("1B 0D 10 00 8F CC 00 00 66 00 00 00 01 02 0D 0A"));
        QVERIFY(r.emu->WaitForAnswers(1, 3000));
        QCOMPARE(r.emu->AnswersSent(), std::size_t(1));
        QCOMPARE(r.emu->Frames(), (std::vector<std::string>{badSum, unknown, zero, shortPage, cVersionCmd}));
        QCOMPARE(r.emu->FrameLog().at(0), std::string("1B 01 0A 00 5C C2 00 00 0D 0A "));
        QVERIFY(r.emu->PageAddresses().empty());
        QVERIFY(!r.tool->HasInput());
    }

    void framesFoundInTheStream()
    {
        auto r = Open();
        const std::string a = Sealed(BuildCommandFrame(cmd_TestConnect));
        const std::string b = Sealed(BuildCommandFrame(cmd_FillScreen));
        // Noise (with a CR LF) outside frames is skipped; a frame may come in
        // pieces; two frames in one write are two frames.
        QVERIFY(r.tool->Send(std::string("\x00\x55\r\n\xF0", 5) + a.substr(0, 3)));
        QVERIFY(r.tool->Send(a.substr(3, 6)));
        QVERIFY(r.tool->Send(a.substr(9) + b + a));
        const std::string got = r.tool->Receive(48);
        QCOMPARE(HexOf(got), HexOf(cTestConnectAnswer + Hex("1B 04 10 00 25 26 00 00 00 00 00 00 01 00 0D 0A") +
                               cTestConnectAnswer));
        QCOMPARE(r.emu->Frames(), (std::vector<std::string>{a, b, a}));

        // ClearLog forgets what was seen, not what the controller holds.
        QVERIFY(r.emu->WaitForAnswers(3, 3000));
        r.emu->SetBrightness(7);
        r.emu->ClearLog();
        QVERIFY(r.emu->Frames().empty());
        QCOMPARE(r.emu->AnswersSent(), std::size_t(0));
        QVERIFY(r.tool->Send(a));
        QCOMPARE(HexOf(r.tool->Receive(16)), QString("1B 01 10 00 FB 96 00 00 00 00 00 00 01 07 0D 0A"));
        QVERIFY(r.emu->WaitForAnswers(1, 3000));
        QCOMPARE(r.emu->Frames(), std::vector<std::string>{a});
    }
};

QTEST_GUILESS_MAIN(TestEmulatorAnswers)
#include "test_answers.moc"
