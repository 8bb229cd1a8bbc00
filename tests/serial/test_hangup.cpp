// A line that hangs up while the port is open (the pty's master closed, as an
// adapter pulled out): the port lets the device go by itself and says so once.
#include "TestSupport.h"

#include <QtTest>

#include <climits>
#include <unistd.h>

namespace {

constexpr int kWait = 5000;
constexpr int kWatchdog = 30000;

// True while a descriptor of this process still refers to the device; the
// pty's number is given out again only once none does.
bool HoldsDevice(const std::string& path)
{
    bool held = false;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (const dirent* e = readdir(d)) {
            char target[PATH_MAX];
            const ssize_t n = readlink((std::string("/proc/self/fd/") + e->d_name).c_str(), target,
                                       sizeof target);
            const std::string t(target, std::size_t(std::max<ssize_t>(n, 0)));
            // A hung-up node whose name is gone shows as "<path> (deleted)".
            held = held || t == path || t == path + " (deleted)";
        }
        closedir(d);
    }
    return held;
}

} // namespace

class TestHangUp : public TPortOnPtyTest {
    Q_OBJECT
    QStringList seen; // "rx:<bytes>", "lost (open|closed)" in the order they came
    bool unplugInside = false;

private slots:
    void init()
    {
        QVERIFY(NewPortOnPty());
        seen.clear();
        unplugInside = false;
        port->OnRxChar = [this](TCustomComPort* sender, std::int32_t count) {
            std::string s;
            sender->ReadStr(s, count);
            seen << QString::fromStdString("rx:" + s);
            if (unplugInside)
                peer->Unplug(); // after the bytes were read, before the delivery returns
        };
        port->OnLineLost = [this](TCustomComPort* sender) {
            seen << (sender->Connected() ? QStringLiteral("lost open") : QStringLiteral("lost closed"));
        };
        port->Open();
        QVERIFY(port->Connected());
    }

    void cleanup()
    {
        ReleasePortOnPty();
        QCOMPARE(EventThreadCountSettled(0), 0);
    }

    void lossClosesThePortAndTellsOnce_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<QStringList>("expected");
        // Read bytes are handed on before the loss; bytes still in the driver's
        // queue at the hang-up are dropped by the driver itself.
        QTest::newRow("idle line") << "idle" << QStringList{"rx:hi", "lost closed"};
        QTest::newRow("inside a delivery") << "inside" << QStringList{"rx:hi", "lost closed"};
        QTest::newRow("delivery queued") << "queued" << QStringList{"lost closed"};
    }

    void lossClosesThePortAndTellsOnce()
    {
        QFETCH(QString, when);
        QFETCH(QStringList, expected);
        TWatchdog wd(kWatchdog, "hang-up of an open port");
        const std::string slave = peer->SlavePath();
        QVERIFY(HoldsDevice(slave));
        unplugInside = when == "inside";
        QVERIFY(peer->Send("hi"));
        if (when == "idle") {
            QTRY_COMPARE_WITH_TIMEOUT(seen, QStringList{"rx:hi"}, kWait);
            peer->Unplug();
        } else if (when == "queued") {
            QVERIFY(WaitBlocked([&] { return port->DeliveryPending(); }, kWait));
            peer->Unplug();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!port->Connected(), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(EventThreadCount(), 0, kWait);
        QCOMPARE(seen, expected);
        QVERIFY(!port->ThreadCreated());
        QVERIFY(!HoldsDevice(slave));

        QCoreApplication::processEvents(); // nothing is told twice
        QCOMPARE(seen, expected);
        port->Close(); // closed already: nothing to do
        QVERIFY(!port->Connected());
    }

    void closeByTheCallerIsNoLoss_data()
    {
        QTest::addColumn<bool>("hungUp");
        QTest::newRow("line up") << false;
        QTest::newRow("loss queued") << true; // the Close runs the queued loss itself
    }

    void closeByTheCallerIsNoLoss()
    {
        QFETCH(bool, hungUp);
        TWatchdog wd(kWatchdog, "Close with or without a loss queued");
        const std::string slave = peer->SlavePath();
        if (hungUp) {
            peer->Unplug();
            QVERIFY(WaitBlocked([&] { return port->DeliveryPending(); }, kWait));
        }
        port->Close();
        QVERIFY(!port->Connected());
        QVERIFY(!HoldsDevice(slave));
        QCoreApplication::processEvents();
        QCOMPARE(seen, QStringList{});
        QCOMPARE(EventThreadCountSettled(0), 0);
    }
};

QTEST_GUILESS_MAIN(TestHangUp)
#include "test_hangup.moc"
