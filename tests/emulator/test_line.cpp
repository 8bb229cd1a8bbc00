// The line between tool and emulator: speeds, pacing, hang-ups, closing and
// reopening by the tool, and the emulator's own start and stop.
#include "EmulatorLine.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <memory>
#include <vector>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

const std::string cTestConnect = Hex("1B 01 0A 00 5B C2 00 00 0D 0A");
const std::string cUpgreadeCPU = Hex("1B 03 0A 00 3C 04 00 00 0D 0A");
const std::string cSet9600 = Hex("1B 09 0A 00 A4 EB 00 00 0D 0A");
const std::string cSet115200 = Hex("1B 0A 0A 00 E0 C6 00 00 0D 0A");
const QString cTestConnectAnswer = "1B 01 10 00 6B 13 00 00 00 00 00 00 01 00 0D 0A";

TEmulator::Options AnswerDelay(int ms)
{
    TEmulator::Options o;
    o.answerDelayMs = ms;
    return o;
}

} // namespace

class TestEmulatorLine : public QObject {
    Q_OBJECT

private slots:
    void slaveIsRawBeforeTheToolSetsItUp()
    {
        auto emu = Started();
        const int fd = ::open(emu->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        termios t{};
        QCOMPARE(::tcgetattr(fd, &t), 0);
        ::close(fd);
        QCOMPARE(t.c_lflag & (ECHO | ICANON | ISIG), tcflag_t(0));
        QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
        QCOMPARE(t.c_iflag & (ICRNL | INLCR | IXON), tcflag_t(0));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(::cfgetospeed(&t), speed_t(B9600));
        QCOMPARE(emu->Speed(), 9600);
        QCOMPARE(emu->ToolSpeed(), 9600);
    }

    void speedSwitching()
    {
        auto emu = Started();
        TPty tool(emu->SlavePath());
        QVERIFY(tool.Ok());

        // 115200: answered at 9600, then the controller moves.
        QVERIFY(tool.Send(cSet115200));
        QCOMPARE(HexOf(tool.Receive(16)), QString("1B 0A 10 00 0B D7 00 00 00 00 00 00 01 00 0D 0A"));
        QTRY_COMPARE_WITH_TIMEOUT(emu->Speed(), 115200, 3000);

        // A tool left at 9600 is not understood.
        QVERIFY(tool.Send(cTestConnect));
        QTRY_COMPARE_WITH_TIMEOUT(emu->GarbageBytes(), std::size_t(10), 3000);
        QCOMPARE(emu->Frames().size(), std::size_t(1));

        QVERIFY(tool.SetSpeed(115200));
        QCOMPARE(emu->ToolSpeed(), 115200);
        QVERIFY(tool.Send(cTestConnect));
        QCOMPARE(HexOf(tool.Receive(16)), cTestConnectAnswer);
        QVERIFY(emu->WaitForAnswers(2, 3000));
        QCOMPARE(emu->AnswersSent(), std::size_t(2));

        // Back with 9: the answer still comes at 115200.
        QVERIFY(tool.Send(cSet9600));
        QCOMPARE(HexOf(tool.Receive(16)), QString("1B 09 10 00 2E 34 00 00 00 00 00 00 01 00 0D 0A"));
        QTRY_COMPARE_WITH_TIMEOUT(emu->Speed(), 9600, 3000);
        QVERIFY(tool.SetSpeed(9600));
        QVERIFY(tool.Send(cTestConnect));
        QCOMPARE(HexOf(tool.Receive(16)), cTestConnectAnswer);

        // Programming the CPU ends at 9600 whatever the speed was.
        QVERIFY(tool.Send(cSet115200));
        QCOMPARE(tool.Receive(16).size(), std::size_t(16));
        QTRY_COMPARE_WITH_TIMEOUT(emu->Speed(), 115200, 3000);
        QVERIFY(tool.SetSpeed(115200));
        QVERIFY(tool.Send(cUpgreadeCPU));
        QCOMPARE(HexOf(tool.Receive(16)), QString("1B 03 10 00 B2 5E 00 00 00 00 00 00 01 00 0D 0A"));
        QTRY_COMPARE_WITH_TIMEOUT(emu->Speed(), 9600, 3000);
        QVERIFY(tool.SetSpeed(9600));
        QVERIFY(tool.Send(cTestConnect));
        QCOMPARE(HexOf(tool.Receive(16)), cTestConnectAnswer);
        QCOMPARE(emu->GarbageBytes(), std::size_t(10));
        QCOMPARE(emu->GarbledAnswers(), std::size_t(0));
    }

    void answerAtAnotherSpeedIsGarbage()
    {
        auto emu = Started(AnswerDelay(1500));
        TPty tool(emu->SlavePath());
        QVERIFY(tool.Send(cTestConnect));
        QVERIFY(emu->WaitForFrames(1, 3000));
        // The tool moves away while the controller is still thinking.
        QVERIFY(tool.SetSpeed(115200));
        const std::string got = tool.Receive(16, 5000);
        QCOMPARE(got.size(), std::size_t(16));
        QVERIFY(got.find('\x1B') == std::string::npos);
        QVERIFY(got.find("\r\n") == std::string::npos);
        QVERIFY(emu->WaitForAnswers(1, 3000));
        QCOMPARE(emu->GarbledAnswers(), std::size_t(1));

        // Unsolicited bytes are sent at the emulator's speed too.
        emu->SendRaw("\x1B\x01\r\n");
        const std::string raw = tool.Receive(4);
        QCOMPARE(raw.size(), std::size_t(4));
        QVERIFY(raw != "\x1B\x01\r\n");
    }

    void pacing()
    {
        // Lower bounds only: 16 bytes of 10 bits at 9600 bit/s take 16.7 ms.
        auto emu = Started();
        TPty tool(emu->SlavePath());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(tool.Send(cTestConnect));
        QCOMPARE(HexOf(tool.Receive(16)), cTestConnectAnswer);
        QVERIFY2(timer.elapsed() >= 16, qPrintable(QString::number(timer.elapsed())));

        emu->SetAnswerDelayMs(120);
        timer.restart();
        QVERIFY(tool.Send(cTestConnect));
        QCOMPARE(HexOf(tool.Receive(16)), cTestConnectAnswer);
        QVERIFY2(timer.elapsed() >= 136, qPrintable(QString::number(timer.elapsed())));
    }

    void unplugHangsUpTheTool()
    {
        auto emu = Started();
        TPty tool(emu->SlavePath());
        QVERIFY(tool.Send(cTestConnect));
        QCOMPARE(HexOf(tool.Receive(16)), cTestConnectAnswer);
        emu->Unplug();
        pollfd p{tool.Fd(), POLLIN, 0};
        QCOMPARE(::poll(&p, 1, 3000), 1);
        QVERIFY(p.revents & POLLHUP);
        char c;
        QVERIFY(::read(tool.Fd(), &c, 1) <= 0);
        emu->Stop();
        emu->Stop();
    }

    void pulledNameLeadsNowhere_data()
    {
        QTest::addColumn<bool>("toolHolds");
        QTest::newRow("the tool holding the line") << true;
        QTest::newRow("nobody holding it") << false;
    }
    // Pseudo-terminals made meanwhile (by this or any process) never take
    // the pulled name, so a tool reopening it finds nothing, not another line.
    void pulledNameLeadsNowhere()
    {
        QFETCH(bool, toolHolds);
        auto emu = Started();
        const std::string name = emu->SlavePath();
        auto tool = toolHolds ? std::make_unique<TPty>(name) : nullptr;
        emu->Unplug();
        tool.reset();
        std::vector<std::unique_ptr<TPty>> others;
        for (int i = 0; i < 4; ++i) {
            others.push_back(std::make_unique<TPty>());
            QVERIFY(others.back()->Ok());
            QVERIFY(others.back()->SlavePath() != name);
        }
        QCOMPARE(::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC), -1);
        QCOMPARE(errno, ENOENT);
        // Plugged in again: a line of its own, and the old number free.
        emu->Stop();
        QVERIFY(emu->Start());
        QVERIFY(emu->SlavePath() != name);
        TPty again(emu->SlavePath());
        QVERIFY(again.Send(cTestConnect));
        QCOMPARE(HexOf(again.Receive(16)), cTestConnectAnswer);
    }

