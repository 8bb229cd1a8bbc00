// Ports as a Linux user meets them: the selector's list follows adapters
// plugged in and pulled out (pseudo-terminals made and closed here), and a
// port that will not open says why.
#include "tests/common/WindowRig.h"

#include "serial/CPort.h"
#include "serial/CPortCtl.h"
#include "tests/common/PortTree.h"
#include "tests/update/UpdateFiles.h"
#include "ui/MainUnit.h"

#include <QAbstractItemView>
#include <QAccessible>

#include <QDir>
#include <QPushButton>
#include <QTemporaryFile>
#include <QtTest>

#include <sys/stat.h>

#include <cstring>
#include <memory>

namespace {

const QString cCantOpen = QStringLiteral("Nie można otwortzyć portu ");

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The system's list as far as pseudo-terminals go: whatever is in /dev/pts now.
void ListPseudoTerminals()
{
    TComSelect::SetPortLister([](std::vector<std::string>& ports) {
        ports.clear();
        for (const QString& n : QDir(QStringLiteral("/dev/pts")).entryList(QDir::System))
            if (n != QLatin1String("ptmx"))
                ports.push_back("/dev/pts/" + n.toStdString());
    });
}

// Opens and closes the drop-down as the operator does.
void DropDown(QComboBox& box)
{
    box.showPopup();
    box.hidePopup();
}

} // namespace

class TestPorts : public QObject {
    Q_OBJECT
    std::vector<int> pulledOut; // slaves of pulled-out pseudo-terminals

