#include "protocol/receiver.h"
#include "tests/common/Hex.h"

#include <QtTest>

#include <optional>
#include <random>
#include <vector>

namespace {
struct Host : IReceiverHost {
    std::vector<std::string> log;
    std::vector<int> calls;
    int pauses = 0;
    void LogLine(const std::string& line) override { log.push_back(line); }
    void PauseMs(int ms) override
    {
        QCOMPARE(ms, 50);
        ++pauses;
    }
    void fcmd_TestConnect() override { calls.push_back(1); }
    void fcmd_Restart() override { calls.push_back(2); }
    void fcmd_UpgreadeCPU() override { calls.push_back(3); }
    void fcmd_FillScreen() override { calls.push_back(4); }
    void fcmd_getJasnosc() override { calls.push_back(5); }
    void fcmd_setJasnosc() override { calls.push_back(6); }
    void fcmd_putText() override { calls.push_back(7); }
    void fcmd_putTextFrame() override { calls.push_back(8); }
    void fcmd_Set9600() override { calls.push_back(9); }
    void fcmd_Set115200() override { calls.push_back(10); }
    void fcmd_ProgramFlashPage() override { calls.push_back(11); }
    void fcmd_putLogo() override { calls.push_back(12); }
    void fcmd_GetVersion() override { calls.push_back(13); }
};

std::string LineFor(const TBytes& frame, std::size_t size)
{
    return StrToHex(frame) + " Wielkość: " + std::to_string(size);
}

// A good answer whose checksum bytes are CR LF.
TBytes AnswerWithCrLfChecksum()
{
    for (std::uint32_t v = 0; v < 1000000; ++v) {
        TBytes f = BuildAnswerFrame(cmd_TestConnect, v, rec_ResponseOK, 0);
        if (std::uint8_t(f[4]) == cCR && std::uint8_t(f[5]) == cLF)
            return f;
    }
    return {};
}
} // namespace

class TestReceiver : public QObject {
    Q_OBJECT
    Host h;                          // what the receiver reports
    std::optional<TFrameReceiver> r; // a fresh one for each test

private slots:
    void init()
    {
        h = Host();
        r.emplace(h);
    }
    void answerInOneChunk()
    {
        const TBytes a = BuildAnswerFrame(cmd_TestConnect, 0, rec_ResponseOK, 0);
        r->ProcessChunk(a);
        QCOMPARE(h.log.size(), size_t(1));
        QCOMPARE(h.log[0], LineFor(a, 16));
        QVERIFY(h.log[0].ends_with("0D 0A  Wielkość: 16"));
        QCOMPARE(h.calls, std::vector<int>{1});
        QCOMPARE(h.pauses, 1);
        QCOMPARE(r->myComSize, 16);
        QCOMPARE(TBytes(reinterpret_cast<char*>(r->myCom), 16), a);
        QCOMPARE(r->srs232, a);
        // Everything is back to zero for the next frame.
        QCOMPARE(r->RS232.pos, 0);
        QVERIFY(!r->RS232.pos_start_bool && !r->RS232.pos_CRLF_bool);
    }

    void answerOverAnyChunking_data()
    {
        QTest::addColumn<QList<int>>("cuts");
        QTest::newRow("byte by byte") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
        QTest::newRow("between CR and LF") << QList<int>{15};
        QTest::newRow("start alone") << QList<int>{1};
        QTest::newRow("three parts") << QList<int>{5, 11};
        QTest::newRow("header and rest") << QList<int>{8};
    }
    void answerOverAnyChunking()
    {
        QFETCH(QList<int>, cuts);
        const TBytes a = BuildAnswerFrame(cmd_getJasnosc, 0, rec_ResponseOK, 9);
        int from = 0;
        cuts.append(int(a.size()));
        for (int cut : cuts) {
            r->ProcessChunk(std::string_view(a).substr(from, cut - from));
            from = cut;
        }
        QCOMPARE(h.log, std::vector<std::string>{LineFor(a, 16)});
        QCOMPARE(h.calls, std::vector<int>{5});
        QCOMPARE(h.pauses, 1);
    }

    void emptyChunkDoesNothing()
    {
        r->ProcessChunk("");
        QVERIFY(h.log.empty());
        QCOMPARE(r->RS232.pos, 0);
    }