    void toolClosesAndReopens()
    {
        auto emu = Started();
        {
            TPty tool(emu->SlavePath());
            QVERIFY(tool.Send(cSet115200));
            QCOMPARE(tool.Receive(16).size(), std::size_t(16));
        }
        // Nobody has the slave open now; the emulator waits for the next open.
        QTRY_COMPARE_WITH_TIMEOUT(emu->Speed(), 115200, 3000);
        for (int round = 0; round < 3; ++round) {
            TPty tool(emu->SlavePath());
            QVERIFY(tool.Ok());
            QVERIFY(tool.SetSpeed(115200));
            QVERIFY(tool.Send(cTestConnect));
            QCOMPARE(HexOf(tool.Receive(16)), cTestConnectAnswer);
        }
        QCOMPARE(emu->Frames().size(), std::size_t(4));
        QCOMPARE(emu->GarbageBytes(), std::size_t(0));
    }

    void answerToAClosedLineIsLost()
    {
        // The tool writes and closes at once; the frame is still read, but its
        // answer is lost, as on a line whose far end is closed, and does not
        // wait in the pty for the next open.
        auto emu = Started();
        {
            TPty tool(emu->SlavePath());
            QVERIFY(tool.Send(cTestConnect));
        }
        QVERIFY(emu->WaitForFrames(1, 3000));
        QCOMPARE(emu->Frames().at(0), cTestConnect);
        QTRY_COMPARE_WITH_TIMEOUT(emu->AnswersLost(), std::size_t(1), 3000);
        QCOMPARE(emu->AnswersSent(), std::size_t(0));
        TPty tool(emu->SlavePath());
        QVERIFY(tool.Send(cUpgreadeCPU));
        QCOMPARE(HexOf(tool.Receive(16)), QString("1B 03 10 00 B2 5E 00 00 00 00 00 00 01 00 0D 0A"));
    }