    // Pulls a pseudo-terminal out: its node goes at once, while a descriptor
    // kept on its slave stops the index being given to anyone else (other
    // tests make pseudo-terminals meanwhile) until the test ends.
    bool PullOut(std::unique_ptr<TPty>& pty)
    {
        const int fd = ::open(pty->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        pty.reset();
        if (fd >= 0)
            pulledOut.push_back(fd);
        return fd >= 0;
    }

private slots:
    void cleanup()
    {
        TComSelect::SetPortLister(nullptr);
        for (int fd : pulledOut)
            ::close(fd);
        pulledOut.clear();
    }

    void listFollowsPluggedAdapters()
    {
        ListPseudoTerminals();
        auto a = std::make_unique<TPty>(EPtyEnd::WatchedMaster);
        auto b = std::make_unique<TPty>(EPtyEnd::WatchedMaster);
        QVERIFY(a->Ok() && b->Ok());
        const QString pa = Q(a->SlavePath()), pb = Q(b->SlavePath());
        TComPort port(nullptr);
        TComComboBox box;
        box.SetComProperty(cpPort);
        box.SetAutoApply(true);
        box.SetComPort(&port);
        QVERIFY(ComboItems(&box).contains(pa) && ComboItems(&box).contains(pb));
        box.setCurrentIndex(box.findText(pa));
        box.Change(); // the operator's choice (the window wires it to activated)
        QCOMPARE(port.Port(), a->SlavePath());

        // One pulled out, another plugged in: seen at the next drop-down, choice kept.
        TPty c(EPtyEnd::WatchedMaster);
        QVERIFY(c.Ok());
        QVERIFY(PullOut(b));
        QVERIFY(!ComboItems(&box).contains(Q(c.SlavePath())));
        DropDown(box);
        QVERIFY(!ComboItems(&box).contains(pb));
        QVERIFY(ComboItems(&box).contains(Q(c.SlavePath())));
        QCOMPARE(box.GetText(), a->SlavePath());
        QCOMPARE(box.ComSelect().FPort, a->SlavePath());

        // The chosen one pulled out: it stays chosen under its name, at the end.
        QVERIFY(PullOut(a));
        DropDown(box);
        QCOMPARE(ComboItems(&box).constLast(), pa);
        QCOMPARE(box.GetText(), pa.toStdString());
        QCOMPARE(port.Port(), pa.toStdString());

        // A list that cannot be read leaves the list shown as it is.
        const QStringList before = ComboItems(&box);
        TComSelect::SetPortLister([](std::vector<std::string>&) { throw EComPort(CError_RegError, EIO, "registry read"); });
        DropDown(box);
        QCOMPARE(ComboItems(&box), before);
    }

    void portNamedAtStartStaysWhileItExists()
    {
        // The system lists no pseudo-terminal; the one given at start stays, also once pulled out.
        TDialogsScope scope;
        TComSelect::SetPortLister([](std::vector<std::string>& ports) { ports = {"/nonexistent/qv-tty0"}; });
        auto pty = std::make_unique<TPty>(EPtyEnd::WatchedMaster);
        QVERIFY(pty->Ok());
        const QString path = Q(pty->SlavePath());
        TMainForm f(pty->SlavePath());
        QCOMPARE(ComboItems(f.cbComName), (QStringList{"/nonexistent/qv-tty0", path}));
        DropDown(*f.cbComName);
        QCOMPARE(ComboItems(f.cbComName), (QStringList{"/nonexistent/qv-tty0", path}));
        QCOMPARE(f.cbComName->GetText(), pty->SlavePath());
        QVERIFY(PullOut(pty));
        DropDown(*f.cbComName);
        QCOMPARE(ComboItems(f.cbComName), (QStringList{"/nonexistent/qv-tty0", path}));
        QCOMPARE(f.cbComName->GetText(), path.toStdString());
        QCOMPARE(scope.dialogs.Count(), 0);
    }

    void dropDownNamesTheAdapters()
    {
        TPortTree tree;
        tree.AddStandardSet();
        TDialogsScope scope;
        const std::string byId = PortBySerial("A50285BI").value().byId; // a by-id link works as any path
        TMainForm f(byId);
        DropDown(*f.cbComName);
        const QString dev = Q(tree.Dev("")), usb0 = QStringLiteral("  FT232R USB UART (A50285BI)");
        QCOMPARE(ComboItems(f.cbComName), (QStringList{dev + "ttyACM0", dev + "ttyS0", dev + "ttyUSB0", dev + "ttyUSB1", Q(byId)}));
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(f.cbComName->view());
        QStringList entries;
        for (int i = 0; list && i < list->childCount(); ++i)
            entries << list->child(i)->text(QAccessible::Name);
        QCOMPARE(entries, (QStringList{dev + "ttyACM0  Pico (E6616407E3646B2A)", dev + "ttyS0", dev + "ttyUSB0" + usb0,
                                       dev + "ttyUSB1  USB-Serial Controller", Q(byId) + usb0}));
        QCOMPARE(f.cbComName->GetText(), byId);
        // Another adapter under the chosen name: its entry follows, the name stays.
        QVERIFY(ChooseItem(f.cbComName, dev + "ttyUSB1"));
        tree.AddUsb({"ttyUSB1", "1a86", "7523", "", "USB Serial", "", "ch341", ""});
        DropDown(*f.cbComName);
        QCOMPARE(f.cbComName->itemData(3, TComComboBox::cEntryRole).toString(), dev + "ttyUSB1  USB Serial");
        QCOMPARE(f.cbComName->GetText(), tree.Dev("ttyUSB1"));
        QCOMPARE(f.ComPort1->Port(), tree.Dev("ttyUSB1"));
    }

    void otherAdapterUnderTheNameMidUpdate_data()
    {
        QTest::addColumn<QString>("serial"); // of the adapter that comes back under the name
        QTest::addColumn<QString>("words");  // "": the same adapter, the update goes on
        QTest::newRow("same adapter") << "A50285BI" << "";
        QTest::newRow("other serial") << "FTB00002" << "FT232R USB UART (FTB00002)";
        QTest::newRow("no serial") << "" << "FT232R USB UART";
    }
    void otherAdapterUnderTheNameMidUpdate()
    {
        QFETCH(QString, serial);
        QFETCH(QString, words);
        TPortTree tree;
        tree.AddStandardSet();
        TEmulator::Options o;
        o.pace = false;
        TWindowRig rig(o);
        TEmulator other(o);
        std::atomic<int> pages{0};
        rig.emu.OnFrame([&](const std::string&, bool) { // the third page is never confirmed
            if (++pages == 3)
                rig.emu.DropAnswers(1);
        });
        QVERIFY(rig.emu.Start() && other.Start() && tree.Plug("ttyUSB0", rig.emu.SlavePath()));
        rig.form = std::make_unique<TMainForm>(tree.Dev("ttyUSB0"));
        TMainForm& f = rig.F();
        QTemporaryDir dir;
        rig.dialogs.fileToPick = WriteFile(dir, QStringLiteral("cpu.bin"), CpuFile(1000));
        rig.dialogs.answer = true;
        rig.dialogs.onMessage = [&](const QString& text) { rig.dialogs.answer = !text.startsWith("Nie można wysłać"); };
        f.btnFlash->click();
        QVERIFY(WaitUntil([&] { return pages == 3; }));
        // Pulled out; the name comes back on an adapter reporting `serial`.
        TUsbAdapter back = TPortTree::Ftdi();
        back.serial = serial.toStdString();
        tree.AddUsb(back);
        QVERIFY(tree.Plug("ttyUSB0", other.SlavePath()));
        rig.emu.Unplug();
        QVERIFY(WaitUntil([&] { return f.FlashStage == TMainForm::TFlashStage::Idle; }, 15000));
        const QString text = QStringLiteral("Port %1 prowadzi teraz do innego adaptera (%2) niż ten, na którym zaczęła "
                                            "się aktualizacja (FT232R USB UART (A50285BI)). Strona nie została wysłana.")
                                 .arg(Q(tree.Dev("ttyUSB0")), words);
        if (words.isEmpty()) { // resent there, and on to command 3
            QCOMPARE(other.PageAddresses().front(), std::uint32_t(cCpuFirstPart + 2) << 8);
            QVERIFY(WaitUntil([&] { return LogLines(f).constLast() == QStringLiteral("cmd_UpgradeCPU"); }));
            QVERIFY(!rig.dialogs.details.join('\n').contains(QStringLiteral("innego adaptera")));
        } else { // not a byte to it; told in the page's box and the log
            QCOMPARE(other.Frames().size(), std::size_t(0));
            QCOMPARE(rig.dialogs.messages.filter("Nie można wysłać").constFirst(),
                     QStringLiteral("Nie można wysłać strony %1 do Quorvantela.").arg(cCpuFirstPart + 2));
            QCOMPARE(rig.dialogs.details.filter(QStringLiteral("innego adaptera")), QStringList{text});
            QVERIFY(LogLines(f).contains(text) && !f.ComPort1->Connected());
        }
        rig.form.reset();
    }

    void failureReasonInDetailsAndLog_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason"); // %1: the port
        QTest::newRow("missing") << "missing" << "Port %1 nie istnieje (urządzenie nie jest podłączone).";
        QTest::newRow("in use") << "busy" << "Port %1 jest używany przez inny program.";
        QTest::newRow("no permission")
            << "denied"
            << "Brak uprawnień do portu %1. Użytkownik musi należeć do grupy dialout: sudo usermod "
               "-aG dialout $USER, potem trzeba się wylogować i zalogować ponownie.";
        QTest::newRow("not a terminal")
            << "file"
            << QStringLiteral("Port %1: ") + QString::fromLocal8Bit(std::strerror(ENOTTY)) +
                   QStringLiteral(" (błąd systemu %1).").arg(ENOTTY);
    }

