// Texts and names of the serial component: error messages, speed names,
// port names and the port list read from a sysfs tree.
#include "serial/CPort.h"
#include "serial/PortInfo.h"
#include "tests/common/PortTree.h"
#include "tests/common/Pty.h"

#include <QtTest>

#include <cerrno>
#include <fstream>
#include <unistd.h>

namespace {

void MakeEntry(const QString& root, const QString& name, bool device, const char* type = nullptr)
{
    QDir(root).mkpath(name);
    if (device)
        QVERIFY(QFile::link(root + "/../devices/somewhere", root + "/" + name + "/device"));
    if (type) {
        std::ofstream f((root + "/" + name + "/type").toStdString());
        f << type << "\n";
    }
}

// A port's details as one list: port, by-id, vid, pid, manufacturer, product,
// serial, driver, identity, words; "-" for no port at all.
QStringList Fields(const std::optional<TPortInfo>& i)
{
    if (!i)
        return {QStringLiteral("-")};
    QStringList out;
    for (const std::string* s : {&i->port, &i->byId, &i->vid, &i->pid, &i->manufacturer, &i->product,
                                 &i->serial, &i->driver})
        out << QString::fromStdString(*s);
    return out << QString::fromStdString(AdapterIdentity(*i)) << QString::fromStdString(AdapterWords(*i));
}

// "@/" stands for the tree's /dev.
QString Rooted(QString s, const TPortTree& tree)
{
    return s.replace(QLatin1String("@/"), QString::fromStdString(tree.Dev("")));
}

} // namespace

class TestNames : public QObject {
    Q_OBJECT
private slots:
    void errorTextsOfAllCodes()
    {
        const char* const texts[] = {
            "Unable to open com port",
            "WriteFile function failed",
            "ReadFile function failed",
            "Invalid Async parameter",
            "PurgeComm function failed",
            "Unable to get async status",
            "SetCommState function failed",
            "SetCommTimeouts failed",
            "SetupComm function failed",
            "ClearCommError function failed",
            "GetCommModemStatus function failed",
            "EscapeCommFunction function failed",
            "TransmitCommChar function failed",
            "Cannot set property while connected",
            "EnumPorts function failed",
            "Failed to store settings",
            "Failed to load settings",
            "Link (un)registration failed",
            "Cannot change led state if ComPort is selected",
            "Cannot wait for event if event thread is created",
            "WaitForEvent method failed",
            "A component is linked to OnRxBuf event",
            "Registry error",
        };
        for (int code = 1; code <= 23; ++code)
            QCOMPARE(ComErrorMessage(code), std::string(texts[code - 1]));
        QCOMPARE(CError_OpenFailed, 1);
        QCOMPARE(CError_ConnChangeProp, 14);
        QCOMPARE(CError_RegError, 23);
        QCOMPARE(ComErrorMessage(24), std::string("Unknown Error #24"));
        QCOMPARE(ComErrorMessage(0), std::string("Unknown Error #0"));
        QCOMPARE(ComErrorMessage(-7), std::string("Unknown Error #-7"));
    }

    void errorMessagesWithAndWithoutSystemError()
    {
        const EComPort open(CError_OpenFailed, ENOENT, "COM1");
        QCOMPARE(std::string(open.what()), std::string("COM Port Error: Unable to open com port on COM1"));
        QCOMPARE(open.Code, 1);
        QCOMPARE(open.WinCode, ENOENT);
        const EComPort prop(CError_ConnChangeProp);
        QCOMPARE(std::string(prop.what()), std::string("COM Port Error: Cannot set property while connected"));
        QCOMPARE(prop.WinCode, -1);
        const EComPort odd(99, 5, "x");
        QCOMPARE(std::string(odd.what()), std::string("COM Port Error: Unknown Error #99 on x"));
    }