    void noiseBeforeAnswer()
    {
        const TBytes noise = Hex("00 FF 0D 0A 0D 0A 55");
        const TBytes a = BuildAnswerFrame(cmd_Restart, 0, rec_ResponseWrong, 0);
        r->ProcessChunk(noise);
        QVERIFY(h.log.empty());
        QCOMPARE(r->RS232.pos, int(noise.size()));
        r->ProcessChunk(a);
        QCOMPARE(h.log, std::vector<std::string>{LineFor(a, 16)});
        QCOMPARE(h.calls, std::vector<int>{2});
        // The same with the noise in the answer's chunk.
        r->ProcessChunk(noise + a);
        QCOMPARE(h.calls, (std::vector<int>{2, 2}));
        QCOMPARE(h.log.back(), LineFor(a, 16));
    }

    void twoAnswersInOneChunkAreOneBadFrame()
    {
        const TBytes a = BuildAnswerFrame(cmd_TestConnect, 0, 1, 0);
        const TBytes b = BuildAnswerFrame(cmd_FillScreen, 0, 1, 0);
        r->ProcessChunk(a + b);
        QCOMPARE(h.log, std::vector<std::string>{LineFor(a + b, 32)});
        QVERIFY(h.calls.empty());
    }

    void answerFollowedByStartOfAnother()
    {
        const TBytes a = BuildAnswerFrame(cmd_TestConnect, 0, 1, 0);
        const TBytes b = BuildAnswerFrame(cmd_Restart, 0, 1, 0);
        r->ProcessChunk(a + b.substr(0, 6));
        QCOMPARE(h.calls, std::vector<int>{1});
        // The rest comes without its start byte: noise, nothing logged.
        r->ProcessChunk(b.substr(6));
        QCOMPARE(h.log.size(), size_t(1));
        QCOMPARE(h.calls, std::vector<int>{1});
        // The next answer is found as usual.
        r->ProcessChunk(b);
        QCOMPARE(h.calls, (std::vector<int>{1, 2}));
    }

    void restOfAnotherWithStartByteMakesBadFrame()
    {
        const TBytes a = BuildAnswerFrame(cmd_TestConnect, 0, 1, 0);
        // Second answer carries a 27 in its payload.
        const TBytes b = BuildAnswerFrame(cmd_Restart, 0x1B, 1, 0);
        QCOMPARE(std::uint8_t(b[8]), cBusStart);
        r->ProcessChunk(a + b.substr(0, 4));
        r->ProcessChunk(b.substr(4));
        QCOMPARE(h.log.size(), size_t(2));
        const TBytes rest = b.substr(4);
        const TBytes expected = rest.substr(rest.find(char(cBusStart)));
        QCOMPARE(h.log[1], LineFor(expected, expected.size()));
        QCOMPARE(h.calls, std::vector<int>{1});
    }

    void crLfInsideTheChecksum()
    {
        const TBytes a = AnswerWithCrLfChecksum();
        QVERIFY(!a.empty());
        {
            // Whole frame in one chunk: the last CR LF wins.
            Host h;
            TFrameReceiver r(h);
            r.ProcessChunk(a);
            QCOMPARE(h.log, std::vector<std::string>{LineFor(a, 16)});
            QCOMPARE(h.calls, std::vector<int>{1});
        }
        {
            // Chunk ends right after the early CR LF: a 6-byte frame, dropped.
            Host h;
            TFrameReceiver r(h);
            r.ProcessChunk(a.substr(0, 6));
            QCOMPARE(h.log, std::vector<std::string>{LineFor(a.substr(0, 6), 6)});
            r.ProcessChunk(a.substr(6));
            QCOMPARE(h.log.size(), size_t(1));
            QVERIFY(h.calls.empty());
        }
    }

