// The serial port over real pseudo-terminal pairs: open and close, failures
// and the state they leave, exclusive use, line settings as the kernel holds
// them, setters, reads and bounded writes.
#include "tests/common/Pty.h"
#include "TestSupport.h"
#include "serial/CPort.h"

#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace pty_bits;

namespace {

std::string AllByteValues()
{
    std::string s;
    for (int i = 0; i < 256; ++i)
        s.push_back(char(i));
    return s;
}

// Reads from the port (no event thread) until `count` bytes came or time is up.
std::string ReadFromPort(TComPort& port, std::size_t count, int timeoutMs)
{
    std::string all;
    WaitBlocked(
        [&] {
            std::string s;
            port.ReadStr(s, 1024);
            all += s;
            return all.size() >= count;
        },
        timeoutMs);
    return all;
}

} // namespace

// Each test has a fresh pseudo-terminal and a closed port set to its slave.
class TestPort : public TPortOnPtyTest {
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(NewPortOnPty());
    }
    void cleanup()
    {
        ReleasePortOnPty();
    }

    void openAndCloseTwiceChangeNothing()
    {
        QVERIFY(!port->Connected());
        port->Close(); // closed: nothing
        QVERIFY(!port->Connected());

        port->Open();
        QVERIFY(port->Connected());
        QVERIFY(port->ThreadCreated());
        QCOMPARE(EventThreadCountSettled(1), 1);
        port->Open(); // open: nothing, above all no second thread
        QVERIFY(port->Connected());
        QCOMPARE(EventThreadCountSettled(1), 1);

        port->Close();
        QVERIFY(!port->Connected());
        QVERIFY(!port->ThreadCreated());
        QCOMPARE(EventThreadCountSettled(0), 0);
        port->Close();
        QVERIFY(!port->Connected());

        port->SetConnected(true);
        QVERIFY(port->Connected());
        port->SetConnected(false);
        QVERIFY(!port->Connected());
        QCOMPARE(EventThreadCountSettled(0), 0);
    }

    void missingPortIsReportedByTheChosenName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::newRow("path") << "/dev/nonexistent" << "COM Port Error: Unable to open com port on /dev/nonexistent";
        QTest::newRow("COMn") << "COM77" << "COM Port Error: Unable to open com port on COM77";
        QTest::newRow("bare name") << "ttyQV-none" << "COM Port Error: Unable to open com port on ttyQV-none";
    }

    void missingPortIsReportedByTheChosenName()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        port->SetPort(name.toStdString());
        const auto e = Raised([&] { port->Open(); });
        QVERIFY(e.has_value());
        QCOMPARE(QString::fromStdString(e->what()), message);
        QCOMPARE(e->Code, CError_OpenFailed);
        QCOMPARE(e->WinCode, ENOENT);
        QVERIFY(!port->Connected());
        QVERIFY(!port->ThreadCreated());
        QCOMPARE(EventThreadCountSettled(0), 0);
        QCOMPARE(QString::fromStdString(port->Port()), name);
    }

    void notATerminalIsRefused()
    {
        QTemporaryDir dir;
        const std::string file = dir.filePath("plain").toStdString();
        {
            std::ofstream f(file);
            f << "untouched";
        }
        for (const std::string& name : {std::string("/dev/null"), file}) {
            TComPort port(nullptr);
            port.SetPort(name);
            const auto e = Raised([&] { port.Open(); });
            QVERIFY2(e.has_value(), name.c_str());
            QCOMPARE(e->Code, CError_OpenFailed);
            QCOMPARE(e->WinCode, ENOTTY);
            QVERIFY(!port.Connected());
        }
        std::ifstream f(file);
        std::string content;
        std::getline(f, content);
        QCOMPARE(content, std::string("untouched"));
    }

    void portOpenElsewhereIsRefused()
    {
        TComPort first(nullptr), second(nullptr);
        first.SetEvents({});
        first.SetPort(peer->SlavePath());
        second.SetPort(peer->SlavePath());
        first.Open();

        const auto e = Raised([&] { second.Open(); });
        QVERIFY(e.has_value());
        QCOMPARE(e->Code, CError_OpenFailed);
        // As root TIOCEXCL is bypassed and the lock refuses (EWOULDBLOCK); as a
        // plain user the open itself is refused (EBUSY).
        QVERIFY2(e->WinCode == (geteuid() == 0 ? EWOULDBLOCK : EBUSY), qPrintable(QString::number(e->WinCode)));
        QCOMPARE(std::string(e->what()), "COM Port Error: Unable to open com port on " + peer->SlavePath());
        QVERIFY(!second.Connected());
        QVERIFY(!second.ThreadCreated());

        // The refused attempt did not disturb the holder.
        QVERIFY(first.Connected());
        QCOMPARE(first.WriteStr("ok"), 2);
        QCOMPARE(peer->Receive(2, 2000), std::string("ok"));

        // A plain open of the device by another program is refused as well.
        const int fd = ::open(peer->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) { // root passes TIOCEXCL; then the lock must hold
            QCOMPARE(flock(fd, LOCK_EX | LOCK_NB), -1);
            ::close(fd);
        }

        first.Close();
        second.Open(); // released by Close
        QVERIFY(second.Connected());
    }

    void lineIsRawEightNoneOne()
    {
        // Configured as the main window configures its port->
        port->SetBaudRate(br9600);
        port->SetEventChar(char(255));
        port->SetEvents({evRxChar});
        port->Buffer().SetInputSize(512);
        port->Buffer().SetOutputSize(512);
        port->Open();

        TPty::TLine l;
        QVERIFY(peer->Line(l));
        QCOMPARE(l.ospeed, 9600u);
        QCOMPARE(l.ispeed, 9600u);
        QCOMPARE(l.cflag & CSIZE_, CS8_);
        QCOMPARE(l.cflag & (PARENB_ | PARODD_ | CMSPAR_ | CSTOPB_ | CRTSCTS_), 0u);
        QCOMPARE(l.cflag & (CLOCAL_ | CREAD_), CLOCAL_ | CREAD_);
        QCOMPARE(l.iflag & (IXON_ | IXOFF_ | ICRNL_ | INLCR_ | IGNCR_ | ISTRIP_ | INPCK_ | PARMRK_ | BRKINT_), 0u);
        QCOMPARE(l.oflag & OPOST_, 0u);
        QCOMPARE(l.lflag & (ICANON_ | ECHO_ | ISIG_ | IEXTEN_), 0u);
        QCOMPARE(int(l.vmin), 1);
        QCOMPARE(int(l.vtime), 0);
    }

    void everyByteValuePassesBothWays()
    {
        port->SetEvents({}); // read directly
        port->Open();

        const std::string bytes = AllByteValues() + "\r\n\n\r\x03\x04\x11\x13\x1a\x7f\xff\x00" + AllByteValues();
        QCOMPARE(port->WriteStr(bytes), std::int32_t(bytes.size()));
        QCOMPARE(peer->Receive(bytes.size(), 3000), bytes);
        QVERIFY(peer->Drain().empty()); // nothing added (no echo, no CR/LF mapping)

        QVERIFY(peer->Send(bytes));
        QCOMPARE(ReadFromPort(*port, bytes.size(), 3000), bytes);
        QVERIFY(peer->Drain().empty()); // no echo of what came in
    }

    void allSixteenRatesAreReallySet()
    {
        port->SetCustomBaudRate(31250);
        port->Open();
        const std::uint32_t expected[16] = {31250, 110, 300, 600, 1200, 2400, 4800, 9600, 14400,
                                            19200, 38400, 56000, 57600, 115200, 128000, 256000};
        for (int i = 15; i >= 0; --i) {
            port->SetBaudRate(TBaudRate(i));
            TPty::TLine l;
            QVERIFY(peer->Line(l));
            QCOMPARE(l.ospeed, expected[i]);
            QCOMPARE(l.ispeed, expected[i]);
        }
        QCOMPARE(port->BaudRate(), brCustom);
        port->SetCustomBaudRate(250000); // applies at once while brCustom is chosen
        TPty::TLine l;
        QVERIFY(peer->Line(l));
        QCOMPARE(l.ospeed, 250000u);
        QVERIFY(port->Connected());
        QVERIFY(port->EventThreadActive());
    }

    void characterFormatAndFlowControl()
    {
        port->Open();
        TPty::TLine l;
        auto line = [&] {
            peer->Line(l);
            return l;
        };
        // A pty always reports 8 data bits and clears PARENB whatever is set, so
        // the character size and "parity on" cannot be read back here; which
        // parity (odd, mark, space) and the stop bits can.
        const std::uint32_t parityMask = PARODD_ | CMSPAR_;
        port->Parity().SetBits(prOdd);
        QCOMPARE(line().cflag & parityMask, PARODD_);
        port->Parity().SetBits(prMark);
        QCOMPARE(line().cflag & parityMask, PARODD_ | CMSPAR_);
        port->Parity().SetBits(prSpace);
        QCOMPARE(line().cflag & parityMask, CMSPAR_);
        QCOMPARE(line().iflag & INPCK_, 0u); // no check unless asked
        port->Parity().SetCheck(true);
        QCOMPARE(line().iflag & INPCK_, INPCK_);
        port->Parity().SetCheck(false);
        QCOMPARE(line().iflag & INPCK_, 0u);
        port->Parity().SetBits(prEven);
        QCOMPARE(line().cflag & parityMask, 0u);

        port->SetStopBits(sbTwoStopBits);
        QCOMPARE(line().cflag & CSTOPB_, CSTOPB_);
        port->SetStopBits(sbOneStopBit);
        QCOMPARE(line().cflag & CSTOPB_, 0u);
        port->SetStopBits(sbOne5StopBits); // nearest Linux has
        QCOMPARE(line().cflag & CSTOPB_, CSTOPB_);

        port->FlowControl().SetOutCTSFlow(true);
        QCOMPARE(line().cflag & CRTSCTS_, CRTSCTS_);
        port->FlowControl().SetOutCTSFlow(false);
        QCOMPARE(line().cflag & CRTSCTS_, 0u);
        port->FlowControl().SetXonXoffOut(true);
        port->FlowControl().SetXonXoffIn(true);
        port->FlowControl().SetXonChar(char(0x21));
        QCOMPARE(line().iflag & (IXON_ | IXOFF_), IXON_ | IXOFF_);
        QCOMPARE(int(l.vstart), 0x21);
        QCOMPARE(int(l.vstop), 19);
        port->FlowControl().SetXonXoffOut(false);
        port->FlowControl().SetXonXoffIn(false);
        QCOMPARE(line().iflag & (IXON_ | IXOFF_), 0u);

        // Every change above was made on the open port, which stayed open.
        QVERIFY(port->Connected());
        QVERIFY(port->EventThreadActive());
    }

    void speedChangeWhileOpenKeepsPortAndThread()
    {
        std::string got;
        port->OnRxChar = [&](TCustomComPort* sender, std::int32_t count) {
            std::string s;
            sender->ReadStr(s, count);
            got += s;
        };
        port->Open();
        QVERIFY(peer->Send("before"));
        QTRY_COMPARE_WITH_TIMEOUT(got, std::string("before"), 5000);
        const std::vector<std::string> thread = EventThreadIds();
        QCOMPARE(thread.size(), std::size_t(1));

        port->SetBaudRate(br115200);
        TPty::TLine l;
        QVERIFY(peer->Line(l));
        QCOMPARE(l.ospeed, 115200u);
        QVERIFY(port->Connected());
        QVERIFY(port->EventThreadActive());
        QCOMPARE(EventThreadIds(), thread); // not a new thread of a reopened port

        // The same thread goes on delivering.
        QVERIFY(peer->Send("after"));
        QTRY_COMPARE_WITH_TIMEOUT(got, std::string("beforeafter"), 5000);
        QCOMPARE(port->WriteStr("x"), 1);
        QCOMPARE(peer->Receive(1, 2000), std::string("x"));
    }

    void lineChangesWhileOpenKeepWaitingBytes()
    {
        port->SetEvents({}); // the bytes stay in the input queue until read here
        port->Open();
        QVERIFY(peer->Send("waiting"));
        QVERIFY(WaitBlocked([&] { return port->InputCount() == 7; }, 3000));

        // A close, even one followed at once by an open, would discard them.
        port->SetBaudRate(br115200);
        port->SetCustomBaudRate(31250);
        port->SetDataBits(dbSeven);
        port->SetStopBits(sbTwoStopBits);
        port->Parity().SetBits(prEven);
        port->FlowControl().SetXonXoffIn(true);
        port->SetBaudRate(brCustom);
        TPty::TLine l;
        QVERIFY(peer->Line(l));
        QCOMPARE(l.ospeed, 31250u);
        QVERIFY(port->Connected());
        QCOMPARE(port->InputCount(), 7);
        std::string s;
        QCOMPARE(port->ReadStr(s, 20), 7);
        QCOMPARE(s, std::string("waiting"));
    }

    void settingsOnClosedPortAreOnlyStored()
    {
        port->SetBaudRate(br115200);
        port->SetStopBits(sbTwoStopBits);
        port->Parity().SetBits(prMark);
        QVERIFY(!port->Connected());
        QCOMPARE(port->BaudRate(), br115200);
        QCOMPARE(EventThreadCountSettled(0), 0);
        TPty::TLine before;
        QVERIFY(peer->Line(before));
        QVERIFY(before.ospeed != 115200u); // the device was not touched

        port->Open(); // applied now
        TPty::TLine l;
        QVERIFY(peer->Line(l));
        QCOMPARE(l.ospeed, 115200u);
        QCOMPARE(l.cflag & CSTOPB_, CSTOPB_);
        QCOMPARE(l.cflag & (PARODD_ | CMSPAR_), PARODD_ | CMSPAR_);
    }

    void equalValuesDoNothing()
    {
        TPty other;
        QVERIFY(other.Ok());
        port->Open();
        auto speed = [&] {
            TPty::TLine l;
            peer->Line(l);
            return l.ospeed;
        };
        // Change the speed behind the port's back: any re-apply would undo it.
        QVERIFY(peer->SetSpeed(1200));
        QCOMPARE(speed(), 1200u);

        port->SetBaudRate(br9600);
        port->SetCustomBaudRate(9600);
        port->SetDataBits(dbEight);
        port->SetStopBits(sbOneStopBit);
        port->SetEventChar(0);
        port->SetDiscardNull(false);
        port->Parity().SetBits(prNone);
        port->Parity().SetCheck(false);
        port->FlowControl().SetControlDTR(dtrDisable);
        port->FlowControl().SetControlRTS(rtsDisable);
        port->FlowControl().SetXonChar(17);
        port->Timeouts().SetWriteTotalConstant(1000);
        port->Buffer().SetInputSize(1024);
        port->SetSyncMethod(smThreadSync);                       // equal: no error although open
        port->SetEventThreadPriority(TThreadPriority::Normal); // likewise
        port->SetPort(peer->SlavePath());                        // no reopen
        QCOMPARE(speed(), 1200u);
        QVERIFY(port->Connected());

        // A different value re-applies the whole line.
        port->SetDataBits(dbSeven);
        QCOMPARE(speed(), 9600u);
    }

    void refusedLineSettingsLeaveTheComponentClosed()
    {
        port->SetBaudRate(brCustom);
        port->SetCustomBaudRate(0); // no such rate; 0 would hang the line up
        const auto e = Raised([&] { port->Open(); });
        QVERIFY(e.has_value());
        QCOMPARE(e->Code, CError_SetStateFailed);
        QCOMPARE(std::string(e->what()), "COM Port Error: SetCommState function failed on " + peer->SlavePath());
        QVERIFY(!port->Connected());
        QVERIFY(!port->ThreadCreated());
        QCOMPARE(EventThreadCountSettled(0), 0);

        // The device was released: another component can have it.
        QVERIFY(OpensElsewhere(peer->SlavePath()));

        // On an open port a refused setting raises and the port stays open.
        port->SetCustomBaudRate(9600);
        port->Open();
        const auto e2 = Raised([&] { port->SetCustomBaudRate(-5); });
        QVERIFY(e2.has_value());
        QCOMPARE(e2->Code, CError_SetStateFailed);
        QVERIFY(port->Connected());
        QCOMPARE(port->CustomBaudRate(), -5); // stored, as every setter stores first
    }

    void portChangeWhileOpenReopens()
    {
        TPty b;
        QVERIFY(b.Ok());
        std::string got;
        port->OnRxChar = [&](TCustomComPort* sender, std::int32_t count) {
            std::string s;
            sender->ReadStr(s, count);
            got += s;
        };
        port->SetBaudRate(br115200);
        port->Open();

        port->SetPort(b.SlavePath());
        QVERIFY(port->Connected());
        QVERIFY(port->EventThreadActive());
        QCOMPARE(EventThreadCountSettled(1), 1);
        TPty::TLine l;
        QVERIFY(b.Line(l));
        QCOMPARE(l.ospeed, 115200u);
        QVERIFY(b.Send("from b"));
        QTRY_COMPARE_WITH_TIMEOUT(got, std::string("from b"), 5000);
        QCOMPARE(port->WriteStr("to b"), 4);
        QCOMPARE(b.Receive(4, 2000), std::string("to b"));

        // The old port was let go.
        QVERIFY(OpensElsewhere(peer->SlavePath()));
    }

    void failedReopenLeavesItClosedWithTheNewName()
    {
        port->Open();
        const auto e = Raised([&] { port->SetPort("/dev/nonexistent"); });
        QVERIFY(e.has_value());
        QCOMPARE(std::string(e->what()), std::string("COM Port Error: Unable to open com port on /dev/nonexistent"));
        QVERIFY(!port->Connected());
        QVERIFY(!port->ThreadCreated());
        QCOMPARE(EventThreadCountSettled(0), 0);
        QCOMPARE(port->Port(), std::string("/dev/nonexistent"));

        QVERIFY(OpensElsewhere(peer->SlavePath())); // the old port was closed
    }

    void syncMethodAndPriorityLockedWhileOpen()
    {
        port->Open();
        auto e = Raised([&] { port->SetSyncMethod(smNone); });
        QVERIFY(e.has_value());
        QCOMPARE(e->Code, CError_ConnChangeProp);
        QCOMPARE(e->WinCode, -1);
        QCOMPARE(std::string(e->what()), std::string("COM Port Error: Cannot set property while connected"));
        QCOMPARE(port->SyncMethod(), smThreadSync);
        e = Raised([&] { port->SetEventThreadPriority(TThreadPriority::Higher); });
        QVERIFY(e.has_value());
        QCOMPARE(e->Code, CError_ConnChangeProp);
        QCOMPARE(port->EventThreadPriority(), TThreadPriority::Normal);
        QVERIFY(port->Connected());

        port->Close();
        port->SetEventThreadPriority(TThreadPriority::Lower);
        QCOMPARE(port->EventThreadPriority(), TThreadPriority::Lower);
        port->Open(); // a lowered thread still runs
        QVERIFY(port->EventThreadActive());
    }

    void oddBufferSizesStoredOneLess()
    {
        QCOMPARE(port->Buffer().InputSize(), 1024);
        port->Buffer().SetInputSize(513);
        QCOMPARE(port->Buffer().InputSize(), 512);
        port->Buffer().SetOutputSize(1025);
        QCOMPARE(port->Buffer().OutputSize(), 1024);
        port->Buffer().SetInputSize(1);
        QCOMPARE(port->Buffer().InputSize(), 0);
        port->Buffer().SetOutputSize(600);
        QCOMPARE(port->Buffer().OutputSize(), 600);
    }

    void readStrReturnsWhatIsWaiting()
    {
        int calls = 0;
        port->OnRxChar = [&](TCustomComPort*, std::int32_t) { ++calls; };
        port->SetEvents({}); // no event thread at all
        port->Open();
        QVERIFY(port->Connected());
        QVERIFY(!port->ThreadCreated());
        QCOMPARE(EventThreadCountSettled(0), 0);

        const std::string twenty = "0123456789ABCDEFGHIJ";
        QVERIFY(peer->Send(twenty));
        QVERIFY(WaitBlocked([&] { return port->InputCount() == 20; }, 3000));
        std::string s = "old";
        QCOMPARE(port->ReadStr(s, 20), 20);
        QCOMPARE(s, twenty);
        QCOMPARE(port->InputCount(), 0);

        QVERIFY(peer->Send("abcde"));
        QVERIFY(WaitBlocked([&] { return port->InputCount() == 5; }, 3000));
        QCOMPARE(port->ReadStr(s, 20), 5); // fewer waiting: those, at once
        QCOMPARE(s, std::string("abcde"));

        QElapsedTimer t;
        t.start();
        QCOMPARE(port->ReadStr(s, 20), 0); // none waiting: nothing, no wait
        QVERIFY(s.empty());
        QCOMPARE(port->ReadStr(s, 0), 0);

        QVERIFY(peer->Send(twenty + twenty));
        QVERIFY(WaitBlocked([&] { return port->InputCount() == 40; }, 3000));
        QCOMPARE(port->ReadStr(s, 15), 15);
        QCOMPARE(s, twenty.substr(0, 15));
        QCOMPARE(port->InputCount(), 25);
        char buf[64];
        QCOMPARE(port->Read(buf, 64), 25);
        QCOMPARE(std::string(buf, 25), twenty.substr(15) + twenty);
        QCOMPARE(port->ReadAsyncErrorCount(), 0);

        QCoreApplication::processEvents();
        QCOMPARE(calls, 0); // without events no delivery
    }

    void writeReturnsWithinItsLimitWhenThePeerNeverReads()
    {
        port->Open();
        // A small frame fits the queue and is written whole at the default limit.
        QCOMPARE(port->WriteStr(std::string(10, 'f')), 10);

        port->Timeouts().SetWriteTotalMultiplier(0);
        port->Timeouts().SetWriteTotalConstant(300);
        std::string big(64 * 1024, '\0');
        for (std::size_t i = 0; i < big.size(); ++i)
            big[i] = char((i * 7 + i / 256) & 0xFF);
        std::int32_t n;
        qint64 ms;
        {
            TWatchdog wd(20000, "write to a peer that never reads");
            QElapsedTimer t;
            t.start();
            n = port->WriteStr(big); // the pty takes about 14 KB, then no more
            ms = t.elapsed();
        }
        QVERIFY2(n > 0 && n < std::int32_t(big.size()), qPrintable(QString::number(n)));
        QVERIFY2(ms >= 250 && ms < 5000, qPrintable(QString::number(ms))); // ended by its limit, not by the data
        QVERIFY(port->Connected());

        // Exactly the bytes counted reached the line, in order, and nothing more.
        const std::string seen = peer->Receive(std::string(10, 'f').size() + std::size_t(n), 3000);
        QCOMPARE(seen, std::string(10, 'f') + big.substr(0, std::size_t(n)));
        QVERIFY(peer->Drain().empty());

        // The line works on afterwards.
        QCOMPARE(port->WriteStr("next"), 4);
        QCOMPARE(peer->Receive(4, 2000), std::string("next"));
    }

    void emptyWriteSendsNothing()
    {
        port->Open();
        QCOMPARE(port->WriteStr(std::string()), 0);
        QCOMPARE(port->WriteStr("z"), 1);
        QCOMPARE(peer->Receive(2, 500), std::string("z"));
    }

    void destructionClosesThePort()
    {
        {
            QObject owner;
            auto* port = new TComPort(&owner); // destroyed with its owner
            port->SetPort(peer->SlavePath());
            port->Open();
            QCOMPARE(EventThreadCountSettled(1), 1);
        }
        QCOMPARE(EventThreadCountSettled(0), 0);
        QVERIFY(OpensElsewhere(peer->SlavePath()));
    }
};

QTEST_GUILESS_MAIN(TestPort)
#include "test_port.moc"