    void speedNames()
    {
        const char* const names[16] = {"Custom", "110", "300", "600", "1200", "2400", "4800", "9600",
                                       "14400", "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
        const std::int32_t rates[16] = {0, 110, 300, 600, 1200, 2400, 4800, 9600,
                                        14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
        for (int i = 0; i < 16; ++i) {
            QCOMPARE(std::string(BaudRateStrings[i]), std::string(names[i]));
            QCOMPARE(BaudRateToStr(TBaudRate(i)), std::string(names[i]));
            QCOMPARE(StrToBaudRate(names[i]), TBaudRate(i));
            if (i > 0)
                QCOMPARE(BaudRateToInt(TBaudRate(i), 777), rates[i]);
        }
        QCOMPARE(BaudRateToInt(brCustom, 31250), 31250);
        QCOMPARE(StrToBaudRate("custom"), brCustom);
        QCOMPARE(StrToBaudRate("CUSTOM"), brCustom);
        QCOMPARE(StrToBaudRate("115200"), br115200);
        QCOMPARE(StrToBaudRate("1200"), br1200);
        QCOMPARE(StrToBaudRate("9601"), br9600);
        QCOMPARE(StrToBaudRate("115200 "), br9600);
        QCOMPARE(StrToBaudRate(""), br9600);
        QCOMPARE(StrToBaudRate("fast"), br9600);
        QCOMPARE(StrToBaudRate(std::string("110\0", 4)), br9600);
    }

    void eventMaskBits()
    {
        const std::pair<TComEvent, std::uint32_t> bits[] = {
            {evRxChar, 0x0001}, {evRxFlag, 0x0002}, {evTxEmpty, 0x0004}, {evCTS, 0x0008},
            {evDSR, 0x0010},    {evRLSD, 0x0020},   {evBreak, 0x0040},   {evError, 0x0080},
            {evRing, 0x0100},   {evRx80Full, 0x0400},
        };
        for (const auto& [event, bit] : bits) {
            QCOMPARE(EventsToInt({event}), bit);
            QCOMPARE(IntToEvents(bit), TComEvents{event});
        }
        QCOMPARE(EventsToInt({}), 0u);
        QCOMPARE(EventsToInt(TComEvents::All()), 0x05FFu);
        QCOMPARE(EventsToInt({evRxChar, evRing, evError}), 0x0181u);
        QCOMPARE(IntToEvents(0x0181), (TComEvents{evRxChar, evRing, evError}));
        QCOMPARE(IntToEvents(0x05FF), TComEvents::All());
        QCOMPARE(IntToEvents(0x0200 | 0xF800), TComEvents{}); // bits no event stands for
    }

    void portNamesToDevices()
    {
        QCOMPARE(PortNameToDevice("COM1"), std::string("/dev/ttyS0"));
        QCOMPARE(PortNameToDevice("COM10"), std::string("/dev/ttyS9"));
        QCOMPARE(PortNameToDevice("com3"), std::string("/dev/ttyS2"));
        QCOMPARE(PortNameToDevice("/dev/ttyUSB0"), std::string("/dev/ttyUSB0"));
        QCOMPARE(PortNameToDevice("/tmp/port"), std::string("/tmp/port"));
        QCOMPARE(PortNameToDevice("ttyUSB1"), std::string("/dev/ttyUSB1"));
        QCOMPARE(PortNameToDevice("COM0"), std::string("/dev/COM0"));
        QCOMPARE(PortNameToDevice("COM"), std::string("/dev/COM"));
        QCOMPARE(PortNameToDevice("COM1x"), std::string("/dev/COM1x"));
        QCOMPARE(PortNameToDevice("COM99999999999999999999"), std::string("/dev/COM99999999999999999999"));
    }

    void portListIsFilteredAndSortedWithoutCase()
    {
        QTemporaryDir tmp;
        const QString root = tmp.path() + "/class/tty";
        QVERIFY(QDir().mkpath(root));
        MakeEntry(root, "ttyS0", true, "4");
        MakeEntry(root, "ttyS1", true, "0"); // serial8250 slot without a UART
        MakeEntry(root, "ttyS2", true, "4");
        MakeEntry(root, "ttyS10", true, "4");
        MakeEntry(root, "ttyUSB0", true);   // USB adapters have no type
        MakeEntry(root, "ttya2", true);
        MakeEntry(root, "ttyB1", true);
        MakeEntry(root, "tty0", false);     // virtual consoles
        MakeEntry(root, "tty7", true);
        MakeEntry(root, "console", false);
        MakeEntry(root, "ptmx", false);
        MakeEntry(root, "ttyp0", false);    // no device behind it
        MakeEntry(root, "serial!ttyX0", true);

        std::vector<std::string> ports{"stale"};
        EnumComPortsFrom(root.toStdString(), ports);
        const std::vector<std::string> expected{
            "/dev/serial/ttyX0", "/dev/ttya2", "/dev/ttyB1", "/dev/ttyS0",
            "/dev/ttyS10",       "/dev/ttyS2", "/dev/ttyUSB0",
        };
        QCOMPARE(ports, expected);
    }

    void unreadablePortListIsARegistryError()
    {
        std::vector<std::string> ports{"kept"};
        try {
            EnumComPortsFrom("/nonexistent/class/tty", ports);
            QFAIL("no error raised");
        } catch (const EComPort& e) {
            QCOMPARE(std::string(e.what()), std::string("COM Port Error: Registry error on registry read"));
            QCOMPARE(e.Code, CError_RegError);
            QCOMPARE(e.WinCode, ENOENT);
        }
        QCOMPARE(ports, std::vector<std::string>{"kept"});
    }

    void portDetailsFromSysfs_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("fields");
        const QString ftdiById = QStringLiteral("@/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        const QStringList ftdi{"@/ttyUSB0", ftdiById, "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI",
                               "ftdi_sio", "serial A50285BI", "FT232R USB UART (A50285BI)"};
        QTest::newRow("usb-serial with serial") << "@/ttyUSB0" << ftdi;
        QTest::newRow("by its by-id link") << ftdiById << ftdi;
        QTest::newRow("by its short name") << "ttyUSB0" << ftdi;
        QTest::newRow("usb-serial without serial")
            << "@/ttyUSB1"
            << QStringList{"@/ttyUSB1", "@/serial/by-id/usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0",
                           "067b", "2303", "Prolific Technology Inc.", "USB-Serial Controller", "", "pl2303",
                           "usb 067b:2303", "USB-Serial Controller"};
        QTest::newRow("modem class")
            << "@/ttyACM0"
            << QStringList{"@/ttyACM0", "@/serial/by-id/usb-Raspberry_Pi_Pico_E6616407E3646B2A-if00", "2e8a",
                           "000a", "Raspberry Pi", "Pico", "E6616407E3646B2A", "cdc_acm",
                           "serial E6616407E3646B2A", "Pico (E6616407E3646B2A)"};
        QTest::newRow("built-in uart")
            << "@/ttyS0" << QStringList{"@/ttyS0", "", "", "", "", "", "", "serial8250", "", "@/ttyS0"};
        QTest::newRow("as COM1") << "COM1" << QStringList{"@/ttyS0", "", "", "", "", "", "", "serial8250", "", "@/ttyS0"};
        QTest::newRow("absent uart") << "@/ttyS1" << QStringList{"-"};
        QTest::newRow("virtual console") << "@/tty1" << QStringList{"-"};
        QTest::newRow("console") << "@/console" << QStringList{"-"};
        QTest::newRow("outside the tree") << "/nonexistent/ttyUSB0" << QStringList{"-"};
        QTest::newRow("empty") << "" << QStringList{"-"};
    }
    void portDetailsFromSysfs()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, fields);
        TPortTree tree;
        QVERIFY(tree.Ok());
        tree.AddStandardSet();
        for (QString& f : fields)
            f = Rooted(f, tree);
        QCOMPARE(Fields(PortInfoFor(Rooted(path, tree).toStdString())), fields);
        if (fields.size() > 1) {
            // The list says the same of the port.
            bool listed = false;
            for (const TPortInfo& i : ListPortInfos())
                if (i.port == fields[0].toStdString())
                    listed = (Fields(i) == fields);
            QVERIFY(listed);
        }
    }

    void portListAndDetailsAgree()
    {
        TPortTree tree;
        QVERIFY(tree.Ok());
        tree.AddStandardSet();
        const std::vector<std::string> expected{tree.Dev("ttyACM0"), tree.Dev("ttyS0"), tree.Dev("ttyUSB0"),
                                                tree.Dev("ttyUSB1")};
        std::vector<std::string> ports, listed;
        EnumComPorts(ports);
        for (const TPortInfo& i : ListPortInfos())
            listed.push_back(i.port);
        QCOMPARE(ports, expected);
        QCOMPARE(listed, expected);
        // The roots are read at each call.
        tree.AddUsb({"ttyUSB2", "1a86", "7523", "", "", "", "ch341", ""});
        QCOMPARE(ListPortInfos().back().port, tree.Dev("ttyUSB2"));
        QCOMPARE(AdapterWords(ListPortInfos().back()), std::string("USB 1a86:7523"));
    }

    void adapterTextsAreMadePrintable()
    {
        TPortTree tree;
        QVERIFY(tree.Ok());
        TUsbAdapter a = TPortTree::Ftdi();
        a.product = "FT232R\x1b]0;owned\x07 \xc2\x9b" "2J UART\xc3\xb3";
        tree.AddUsb(a);
        const auto info = PortInfoFor(tree.Dev("ttyUSB0"));
        QVERIFY(info);
        QCOMPARE(info->product, std::string("FT232R?]0;owned? ?2J UART\xc3\xb3"));
    }

    void portBySerialNumber_data()
    {
        QTest::addColumn<QString>("sn");
        QTest::addColumn<QString>("port"); // "" : none
        QTest::addColumn<bool>("twin");    // a second adapter reports A50285BI too
        QTest::newRow("usb-serial") << "A50285BI" << "@/ttyUSB0" << false;
        QTest::newRow("with its prefix") << "serial:A50285BI" << "@/ttyUSB0" << false;
        QTest::newRow("modem class") << "E6616407E3646B2A" << "@/ttyACM0" << false;
        QTest::newRow("no such adapter") << "A50285BJ" << "" << false;
        QTest::newRow("case counts") << "a50285bi" << "" << false;
        QTest::newRow("empty") << "" << "" << false;
        QTest::newRow("two adapters, one number") << "A50285BI" << "" << true;
    }
    void portBySerialNumber()
    {
        QFETCH(QString, sn);
        QFETCH(QString, port);
        QFETCH(bool, twin);
        TPortTree tree;
        QVERIFY(tree.Ok());
        tree.AddStandardSet();
        std::vector<std::string> present{"stale"}, expected{"E6616407E3646B2A", "A50285BI"};
        if (twin) {
            TUsbAdapter a = TPortTree::Ftdi();
            a.tty = "ttyUSB2";
            a.byId.clear();
            tree.AddUsb(a);
            expected.push_back("A50285BI");
        }
        const auto found = PortBySerial(sn.toStdString(), &present);
        QCOMPARE(found ? QString::fromStdString(found->port) : QString(), Rooted(port, tree));
        QCOMPARE(present, expected);
    }

    void byIdPortOpensAsAnyPath()
    {
        TPortTree tree;
        QVERIFY(tree.Ok());
        tree.AddStandardSet();
        TPty pty(EPtyEnd::WatchedMaster);
        QVERIFY(pty.Ok());
        QVERIFY(tree.Plug("ttyUSB0", pty.SlavePath()));
        const auto info = PortBySerial("A50285BI");
        QVERIFY(info);
        TComPort port(nullptr);
        port.SetPort(info->byId);
        port.Open();
        QVERIFY(pty.SlaveOpen());
        QCOMPARE(port.WriteStr("\x1b"), 1);
        QCOMPARE(pty.Receive(1), std::string("\x1b"));
        port.Close();
        QCOMPARE(PortInfoFor(info->byId)->port, tree.Dev("ttyUSB0"));
    }

    void portListOfThisMachine()
    {
        std::vector<std::string> ports;
        EnumComPorts(ports);
        for (std::size_t i = 0; i < ports.size(); ++i) {
            QVERIFY(ports[i].rfind("/dev/", 0) == 0);
            QVERIFY(ports[i].find("/dev/pts/") == std::string::npos);
            if (i > 0)
                QVERIFY(QString::fromStdString(ports[i - 1]).compare(QString::fromStdString(ports[i]), Qt::CaseInsensitive) <= 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestNames)
#include "test_names.moc"
