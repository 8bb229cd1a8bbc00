#include "protocol/frame.h"
#include "tests/common/Hex.h"

#include <QtTest>

class TestFrame : public QObject {
    Q_OBJECT
private slots:
    void crcTable()
    {
        QCOMPARE(cCRC[0], 0x0000);
        QCOMPARE(cCRC[1], 0x1021);
        QCOMPARE(cCRC[2], 0x2042);
        QCOMPARE(cCRC[3], 0x3063);
        QCOMPARE(cCRC[128], 0x9188);
        QCOMPARE(cCRC[255], 0x1EF0);
    }

    void crcValues()
    {
        QCOMPARE(GetCRC("123456789"), 0x31C3);
        QCOMPARE(GetCRC(""), 0);
        QCOMPARE(GetCRC(Hex("1B 01 0A 00 00 00 00 00 0D 0A")), 0xC25B);
        // Byte-wise register update agrees with a bit-wise CRC-16/XMODEM.
        for (int start : {0, 0x1234, 0xFFFF}) {
            for (int ch = 0; ch < 256; ++ch) {
                unsigned r = unsigned(start) ^ (unsigned(ch) << 8);
                for (int k = 0; k < 8; ++k)
                    r = (r & 0x8000) ? ((r << 1) ^ 0x1021) : (r << 1);
                QCOMPARE(NewCRC(std::uint16_t(start), std::uint8_t(ch)), std::uint16_t(r));
            }
        }
    }

    void strToHex()
    {
        QCOMPARE(StrToHex(""), std::string());
        QCOMPARE(StrToHex(Hex("1B 01 0A 00 5B C2 00 00 0D 0A")),
                 std::string("1B 01 0A 00 5B C2 00 00 0D 0A "));
        QCOMPARE(StrToHex(Hex("1B 01 0A 00 5B C2 00 00 0D 0A")).size(), size_t(30));
        QCOMPARE(StrToHex(std::string("\x00\x0f\xff\xa5", 4)), std::string("00 0F FF A5 "));
    }