    void badChecksumAndUnknownCodes()
    {
        TBytes bad = BuildAnswerFrame(cmd_TestConnect, 0, 1, 0);
        bad[12] = 2; // Response changed after sealing
        r->ProcessChunk(bad);
        QCOMPARE(h.log, std::vector<std::string>{LineFor(bad, 16)});
        for (std::uint8_t code : {std::uint8_t(0), std::uint8_t(14), std::uint8_t(255)}) {
            const TBytes f = BuildAnswerFrame(code, 0, 1, 0);
            r->ProcessChunk(f);
            QCOMPARE(h.log.back(), LineFor(f, 16));
        }
        QCOMPARE(h.log.size(), size_t(4));
        QVERIFY(h.calls.empty());
        // Every known code reaches its own handler.
        for (int code = 1; code <= 13; ++code)
            r->ProcessChunk(BuildAnswerFrame(std::uint8_t(code), 0, 1, 0));
        QCOMPARE(h.calls, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
    }

    // Only the first 27 starts a frame; later ones are data.
    void secondStartByteIsData()
    {
        const TBytes a = BuildAnswerFrame(cmd_TestConnect, 0, 1, 0);
        r->ProcessChunk(Hex("1B 1B"));
        r->ProcessChunk(a.substr(1));
        QCOMPARE(h.pauses, 1);
        QCOMPARE(h.log, std::vector<std::string>{LineFor("\x1B" + a, 17)});
        QVERIFY(h.calls.empty());
    }

    void wrappedRingAfterLongNoise()
    {
        std::string noise;
        for (int i = 0; i < 1500; ++i)
            noise.push_back(char(i % 26 == 0 ? 0x0D : 0x40 + i % 26));
        r->ProcessChunk(noise);
        QCOMPARE(r->RS232.pos, 1500);
        const TBytes a = BuildAnswerFrame(cmd_GetVersion, 102, 1, 2);
        // Split so that the frame straddles the ring's end (1500 + 16 > 2048 is
        // not needed: 1500 % 1024 = 476, so split near the wrap of 2048 too).
        r->ProcessChunk(noise.substr(0, 2048 - 1500 - 5));
        r->ProcessChunk(a.substr(0, 9));
        r->ProcessChunk(a.substr(9));
        QCOMPARE(h.log, std::vector<std::string>{LineFor(a, 16)});
        QCOMPARE(h.calls, std::vector<int>{13});
        QCOMPARE(TBytes(reinterpret_cast<char*>(r->myCom), 16), a);
    }

    void shortFramesAreDropped()
    {
        const TBytes good = BuildAnswerFrame(cmd_TestConnect, 0, 1, 0);
        r->ProcessChunk(good);
        QCOMPARE(h.calls, std::vector<int>{1});
        for (const char* s : {"1B 0D 0A", "1B 01 0D 0A", "1B 01 10 00 0D 0A"}) {
            const TBytes f = Hex(s);
            r->ProcessChunk(f);
            QCOMPARE(h.log.back(), LineFor(f, f.size()));
            QCOMPARE(r->myComSize, int(f.size()));
        }
        QCOMPARE(h.log.size(), size_t(4));
        QCOMPARE(h.calls, std::vector<int>{1});
    }

    void overLongFrameIsLoggedByItsTailAndDropped()
    {
        const TBytes good = BuildAnswerFrame(cmd_TestConnect, 0, 1, 0);
        r->ProcessChunk(good);
        std::string body;
        for (int i = 0; i < 1500; ++i)
            body.push_back(char(0x20 + i % 90));
        const TBytes frame = "\x1B" + body + "\r\n";
        r->ProcessChunk(frame.substr(0, 700));
        r->ProcessChunk(frame.substr(700));
        QCOMPARE(h.log.size(), size_t(2));
        QCOMPARE(h.log[1], LineFor(frame.substr(frame.size() - 1024), frame.size()));
        QCOMPARE(h.calls, std::vector<int>{1});
        // The last good frame is kept.
        QCOMPARE(r->myComSize, 16);
        QCOMPARE(TBytes(reinterpret_cast<char*>(r->myCom), 16), good);
        // And the receiver is ready for the next one.
        r->ProcessChunk(good);
        QCOMPARE(h.calls, (std::vector<int>{1, 1}));
    }

    // Bytes after the end in the same chunk still go into the ring and may
    // overwrite the frame's first bytes: the log shows only bytes of the
    // frame, and a frame whose start is gone is dropped like an over-long one.
    void bytesAfterTheEndNeverPassForTheFrame()
    {
        const TBytes good = BuildAnswerFrame(cmd_TestConnect, 0, 1, 0);
        r->ProcessChunk(good);

        std::string body;
        for (int i = 0; i < 1100; ++i)
            body.push_back(char(0x20 + i % 90));
        const TBytes longFrame = "\x1B" + body + "\r\n";
        const std::string after(10, '\x7E');
        r->ProcessChunk(longFrame + after);
        QCOMPARE(h.log.size(), size_t(2));
        // 1024 bytes are left in the ring; the last 10 of them came after the LF.
        QCOMPARE(h.log[1], LineFor(longFrame.substr(longFrame.size() - 1014), longFrame.size()));

        // A good answer followed in its chunk by more than a ring of bytes:
        // its own bytes are overwritten and must not be taken for it.
        const TBytes restart = BuildAnswerFrame(cmd_Restart, 0, 1, 0);
        const std::string flood(1020, '\x7E');
        r->ProcessChunk(restart + flood);
        QCOMPARE(h.log.size(), size_t(3));
        QCOMPARE(h.log[2], LineFor(restart.substr(12), 16));
        QCOMPARE(h.calls, std::vector<int>{1});
        QCOMPARE(r->myComSize, 16);
        QCOMPARE(TBytes(reinterpret_cast<char*>(r->myCom), 16), good);

        // Up to a ring's worth in total the frame is intact and handled.
        r->ProcessChunk(restart + std::string(1024 - 16, '\x7E'));
        QCOMPARE(h.log.back(), LineFor(restart, 16));
        QCOMPARE(h.calls, (std::vector<int>{1, 2}));
    }

    // Exactly 1024 bytes still fits the ring.
    void frameOfRingSizeFits()
    {
        TBytes f(1024, 'x');
        f[0] = char(cBusStart);
        f[1] = char(cmd_putText);
        PutLE16(reinterpret_cast<std::uint8_t*>(f.data()) + 2, 1024);
        f[4] = f[5] = 0;
        f[1022] = char(cCR);
        f[1023] = char(cLF);
        SealFrame(f);
        r->ProcessChunk(std::string(300, 'n'));
        r->ProcessChunk(f);
        QCOMPARE(h.calls, std::vector<int>{7});
        QCOMPARE(r->myComSize, 1024);
    }

    // Counts folded back before they could overflow; bytes stay in place.
    void positionsNeverOverflow()
    {
        r->RS232.pos = (1 << 30) - 5;
        const TBytes a = BuildAnswerFrame(cmd_Restart, 0, 1, 0);
        r->ProcessChunk(a);
        QCOMPARE(h.calls, std::vector<int>{2});
        QCOMPARE(h.log, std::vector<std::string>{LineFor(a, 16)});

        // A frame that started long ago stays over-long across the fold.
        r->RS232.pos = (1 << 30) - 5000;
        r->ProcessChunk("\x1B" + std::string(6000, 'z') + "\r\n");
        QCOMPARE(h.log.size(), size_t(2));
        QVERIFY(!h.log[1].ends_with("Wielkość: 16"));
        QCOMPARE(h.log[1].substr(0, 3), std::string("7A "));
        QCOMPARE(h.calls, std::vector<int>{2});
        QVERIFY(r->RS232.pos >= 0);

        // A frame completed before the fold keeps its length when the rest of
        // its chunk carries the count across: close to the fold it is
        // handled, further back its bytes are overwritten and it is dropped.
        r->RS232.pos = (1 << 30) - 100;
        r->ProcessChunk(a + std::string(200, 'z'));
        QCOMPARE(h.log.size(), size_t(3));
        QCOMPARE(h.log[2], LineFor(a, 16));
        QCOMPARE(h.calls, (std::vector<int>{2, 2}));
        r->RS232.pos = (1 << 30) - 5000;
        r->ProcessChunk(a + std::string(5000, 'z'));
        QCOMPARE(h.log.size(), size_t(4));
        QCOMPARE(h.log[3], LineFor("", 16));
        QCOMPARE(r->myComSize, 16);
        QCOMPARE(h.calls, (std::vector<int>{2, 2}));
    }

    // Random bytes in random chunks: never outside the buffers (checked by the
    // sanitizer build), every line well formed, every handler call backed by
    // a frame that verifies.
    void randomStreams()
    {
        std::mt19937 rng(12345);
        struct CheckingHost : Host {
            TFrameReceiver* r = nullptr;
            void fcmd_TestConnect() override
            {
                QVERIFY(VerifyFrame(TBytes(reinterpret_cast<char*>(r->myCom), size_t(r->myComSize))));
                Host::fcmd_TestConnect();
            }
        } h;
        TFrameReceiver r(h);
        h.r = &r;
        const TBytes a = BuildAnswerFrame(cmd_TestConnect, 0, 1, 0);
        std::size_t expected = 0;
        for (int round = 0; round < 3000; ++round) {
            std::string chunk;
            const int n = int(rng() % 64);
            for (int i = 0; i < n; ++i) {
                const unsigned pick = rng() % 16;
                chunk.push_back(char(pick == 0 ? 0x1B : pick == 1 ? 0x0D : pick == 2 ? 0x0A : rng()));
            }
            r.ProcessChunk(chunk);
            if (round % 10 == 0 && !r.RS232.pos_start_bool) {
                r.ProcessChunk(a);
                ++expected;
            }
            QVERIFY(r.myComSize >= 0 && r.myComSize <= 1024);
        }
        for (const auto& line : h.log)
            QVERIFY(line.size() <= 1024 * 3 + 20);
        QVERIFY(h.calls.size() >= expected);
    }
};

QTEST_APPLESS_MAIN(TestReceiver)
#include "test_receiver.moc"
