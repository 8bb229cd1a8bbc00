// The event thread and its hand-over to the GUI thread, over real pty pairs:
// every byte delivered once, Count never 0, Close and reopen from inside a
// delivery (also inside an outer Close), errors in the handler, a line that
// hangs up, and a round trip with the controller emulator.
#include "tests/common/Pty.h"
#include "TestSupport.h"
#include "emulator/Emulator.h"
#include "protocol/frame.h"
#include "serial/CPort.h"

#include <QtTest>

#include <cerrno>
#include <stdexcept>
#include <thread>

namespace {

constexpr int kWait = 5000;     // deadline for conditions that come at once
constexpr int kWatchdog = 30000; // a hang ends the program instead of ctest's timeout

std::string Pattern(std::size_t n, int seed)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = char((i * 31 + std::size_t(seed) * 17 + i / 251) & 0xFF);
    return s;
}

// Collects what the port delivers; the handler reads exactly Count bytes.
struct TReceiver {
    std::string got;
    std::vector<std::int32_t> counts;
    std::vector<std::int32_t> reads;
    std::function<void(TCustomComPort*)> after; // extra step run inside the delivery
    std::int32_t maxRead = 0;                   // 0: read Count

    void attach(TCustomComPort& port)
    {
        port.OnRxChar = [this](TCustomComPort* sender, std::int32_t count) {
            counts.push_back(count);
            std::string s;
            const std::int32_t n = sender->ReadStr(s, maxRead > 0 ? std::min(maxRead, count) : count);
            reads.push_back(n);
            got += s;
            if (after)
                after(sender);
        };
    }
    bool countsPositive() const
    {
        return std::all_of(counts.begin(), counts.end(), [](std::int32_t c) { return c >= 1; });
    }
};

} // namespace

// Each test has a fresh pseudo-terminal and a closed port set to its slave,
// delivering to `rx`.
class TestEvents : public TPortOnPtyTest {
    Q_OBJECT
    TReceiver rx;

private slots:
    void init()
    {
        QVERIFY(NewPortOnPty());
        rx.attach(*port);
    }
    void cleanup()
    {
        ReleasePortOnPty(); // calls no handler (see destroyedWithADeliveryQueuedCallsNoHandler)
        rx = {};
    }

    void bytesArrivingWhileGuiIsBlockedAreDeliveredOnce()
    {
        port->Open();

        std::string sent;
        const std::size_t sizes[] = {1, 17, 300, 2500, 4000, 64};
        for (int round = 0; round < 6; ++round) {
            // The GUI thread is held (no event loop) while the peer sends in bursts.
            std::string burst = Pattern(sizes[round], round);
            std::thread writer([&] {
                for (std::size_t at = 0; at < burst.size(); at += 97)
                    peer->Send(burst.substr(at, 97));
            });
            writer.join();
            QVERIFY(WaitBlocked([&] { return port->DeliveryPending(); }, kWait));
            sent += burst;
            QTRY_COMPARE_WITH_TIMEOUT(rx.got.size(), sent.size(), kWait);
        }
        QCOMPARE(rx.got, sent); // nothing lost, doubled or changed
        QVERIFY(rx.countsPositive());
        QCOMPARE(rx.reads, rx.counts); // Count bytes were always there to read
        QCOMPARE(port->InputCount(), 0);
    }

    void steadyStreamIsDeliveredOnceInOrder()
    {
        // Bytes keep coming while deliveries run: the event thread hands over and
        // is woken again thousands of times (under ThreadSanitizer this also checks
        // that every wake-up is ordered with the thread that posted it).
        port->Open();

        constexpr std::size_t kChunk = 37, kChunks = 4000;
        const std::string data = Pattern(kChunk * kChunks, 9);
        std::thread writer([&] {
            for (std::size_t at = 0; at < data.size(); at += kChunk) {
                peer->Send(data.substr(at, kChunk));
                std::this_thread::sleep_for(std::chrono::microseconds(250)); // paces the line
            }
        });
        // Served by a busy loop, so a wake-up often runs before its poster waits again.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (rx.got.size() < data.size() && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents();
        writer.join();
        QCOMPARE(rx.got.size(), data.size());
        QVERIFY(rx.got == data);
        QVERIFY(rx.countsPositive());
        QCOMPARE(rx.reads, rx.counts);
        QVERIFY(rx.counts.size() > 1);
    }

