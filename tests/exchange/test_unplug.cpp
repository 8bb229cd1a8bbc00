// The adapter pulled out while the window's port is open, and plugged in
// again under the same name: the window lets the port go, says so once, and
// the next command reopens it by itself.
#include "tests/common/WindowRig.h"

#include <QDir>
#include <QFile>
#include <QPushButton>

#include <chrono>
#include <thread>

class TestUnplug : public QObject {
    Q_OBJECT
private slots:
    void unpluggedAndPluggedInAgain()
    {
        // The stable name an adapter has (as /dev/ttyUSB0), standing for the pty.
        const QString link =
            QDir::temp().filePath(QStringLiteral("qv-unplug-%1").arg(QCoreApplication::applicationPid()));
        QFile::remove(link);
        TEmulator::Options options;
        options.symlink = link.toStdString();
        TWindowRig rig(options);
        std::string error;
        QVERIFY2(rig.emu.Start(&error), error.c_str());
        rig.form = std::make_unique<TMainForm>(options.symlink);
        TMainForm& f = *rig.form;
        const QString testConnect = QStringLiteral("1B 01 0A 00 5B C2 00 00 0D 0A  wielkość: 10");

        f.btnTestConnection->click();
        QVERIFY(WaitUntil([&] { return LogLines(f).size() >= 3 && rig.Idle(); }, 3000));
        QCOMPARE(LogLines(f).at(0), testConnect);
        QVERIFY(f.ComPort1->Connected());
        QCOMPARE(f.btnOpenClose->text(), QStringLiteral("Close Port"));

        rig.emu.Unplug();
        QVERIFY(WaitUntil([&] { return !f.ComPort1->Connected(); }, 3000));
        QCOMPARE(f.btnOpenClose->text(), QStringLiteral("Open"));
        QStringList lines = LogLines(f);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[3], QStringLiteral("Utracono połączenie z portem ") + link);
        QCOMPARE(rig.dialogs.Count(), 0);

        // Plugged in again: the name now leads to a new line.
        rig.emu.Stop();
        // Before that, with the name leading nowhere, the selector and the box keep it.
        static_cast<QComboBox*>(f.cbComName)->showPopup(); // as the operator drops it down
        static_cast<QComboBox*>(f.cbComName)->hidePopup();
        QCOMPARE(f.cbComName->GetText(), options.symlink);
        QCOMPARE(ComboItems(f.cbComName).count(link), 1);
        f.btnTestConnection->click();
        QCOMPARE(rig.dialogs.messages, QStringList{cCantOpenText + link});
        TEmulator again(options);
        QVERIFY2(again.Start(&error), error.c_str());
        f.btnTestConnection->click();
        QVERIFY(WaitUntil([&] { return LogLines(f).size() >= 8 && rig.Idle(); }, 3000));
        lines = LogLines(f);
        QCOMPARE(lines.size(), 8); // the loss was told once only, the failed open once
        QCOMPARE(lines[5], testConnect);
        QVERIFY2(IsAnswerLine(lines[6], cmd_TestConnect), qPrintable(lines[6]));
        QCOMPARE(lines[7], QStringLiteral("cmd_TestConnect"));
        QCOMPARE(HexText(again.Frames().at(0)), QStringLiteral("1B 01 0A 00 5B C2 00 00 0D 0A "));
        QCOMPARE(again.Frames().size(), std::size_t(1));
        QVERIFY(f.ComPort1->Connected());
        QCOMPARE(f.btnOpenClose->text(), QStringLiteral("Close Port"));
        QCOMPARE(f.cbComName->GetText(), options.symlink);
        QCOMPARE(rig.dialogs.Count(), 1);
        rig.form.reset(); // the port goes before the emulator that serves it
    }

    void pulledWhileDeliveryQueued_data()
    {
        QTest::addColumn<QString>("control");
        for (const char* c : {"btnTestConnection", "btnPobierz", "btnRestart"})
            QTest::newRow(c) << QString::fromLatin1(c);
    }
    // The event thread has handed bytes over and waits for the window, so it
    // cannot tell the hang-up: the first command pressed finds it by its
    // write, and the adapter, plugged in again at once, serves the next ones.
    void pulledWhileDeliveryQueued()
    {
        QFETCH(QString, control);
        const QString link =
            QDir::temp().filePath(QStringLiteral("qv-pull-%1").arg(QCoreApplication::applicationPid()));
        TEmulator::Options options;
        options.symlink = link.toStdString();
        options.pace = false;
        TWindowRig rig(options);
        QVERIFY(rig.Start());
        TMainForm& f = *rig.form;
        f.Receiver.StartPauseMs = 0;
        auto* button = f.findChild<QPushButton*>(control);
        QVERIFY(button);
        f.btnTestConnection->click();
        QVERIFY(WaitUntil([&] { return LogLines(f).size() >= 3 && rig.Idle(); }, 3000));
        rig.emu.ClearLog();

        rig.emu.SendRaw("x");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!f.ComPort1->DeliveryPending() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield(); // the window's loop must not run it
        QVERIFY(f.ComPort1->DeliveryPending());
        rig.emu.Stop();
        std::string error;
        QVERIFY2(rig.emu.Start(&error), error.c_str());
        rig.emu.SetAnswerDelayMs(150); // answers apart, each read on its own
        for (int i = 0; i < 5; ++i)
            button->click();
        QVERIFY(WaitUntil([&] { return rig.emu.AnswersSent() >= 4 && rig.Idle(); }, 5000));

        QCOMPARE(rig.dialogs.errors, QStringList{});
        QCOMPARE(rig.dialogs.messages, QStringList{QStringLiteral("Utracono połączenie z portem ") + link});
        QCOMPARE(LogLines(f).count(rig.dialogs.messages.value(0)), 1);
        QCOMPARE(rig.emu.Frames().size(), std::size_t(4));
        QVERIFY(f.ComPort1->Connected());
        QVERIFY(!rig.emu.WaitForFrames(5, 300));
        rig.form.reset();
    }
};

QTEST_MAIN(TestUnplug)
#include "test_unplug.moc"