    void sealedCommandFrames_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("sealed");
        QTest::newRow("TestConnect") << int(cmd_TestConnect) << QByteArray("1B 01 0A 00 5B C2 00 00 0D 0A");
        QTest::newRow("Restart") << int(cmd_Restart) << QByteArray("1B 02 0A 00 1F EF 00 00 0D 0A");
        QTest::newRow("UpgreadeCPU") << int(cmd_UpgreadeCPU) << QByteArray("1B 03 0A 00 3C 04 00 00 0D 0A");
        QTest::newRow("FillScreen") << int(cmd_FillScreen) << QByteArray("1B 04 0A 00 97 B5 00 00 0D 0A");
        QTest::newRow("getJasnosc") << int(cmd_getJasnosc) << QByteArray("1B 05 0A 00 B4 5E 00 00 0D 0A");
        QTest::newRow("Set9600") << int(cmd_Set9600) << QByteArray("1B 09 0A 00 A4 EB 00 00 0D 0A");
        QTest::newRow("Set115200") << int(cmd_Set115200) << QByteArray("1B 0A 0A 00 E0 C6 00 00 0D 0A");
        QTest::newRow("GetVersion") << int(cmd_GetVersion) << QByteArray("1B 0D 0A 00 4B 77 00 00 0D 0A");
    }
    void sealedCommandFrames()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, sealed);
        TBytes f = BuildCommandFrame(std::uint8_t(code));
        QCOMPARE(f.size(), cSendCommandSize);
        SealFrame(f);
        QCOMPARE(StrToHex(f), sealed.toStdString() + " ");
        QVERIFY(VerifyFrame(f));
    }

    void sealedBrightnessFrames()
    {
        TBytes f0 = BuildJasnoscFrame(0);
        QCOMPARE(f0.size(), cSendJasnoscSize);
        SealFrame(f0);
        QCOMPARE(f0, Hex("1B 06 0C 00 FB E8 00 00 00 00 0D 0A"));
        TBytes f15 = BuildJasnoscFrame(15);
        SealFrame(f15);
        QCOMPARE(f15, Hex("1B 06 0C 00 15 3C 00 00 0F 00 0D 0A"));
    }

    // Sealing ignores whatever the checksum field held before.
    void sealOverwritesOldChecksum()
    {
        TBytes f = Hex("1B 01 0A 00 77 66 00 00 0D 0A");
        SealFrame(f);
        QCOMPARE(f, Hex("1B 01 0A 00 5B C2 00 00 0D 0A"));
    }

    void verifyDetectsEverySingleByteChange()
    {
        TBytes good = BuildAnswerFrame(cmd_GetVersion, 1234, rec_ResponseOK, 7);
        QCOMPARE(good.size(), cAnswerSize);
        QVERIFY(VerifyFrame(good));
        for (size_t i = 0; i < good.size(); ++i) {
            if (i == cOffChSum || i == cOffChSum + 1)
                continue;
            for (int delta : {1, 0x80}) {
                TBytes bad = good;
                bad[i] = char(std::uint8_t(bad[i]) ^ delta);
                QVERIFY2(!VerifyFrame(bad), qPrintable(QString("byte %1").arg(i)));
            }
        }
        // A wrong checksum itself fails too.
        TBytes bad = good;
        bad[cOffChSum] = char(std::uint8_t(bad[cOffChSum]) ^ 1);
        QVERIFY(!VerifyFrame(bad));
    }

    void verifyShortFrames()
    {
        QVERIFY(!VerifyFrame(""));
        QVERIFY(!VerifyFrame(Hex("1B 0D 0A")));
        QVERIFY(!VerifyFrame(Hex("1B 01 00 00 0D")));
        // Six zero bytes have checksum 0 stored as 0: the smallest frame that verifies.
        QVERIFY(VerifyFrame(std::string(6, '\0')));
        TBytes tiny = Hex("1B 0D");
        SealFrame(tiny); // too short to hold a checksum: untouched
        QCOMPARE(tiny, Hex("1B 0D"));
    }

    void answerLayouts()
    {
        const TBytes v = BuildAnswerFrame(cmd_GetVersion, 102, rec_ResponseRepeat, 2);
        tGetVersion ver;
        std::memcpy(ver.raw.data(), v.data(), v.size());
        QCOMPARE(ver.Header().BusStart, cBusStart);
        QCOMPARE(ver.Header().Command, cmd_GetVersion);
        QCOMPARE(ver.Header().Size, 16);
        QCOMPARE(ver.Wersja(), 102u);
        QCOMPARE(ver.Response(), rec_ResponseRepeat);
        QCOMPARE(ver.WersjaPCB(), 2);
        QCOMPARE(std::uint8_t(v[14]), cCR);
        QCOMPARE(std::uint8_t(v[15]), cLF);
        // Little-endian on the wire, whatever the host.
        const TBytes big = BuildAnswerFrame(cmd_GetVersion, 0x01020304, 1, 0);
        QCOMPARE(big.substr(8, 4), Hex("04 03 02 01"));
        tHeader h;
        h.Command = 11;
        h.Size = 272;
        h.ChSum = 0xBEEF;
        std::uint8_t raw[8];
        h.Encode(raw);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(raw), 8).toHex(' '),
                 QByteArray("1b 0b 10 01 ef be 00 00"));
    }

    // 1B, 0D and 0A in the checksum or payload go out unchanged.
    void noEscaping()
    {
        TBytes f = BuildCommandFrame(cmd_GetVersion);
        SealFrame(f);
        QCOMPARE(f.size(), size_t(10));
        QCOMPARE(std::uint8_t(f[1]), 0x0D);
        TBytes j = BuildJasnoscFrame(0x1B);
        SealFrame(j);
        QCOMPARE(j.size(), size_t(12));
        QCOMPARE(std::uint8_t(j[8]), 0x1B);
    }
};

QTEST_APPLESS_MAIN(TestFrame)
#include "test_frame.moc"