    void failureReasonInDetailsAndLog()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        if (kind == QLatin1String("denied") && geteuid() == 0)
            QSKIP("root opens a port whatever its permissions say");
        TPty pty(EPtyEnd::WatchedMaster);
        QVERIFY(pty.Ok());
        QTemporaryFile file;
        QVERIFY(file.open());
        std::string port = pty.SlavePath();
        std::unique_ptr<TDeviceLock> lock;
        if (kind == QLatin1String("missing"))
            port = "/nonexistent/qv-tty0";
        else if (kind == QLatin1String("busy"))
            lock = std::make_unique<TDeviceLock>(port.c_str());
        else if (kind == QLatin1String("denied"))
            QCOMPARE(chmod(port.c_str(), 0), 0);
        else
            port = file.fileName().toStdString();
        reason = reason.arg(Q(port));
        TDialogsScope scope;
        TComSelect::SetPortLister([port](std::vector<std::string>& ports) { ports = {port}; });
        TMainForm f(port);
        f.Memo1->appendPlainText(QStringLiteral("earlier line"));

        // Both ways of opening tell the same: the box's text unchanged, the reason in its details and the log.
        f.btnOpenClose->click();
        QVERIFY(!f.IfOpenPort());
        const QString text = cCantOpen + Q(port);
        QCOMPARE(scope.dialogs.messages, (QStringList{text, text}));
        QCOMPARE(scope.dialogs.details, (QStringList{reason, reason}));
        QCOMPARE(f.Memo1->toPlainText(), QStringLiteral("earlier line\n") + reason + QLatin1Char('\n') + reason);
        QCOMPARE(f.btnOpenClose->text(), QStringLiteral("Open"));
        QVERIFY(!f.ComPort1->Connected());
        QVERIFY(scope.dialogs.errors.isEmpty());
    }
};

QTEST_MAIN(TestPorts)
#include "test_ports.moc"