    void bytesLeftUnreadAreDeliveredAgain()
    {
        rx.maxRead = 7; // reads part of what it is offered
        port->Open();
        const std::string data = Pattern(100, 3);
        QVERIFY(peer->Send(data));
        QTRY_COMPARE_WITH_TIMEOUT(rx.got.size(), data.size(), kWait);
        QCOMPARE(rx.got, data);
        QVERIFY(rx.countsPositive());
        QVERIFY(rx.counts.size() >= 15);
    }

    void handlerThatReadsNothingDoesNotSpin()
    {
        std::vector<std::int32_t> counts;
        bool read = false;
        std::string got;
        port->OnRxChar = [&](TCustomComPort* sender, std::int32_t count) {
            counts.push_back(count);
            if (read) {
                std::string s;
                sender->ReadStr(s, count);
                got += s;
            }
        };
        port->Open();
        QVERIFY(peer->Send("0123456789"));
        QTRY_VERIFY_WITH_TIMEOUT(!counts.empty(), kWait);

        // The bytes stay unread: no stream of deliveries, no busy threads.
        const double cpu0 = ProcessCpuMs();
        QTest::qWait(300);
        const double cpu = ProcessCpuMs() - cpu0;
        QVERIFY2(cpu < 50, qPrintable(QString("%1 ms CPU in 300 ms").arg(cpu)));
        QVERIFY2(counts.size() <= 3, qPrintable(QString::number(counts.size())));
        const std::size_t before = counts.size();

        // New bytes bring a new delivery, with all that waits.
        read = true;
        QVERIFY(peer->Send("abcde"));
        QTRY_VERIFY_WITH_TIMEOUT(counts.size() > before, kWait);
        QCOMPARE(counts.back(), 15);
        QCOMPARE(got, std::string("0123456789abcde"));

        // Reading again, it is back to delivering each arrival.
        QVERIFY(peer->Send("xyz"));
        QTRY_COMPARE_WITH_TIMEOUT(got, std::string("0123456789abcdexyz"), kWait);
    }

    void noDeliveryWithCountZero()
    {
        port->Open();

        QVERIFY(peer->Send("abc"));
        QVERIFY(WaitBlocked([&] { return port->DeliveryPending(); }, kWait));
        std::string s;
        QCOMPARE(port->ReadStr(s, 10), 3); // taken before the delivery runs
        QTRY_VERIFY_WITH_TIMEOUT(!port->DeliveryPending(), kWait);
        QCoreApplication::processEvents();
        QVERIFY(rx.counts.empty()); // it found nothing and called nobody

        QVERIFY(peer->Send("de"));
        QTRY_COMPARE_WITH_TIMEOUT(rx.got, std::string("de"), kWait);
        QCOMPARE(rx.counts, std::vector<std::int32_t>{2});
    }

    void eventsWithoutRxCharDeliverNothing()
    {
        port->SetEvents({evTxEmpty});
        port->Open();
        QVERIFY(port->ThreadCreated());
        QVERIFY(peer->Send("1234"));
        QVERIFY(WaitBlocked([&] { return port->InputCount() == 4; }, kWait));
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        QVERIFY(rx.counts.empty());
        QVERIFY(port->EventThreadActive());
        port->Close();
        QCOMPARE(EventThreadCountSettled(0), 0);
    }

