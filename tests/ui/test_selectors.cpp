// The port and speed selectors bound to a port of their own (no window).
#include "tests/common/WindowRig.h"

#include "serial/CPort.h"
#include "serial/CPortCtl.h"

#include <QtTest>

#include <memory>
#include <stdexcept>

namespace {

// A port selector bound to a port of its own, over the listed ports.
struct TPortSelector {
    TComPort port{nullptr};
    TComComboBox box;
    explicit TPortSelector(std::vector<std::string> ports)
    {
        ListPorts(std::move(ports));
        box.SetComProperty(cpPort);
        box.SetComPort(&port);
    }
};

} // namespace

class TestSelectors : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { TComSelect::SetPortLister(nullptr); }
    void portListIsSortedAsText()
    {
        ListPorts({"COM3", "COM1", "COM10", "COM2"});
        TComComboBox box;
        box.SetComProperty(cpPort);
        QCOMPARE(ComboItems(&box), (QStringList{"COM1", "COM10", "COM2", "COM3"}));
        // No port bound: item 0.
        QCOMPARE(box.currentIndex(), 0);

        // Case does not count; duplicates stay.
        ListPorts({"com5", "COM4", "/dev/ttyUSB0", "COM4"});
        box.SetComProperty(cpPort);
        QCOMPARE(ComboItems(&box), (QStringList{"/dev/ttyUSB0", "COM4", "COM4", "com5"}));

        box.SetComProperty(cpNone);
        QCOMPARE(box.count(), 0);
        QCOMPARE(box.GetText(), std::string());
    }

    void portSelectorStartsOnCom1OnlyWhenListed()
    {
        {
            ListPorts({"COM3", "COM1", "COM2"});
            TComPort port(nullptr);
            TComComboBox box;
            box.SetComProperty(cpPort);
            box.SetAutoApply(true);
            box.SetComPort(&port);
            QCOMPARE(box.GetText(), std::string("COM1"));
            QCOMPARE(box.currentIndex(), 0);
            QCOMPARE(box.ComSelect().FPort, std::string("COM1"));
        }
        {
            // "COM1" is /dev/ttyS0: listed under its device path, that item is chosen,
            // and the port keeps the name it has, which opens the same device.
            TPortSelector selector({"/dev/ttyUSB0", "/dev/ttyS1", "/dev/ttyS0"});
            auto& [port, box] = selector;
            QCOMPARE(box.GetText(), std::string("/dev/ttyS0"));
            QCOMPARE(box.ComSelect().FPort, std::string("/dev/ttyS0"));
            QCOMPARE(port.Port(), std::string("COM1"));
            port.SetPort("COM2");
            box.UpdateSettings();
            QCOMPARE(box.GetText(), std::string("/dev/ttyS1"));
        }
        {
            TPortSelector selector({"/dev/ttyS1", "/dev/ttyUSB0"});
            auto& [port, box] = selector;
            QCOMPARE(box.currentIndex(), -1);
            QCOMPARE(box.GetText(), std::string());
            QCOMPARE(port.Port(), std::string("COM1"));
            QCOMPARE(box.ComSelect().FPort, std::string());
            QCOMPARE(box.count(), 2);
        }
        {
            // Empty list: empty text, the port keeps its name.
            TPortSelector selector({});
            auto& [port, box] = selector;
            QCOMPARE(box.count(), 0);
            QCOMPARE(box.GetText(), std::string());
            QCOMPARE(port.Port(), std::string("COM1"));
        }
        {
            // The name is matched without regard to case; the item's own spelling is kept.
            TPortSelector selector({"com1"});
            auto& [port, box] = selector;
            QCOMPARE(box.GetText(), std::string("com1"));
            QCOMPARE(box.ComSelect().FPort, std::string("com1"));
        }
    }

    void speedSelectorListsSixteenNamesAndStartsOn9600()
    {
        TComPort port(nullptr);
        TComComboBox box;
        QVERIFY(!box.isEditable());
        box.SetComProperty(cpBaudRate);
        QCOMPARE(ComboItems(&box), (QStringList{"Custom", "110", "300", "600", "1200", "2400", "4800",
                                          "9600", "14400", "19200", "38400", "56000", "57600",
                                          "115200", "128000", "256000"}));
        QCOMPARE(box.ComSelect().FBaudRate, brCustom); // nothing taken over yet
        box.SetAutoApply(true);
        box.SetComPort(&port);
        QCOMPARE(box.currentIndex(), 7);
        QCOMPARE(box.GetText(), std::string("9600"));
        QCOMPARE(box.ComSelect().FBaudRate, br9600);
        QVERIFY(box.GetAutoApply());
        QCOMPARE(box.GetComProperty(), cpBaudRate);
        QCOMPARE(box.GetComPort(), static_cast<TCustomComPort*>(&port));

        // Binding the port already bound runs nothing again.
        port.SetBaudRate(br115200);
        box.SetComPort(&port);
        QCOMPARE(box.GetText(), std::string("9600"));
        box.UpdateSettings();
        QCOMPARE(box.GetText(), std::string("115200"));
        QCOMPARE(box.ComSelect().FBaudRate, br115200);
    }

    void setTextSelectsWithoutTouchingThePort()
    {
        TComPort port(nullptr);
        TComComboBox box;
        box.SetComProperty(cpBaudRate);
        box.SetAutoApply(true);
        box.SetComPort(&port);

        box.SetText("115200");
        QCOMPARE(box.GetText(), std::string("115200"));
        QCOMPARE(port.BaudRate(), br9600);
        QCOMPARE(box.ComSelect().FBaudRate, br9600);

        box.SetText("123456");
        QCOMPARE(box.GetText(), std::string("115200"));
        box.SetText("");
        QCOMPARE(box.GetText(), std::string("115200"));

        box.SetText("cUSTOM");
        QCOMPARE(box.GetText(), std::string("Custom"));
        QCOMPARE(port.BaudRate(), br9600);
    }

    void choiceOnClosedPortIsOnlyStored()
    {
        TPty pty(EPtyEnd::WatchedMaster);
        QVERIFY(pty.Ok());
        ListPorts({pty.SlavePath(), "COM1"});
        TComPort port(nullptr);
        TComComboBox names, speeds;
        names.SetComProperty(cpPort);
        names.SetAutoApply(true);
        names.SetComPort(&port);
        speeds.SetComProperty(cpBaudRate);
        speeds.SetAutoApply(true);
        speeds.SetComPort(&port);

        QVERIFY(ChooseItem(&names, QString::fromStdString(pty.SlavePath())));
        names.Change();
        QCOMPARE(port.Port(), pty.SlavePath());
        QCOMPARE(names.ComSelect().FPort, pty.SlavePath());
        QVERIFY(!port.Connected());
        QVERIFY(!pty.SlaveOpen());

        QVERIFY(ChooseItem(&speeds, "19200"));
        speeds.Change();
        QCOMPARE(port.BaudRate(), br19200);
        QVERIFY(!port.Connected());

        // Stored values are what the next open uses.
        port.Open();
        QVERIFY(pty.SlaveOpen());
        QCOMPARE(pty.SlaveSpeed(), 19200);
        port.Close();

        // Without AutoApply a choice is only taken over by the selector.
        speeds.SetAutoApply(false);
        QVERIFY(ChooseItem(&speeds, "4800"));
        speeds.Change();
        QCOMPARE(speeds.ComSelect().FBaudRate, br4800);
        QCOMPARE(port.BaudRate(), br19200);
        speeds.ApplySettings();
        QCOMPARE(port.BaudRate(), br4800);
    }

    void speedChoiceOnOpenPortAppliesAtOnce()
    {
        TPty pty(EPtyEnd::WatchedMaster);
        QVERIFY(pty.Ok());
        TComPort port(nullptr);
        port.SetPort(pty.SlavePath());
        TComComboBox speeds;
        speeds.SetComProperty(cpBaudRate);
        speeds.SetAutoApply(true);
        speeds.SetComPort(&port);
        port.Open();
        QVERIFY(port.ThreadCreated());
        QCOMPARE(pty.SlaveSpeed(), 9600);

        QVERIFY(ChooseItem(&speeds, "115200"));
        speeds.Change();
        QCOMPARE(port.BaudRate(), br115200);
        QCOMPARE(pty.SlaveSpeed(), 115200);
        QVERIFY(port.Connected());
        QVERIFY(port.ThreadCreated());
        QVERIFY(pty.SlaveOpen());

        // Still the same open line: bytes written go through.
        QCOMPARE(port.WriteStr(std::string("\x1b\x01", 2)), 2);
        QVERIFY(WaitUntil([&] { return pty.Drain() == std::string("\x1b\x01", 2); }));
        port.Close();
    }

    void customRunsTheLineAt9600()
    {
        TPty pty(EPtyEnd::WatchedMaster);
        QVERIFY(pty.Ok());
        TComPort port(nullptr);
        port.SetPort(pty.SlavePath());
        port.SetBaudRate(br115200);
        TComComboBox speeds;
        speeds.SetComProperty(cpBaudRate);
        speeds.SetAutoApply(true);
        speeds.SetComPort(&port);
        QCOMPARE(speeds.GetText(), std::string("115200"));
        port.Open();
        QCOMPARE(pty.SlaveSpeed(), 115200);

        QVERIFY(ChooseItem(&speeds, "Custom"));
        speeds.Change();
        QCOMPARE(port.BaudRate(), brCustom);
        QCOMPARE(speeds.ComSelect().FBaudRate, brCustom);
        QCOMPARE(pty.SlaveSpeed(), 9600);
        QVERIFY(port.Connected());
        port.Close();
    }

    void destroyedPortIsUnbound()
    {
        auto port = std::make_unique<TComPort>(nullptr);
        port->SetBaudRate(br57600);
        TComComboBox speeds;
        speeds.SetComProperty(cpBaudRate);
        speeds.SetAutoApply(true);
        speeds.SetComPort(port.get());
        QCOMPARE(speeds.GetText(), std::string("57600"));
        port.reset();
        QCOMPARE(speeds.GetComPort(), nullptr);
        QCOMPARE(speeds.currentIndex(), 0);
        // A later choice has no port to go to.
        QVERIFY(ChooseItem(&speeds, "9600"));
        speeds.Change();
        QCOMPARE(speeds.ComSelect().FBaudRate, br9600);
    }

    void unreadablePortListEndsTheFilling()
    {
        TComSelect::SetPortLister([](std::vector<std::string>& ports) {
            EnumComPortsFrom("/nonexistent/sys/class/tty", ports);
        });
        TComComboBox box;
        box.addItem("old");
        try {
            box.SetComProperty(cpPort);
            QFAIL("the port list was read from a missing folder");
        } catch (const EComPort& e) {
            QCOMPARE(QString::fromUtf8(e.what()),
                     QStringLiteral("COM Port Error: Registry error on registry read"));
            QCOMPARE(e.Code, std::int32_t(CError_RegError));
        }
        // Nothing was replaced.
        QCOMPARE(ComboItems(&box), QStringList{"old"});
    }

    void withoutHookTheSystemListIsUsed()
    {
        std::vector<std::string> system;
        EnumComPorts(system);
        TComComboBox box;
        box.SetComProperty(cpPort);
        QStringList expected;
        for (const auto& p : system)
            expected << QString::fromStdString(p);
        QCOMPARE(ComboItems(&box), expected);
    }
};

QTEST_MAIN(TestSelectors)
#include "test_selectors.moc"
