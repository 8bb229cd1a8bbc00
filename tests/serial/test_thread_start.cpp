// An event thread that cannot be started in full makes Open fail: the port
// would otherwise be open but deaf.
#include "TestSupport.h"

#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <vector>

class TestThreadStart : public TPortOnPtyTest {
    Q_OBJECT
private slots:
    void init()
    {
        got.clear();
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &FSaved), 0);
        FNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        QVERIFY(FNull >= 0);
    }

    void cleanup()
    {
        ReleasePortOnPty();
        ReleaseFillers();
        setrlimit(RLIMIT_NOFILE, &FSaved);
        ::close(FNull);
    }

    void noDescriptorsForTheThreadFailTheOpen_data()
    {
        QTest::addColumn<int>("spare");
        QTest::newRow("port only") << 1;
        QTest::newRow("port and stop signal") << 2;
    }

    void noDescriptorsForTheThreadFailTheOpen()
    {
        QFETCH(int, spare);
        QVERIFY(NewPortOnPty());
        port->OnRxChar = [this](TCustomComPort* sender, std::int32_t count) {
            std::string s;
            sender->ReadStr(s, count);
            got += s;
        };

        QVERIFY(LeaveFree(spare));
        const auto e = Raised([&] { port->Open(); });
        QVERIFY(e.has_value());
        QCOMPARE(e->Code, CError_OpenFailed);
        QCOMPARE(e->WinCode, EMFILE);
        QCOMPARE(std::string(e->what()), "COM Port Error: Unable to open com port on " + peer->SlavePath());
        QVERIFY(!port->Connected());
        QVERIFY(!port->ThreadCreated());
        QCOMPARE(EventThreadCountSettled(0), 0);
        QCOMPARE(FreeDescriptors(), spare); // nothing kept open

        ReleaseFillers();
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &FSaved), 0);
        port->Open();
        QVERIFY(peer->Send("\x02\x10\x7F"));
        QTRY_COMPARE_WITH_TIMEOUT(got, std::string("\x02\x10\x7F"), 5000);
    }

private:
    // Takes every free descriptor below a lowered limit but `spare`.
    bool LeaveFree(int spare)
    {
        const int top = fcntl(FNull, F_DUPFD_CLOEXEC, 0); // lowest free number
        if (top < 0)
            return false;
        ::close(top);
        rlimit low = FSaved;
        low.rlim_cur = rlim_t(top) + 64; // room above everything open now
        if (setrlimit(RLIMIT_NOFILE, &low) != 0)
            return false;
        for (int fd; (fd = fcntl(FNull, F_DUPFD_CLOEXEC, 0)) >= 0;)
            FFillers.push_back(fd);
        for (int i = 0; i < spare && !FFillers.empty(); ++i) {
            ::close(FFillers.back());
            FFillers.pop_back();
        }
        return FreeDescriptors() == spare;
    }

    int FreeDescriptors()
    {
        std::vector<int> probe;
        for (int fd; (fd = fcntl(FNull, F_DUPFD_CLOEXEC, 0)) >= 0;)
            probe.push_back(fd);
        for (int fd : probe)
            ::close(fd);
        return int(probe.size());
    }

    void ReleaseFillers()
    {
        for (int fd : FFillers)
            ::close(fd);
        FFillers.clear();
    }

    std::string got; // what the port handed on
    rlimit FSaved{};
    int FNull = -1; // duplicated to take descriptors
    std::vector<int> FFillers;
};

QTEST_GUILESS_MAIN(TestThreadStart)
#include "test_thread_start.moc"