    void closeQueuedDeliveryRunsBeforeTheHandleCloses()
    {
        bool openDuringDelivery = false;
        rx.after = [&](TCustomComPort* p) { openDuringDelivery = p->Connected(); };
        port->Open();

        QVERIFY(peer->Send("queued"));
        QVERIFY(WaitBlocked([&] { return port->DeliveryPending(); }, kWait));
        {
            TWatchdog wd(kWatchdog, "Close with a delivery queued");
            port->Close();
        }
        QCOMPARE(rx.got, std::string("queued"));
        QVERIFY(openDuringDelivery);
        QVERIFY(!port->Connected());
        QVERIFY(!port->ThreadCreated());
        QVERIFY(!port->DeliveryPending());
        QCOMPARE(EventThreadCountSettled(0), 0);
    }

    void closeInsideDelivery()
    {
        bool closeNow = true, closedInside = false;
        rx.after = [&](TCustomComPort* p) {
            if (!closeNow)
                return;
            p->Close();
            closedInside = !p->Connected() && !p->ThreadCreated();
        };
        port->Open();
        {
            TWatchdog wd(kWatchdog, "Close inside a delivery");
            QVERIFY(peer->Send("bye"));
            QTRY_VERIFY_WITH_TIMEOUT(closedInside, kWait);
            QVERIFY(!port->Connected());
            QVERIFY(!port->DeliveryPending());
            QTRY_COMPARE_WITH_TIMEOUT(EventThreadCount(), 0, kWait); // the old thread ended by itself
            port->Close();                                            // closed: nothing
        }
        QCOMPARE(rx.got, std::string("bye"));

        // Opened again, deliveries resume on a new thread.
        closeNow = false;
        port->Open();
        QVERIFY(port->EventThreadActive());
        QVERIFY(peer->Send("again"));
        QTRY_COMPARE_WITH_TIMEOUT(rx.got, std::string("byeagain"), kWait);
        QCOMPARE(EventThreadCountSettled(1), 1);
    }

    void closeAndOpenInsideDelivery()
    {
        int reopened = 0;
        rx.after = [&](TCustomComPort* p) {
            p->Close();
            if (p->Connected())
                return;
            p->Open();
            if (p->Connected() && p->ThreadCreated())
                ++reopened;
        };
        port->Open();

        TWatchdog wd(kWatchdog, "Close and Open inside deliveries");
        std::string sent;
        for (int i = 0; i < 25; ++i) {
            const std::string piece = "frame" + std::to_string(i) + ";";
            QVERIFY(peer->Send(piece));
            sent += piece;
            QTRY_COMPARE_WITH_TIMEOUT(rx.got, sent, kWait); // each reopen delivers the next bytes
        }
        QVERIFY(reopened >= 1);
        QCOMPARE(std::size_t(reopened), rx.counts.size());
        QVERIFY(port->Connected());
        QTRY_COMPARE_WITH_TIMEOUT(EventThreadCount(), 1, kWait); // retired threads are gone
        port->Close();
        QCOMPARE(EventThreadCountSettled(0), 0);
    }

    void speedSwitchInsideDelivery()
    {
        rx.after = [&](TCustomComPort* p) {
            if (rx.got != "switch")
                return;
            // As an answer handler switches speed: close, new speed, open.
            p->Close();
            p->SetBaudRate(br115200);
            p->Open();
        };
        port->Open();
        TWatchdog wd(kWatchdog, "speed switch inside a delivery");
        QVERIFY(peer->Send("switch"));
        QTRY_COMPARE_WITH_TIMEOUT(port->BaudRate(), br115200, kWait);
        TPty::TLine l;
        QVERIFY(peer->Line(l));
        QCOMPARE(l.ospeed, 115200u);
        QVERIFY(port->Connected());
        QVERIFY(peer->Send("fast"));
        QTRY_COMPARE_WITH_TIMEOUT(rx.got, std::string("switchfast"), kWait);
        QCOMPARE(port->WriteStr("ok"), 2);
        QCOMPARE(peer->Receive(2, 2000), std::string("ok"));
    }

