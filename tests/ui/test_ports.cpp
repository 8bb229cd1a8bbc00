// Ports as a Linux user meets them: the selector's list follows adapters
// plugged in and pulled out (pseudo-terminals made and closed here), and a
// port that will not open says why.
#include "tests/common/WindowRig.h"

#include "serial/CPort.h"
#include "serial/CPortCtl.h"
#include "ui/MainUnit.h"

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