    void stopIsPromptAndIdempotent()
    {
        auto emu = Started(AnswerDelay(60000));
        TPty tool(emu->SlavePath());
        QVERIFY(tool.Send(cTestConnect));
        QVERIFY(emu->WaitForFrames(1, 3000));
        QElapsedTimer timer;
        timer.start();
        emu->Stop();
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(emu->AnswersSent(), std::size_t(0));
        emu->Stop();
        QVERIFY(!emu->WaitForFrames(2, 10));
        auto idle = Started();
        idle.reset(); // destructor stops a worker that never saw a tool
    }

    void symlinkFollowsTheRun()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        TEmulator::Options o;
        o.symlink = dir.filePath("ttyQV").toStdString();
        auto emu = Started(o);
        char target[256] = {};
        QVERIFY(::readlink(o.symlink.c_str(), target, sizeof target - 1) > 0);
        QCOMPARE(std::string(target), emu->SlavePath());
        {
            TPty tool(o.symlink);
            QVERIFY(tool.Send(cTestConnect));
            QCOMPARE(HexOf(tool.Receive(16)), cTestConnectAnswer);
        }
        emu->Stop();
        struct stat st {};
        QCOMPARE(::lstat(o.symlink.c_str(), &st), -1);

        // A second start on the same object is refused, with a reason.
        std::string error;
        TEmulator twice;
        QVERIFY(twice.Start(&error));
        QVERIFY(!twice.Start(&error));
        QVERIFY(!error.empty());
    }

    void symlinkThatCannotBeMade()
    {
        TEmulator::Options o;
        o.symlink = "/nonexistent-dir/ttyQV";
        TEmulator emu(o);
        std::string error;
        QVERIFY(!emu.Start(&error));
        QVERIFY2(error.find("/nonexistent-dir/ttyQV") != std::string::npos, error.c_str());
    }
};

QTEST_GUILESS_MAIN(TestEmulatorLine)
#include "test_line.moc"