    void portChangeAndSetConnectedInsideDelivery()
    {
        TPty b;
        QVERIFY(b.Ok());
        rx.after = [&](TCustomComPort* p) {
            if (rx.got == "to-b")
                p->SetPort(b.SlavePath());
            else if (rx.got == "to-b|off")
                p->SetConnected(false);
        };
        port->Open();
        TWatchdog wd(kWatchdog, "Port and Connected set inside deliveries");
        QVERIFY(peer->Send("to-b"));
        QTRY_COMPARE_WITH_TIMEOUT(port->Port(), b.SlavePath(), kWait);
        QVERIFY(port->Connected());
        QVERIFY(b.Send("|off"));
        QTRY_VERIFY_WITH_TIMEOUT(!port->Connected(), kWait);
        QCOMPARE(rx.got, std::string("to-b|off"));
        QTRY_COMPARE_WITH_TIMEOUT(EventThreadCount(), 0, kWait);
    }

    void closeInsideDeliveryInsideOuterClose_data()
    {
        QTest::addColumn<bool>("reopenInside");
        QTest::newRow("inner Close") << false;
        QTest::newRow("inner Close and Open") << true;
    }

    void closeInsideDeliveryInsideOuterClose()
    {
        QFETCH(bool, reopenInside);
        bool active = true, innerClosed = false, innerReopened = false;
        rx.after = [&](TCustomComPort* p) {
            if (!active)
                return;
            p->Close();
            innerClosed = !p->Connected();
            if (reopenInside) {
                p->Open();
                innerReopened = p->Connected() && p->ThreadCreated();
            }
        };
        port->Open();

        QVERIFY(peer->Send("x"));
        QVERIFY(WaitBlocked([&] { return port->DeliveryPending(); }, kWait));
        {
            TWatchdog wd(kWatchdog, "Close inside a delivery inside Close");
            port->Close(); // runs the queued delivery, which closes (and reopens)
        }
        QCOMPARE(rx.got, std::string("x"));
        QVERIFY(innerClosed);
        QCOMPARE(innerReopened, reopenInside);
        // As after any Close: closed, no thread, nothing pending.
        QVERIFY(!port->Connected());
        QVERIFY(!port->ThreadCreated());
        QVERIFY(!port->DeliveryPending());
        QCOMPARE(EventThreadCountSettled(0), 0);

        active = false;
        port->Open();
        QVERIFY(peer->Send("y"));
        QTRY_COMPARE_WITH_TIMEOUT(rx.got, std::string("xy"), kWait);
    }

    void errorInHandlerStopsDeliveriesUntilReopen_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("std::runtime_error") << 0;
        QTest::newRow("EComPort") << 1;
        QTest::newRow("not an exception class") << 2;
    }

    void errorInHandlerStopsDeliveriesUntilReopen()
    {
        QFETCH(int, kind);
        bool fail = true;
        rx.after = [&](TCustomComPort*) {
            if (!fail)
                return;
            if (kind == 0)
                throw std::runtime_error("handler failed");
            if (kind == 1)
                throw EComPort(CError_ReadFailed, EIO, "test");
            throw 42;
        };
        port->Open();

        QVERIFY(peer->Send("a"));
        QTRY_COMPARE_WITH_TIMEOUT(rx.counts.size(), std::size_t(1), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!port->EventThreadActive(), kWait);
        QCOMPARE(EventThreadCountSettled(0), 0);
        QVERIFY(port->Connected()); // the port stays open
        fail = false;

        QVERIFY(peer->Send("bcd"));
        QVERIFY(WaitBlocked([&] { return port->InputCount() == 3; }, kWait));
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(rx.counts.size(), std::size_t(1)); // nobody delivers any more
        QCOMPARE(port->WriteStr("w"), 1);            // but the port works
        QCOMPARE(peer->Receive(1, 2000), std::string("w"));

        port->Close(); // finds the thread ended; unread bytes are discarded
        QVERIFY(!port->Connected());
        port->Open();
        QVERIFY(peer->Send("e"));
        QTRY_COMPARE_WITH_TIMEOUT(rx.got, std::string("ae"), kWait);
    }

    void hangUpEndsTheThreadAndLeavesTheProcessIdle()
    {
        port->Open();
        QVERIFY(peer->Send("hi"));
        QTRY_COMPARE_WITH_TIMEOUT(rx.got, std::string("hi"), kWait);

        peer->Unplug();
        QTRY_VERIFY_WITH_TIMEOUT(!port->EventThreadActive(), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(EventThreadCount(), 0, kWait);
        const double cpu0 = ProcessCpuMs();
        QTest::qWait(300);
        const double cpu = ProcessCpuMs() - cpu0;
        QVERIFY2(cpu < 50, qPrintable(QString("%1 ms CPU in 300 ms").arg(cpu)));
        QCOMPARE(rx.got, std::string("hi"));

        QVERIFY(!port->Connected()); // it let the dead line go by itself
        const auto e = Raised([&] { port->WriteStr("lost"); });
        QVERIFY(e.has_value());
        QCOMPARE(e->Code, CError_WriteFailed);
        QCOMPARE(e->WinCode, EBADF);
        port->Close(); // closed already: nothing to do
        QVERIFY(!port->Connected());
        QVERIFY(!port->ThreadCreated());
    }

    void destroyedInsideItsOwnDelivery()
    {
        auto* port = new TComPort(nullptr);
        bool destroyed = false;
        port->OnRxChar = [&destroyed](TCustomComPort* sender, std::int32_t count) {
            bool* flag = &destroyed; // this closure goes with the port
            std::string s;
            sender->ReadStr(s, count);
            delete sender;
            *flag = true;
        };
        port->SetPort(peer->SlavePath());
        port->Open();
        TWatchdog wd(kWatchdog, "port destroyed inside its delivery");
        QVERIFY(peer->Send("z"));
        QTRY_VERIFY_WITH_TIMEOUT(destroyed, kWait);
        QCOMPARE(EventThreadCountSettled(0), 0);
        QVERIFY(OpensElsewhere(peer->SlavePath()));
    }

    void destroyedWithADeliveryQueuedCallsNoHandler()
    {
        auto* port = new TComPort(nullptr);
        int calls = 0;
        port->OnRxChar = [&calls](TCustomComPort*, std::int32_t) { ++calls; };
        port->SetPort(peer->SlavePath());
        port->Open();
        QVERIFY(peer->Send("late"));
        QVERIFY(WaitBlocked([&] { return port->DeliveryPending(); }, kWait));
        {
            TWatchdog wd(kWatchdog, "port destroyed with a delivery queued");
            delete port;
        }
        QCoreApplication::processEvents();
        QCOMPARE(calls, 0);
        QCOMPARE(EventThreadCountSettled(0), 0);
    }

    void roundTripWithTheEmulator()
    {
        TEmulator em;
        std::string error;
        QVERIFY2(em.Start(&error), error.c_str());
        port->SetPort(em.SlavePath());
        port->Open();
        QCOMPARE(em.ToolSpeed(), 9600);

        TBytes frame = BuildCommandFrame(cmd_TestConnect);
        SealFrame(frame);
        QCOMPARE(port->WriteStr(frame), std::int32_t(frame.size()));
        QVERIFY(em.WaitForFrames(1, kWait));
        QCOMPARE(em.Frames().at(0), frame);
        QTRY_COMPARE_WITH_TIMEOUT(rx.got.size(), cAnswerSize, kWait);
        QVERIFY(VerifyFrame(rx.got));
        QCOMPARE(std::uint8_t(rx.got[0]), cBusStart);
        QCOMPARE(std::uint8_t(rx.got[1]), cmd_TestConnect);
        QCOMPARE(rx.got.substr(14), std::string("\r\n"));

        port->SetBaudRate(br115200); // the controller's side sees the new speed at once
        QCOMPARE(em.ToolSpeed(), 115200);
        QVERIFY(port->Connected());
    }
};

QTEST_GUILESS_MAIN(TestEvents)
#include "test_events.moc"
