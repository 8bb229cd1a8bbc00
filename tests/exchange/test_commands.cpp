// Commands and their answers through the buttons of the main window, against
// the controller emulator: log lines, bytes on the line, opening on demand,
// a port that can't be opened and a write that fails.
#include "tests/common/WindowRig.h"

#include <QPushButton>

class TestCommands : public TWindowTest {
    Q_OBJECT
private slots:
    void connectionTestLogsThreeLines()
    {
        TMainForm& f = *rig->form;
        // Nothing awaited: the countdown does not keep running.
        QTRY_VERIFY_WITH_TIMEOUT(!f.Timer1->isActive(), 2000);

        f.btnTestConnection->click();
        QVERIFY(f.Timer1->isActive());
        QCOMPARE(f.AutoTimer.cmd, cmd_TestConnect);
        QCOMPARE(f.AutoTimer.interval, TimerInterval);

        QVERIFY(WaitUntil([&] { return LogLines(f).size() >= 3; }, 3000));
        const QStringList lines = LogLines(f);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("1B 01 0A 00 5B C2 00 00 0D 0A  wielkość: 10"));
        QVERIFY2(IsAnswerLine(lines[1], cmd_TestConnect), qPrintable(lines[1]));
        QCOMPARE(lines[2], QStringLiteral("cmd_TestConnect"));
        QVERIFY(rig->Idle());
        QCOMPARE(f.GetCommand.Header().Command, cmd_TestConnect);
        QCOMPARE(f.GetCommand.raw[14], cCR);

        // The wait is over: the timer stops and nothing else follows.
        QTRY_VERIFY_WITH_TIMEOUT(!f.Timer1->isActive(), 2000);
        QCOMPARE(LogLines(f).size(), 3);
        QVERIFY(rig->dialogs.messages.isEmpty());
        QVERIFY(rig->dialogs.errors.isEmpty());
        QCOMPARE(rig->Received(), QStringList{QStringLiteral("1B 01 0A 00 5B C2 00 00 0D 0A ")});
    }

    void bytesOnTheLineForEachButton()
    {
        TMainForm& f = *rig->form;
        struct Case {
            const char* what;
            QPushButton* button;
            int jasnosc; // set before the click, -1: leave
            const char* frame;
            const char* handlerLine;
        };
        const Case cases[] = {
            {"Test connection", f.btnTestConnection, -1, "1B 01 0A 00 5B C2 00 00 0D 0A ", "cmd_TestConnect"},
            {"Restart", f.btnRestart, -1, "1B 02 0A 00 1F EF 00 00 0D 0A ", "cmd_Restart"},
            {"Czyść ekran", f.btnClearScreen, -1, "1B 04 0A 00 97 B5 00 00 0D 0A ", "cmd_FillScreen"},
            {"Pobierz", f.btnPobierz, -1, "1B 05 0A 00 B4 5E 00 00 0D 0A ", "cmd_getJasnosc"},
            {"Pobierz informacje", f.BitBtn2, -1, "1B 0D 0A 00 4B 77 00 00 0D 0A ", "cmd_getVersion"},
            {"Ustaw 0", f.btnUstaw, 0, "1B 06 0C 00 FB E8 00 00 00 00 0D 0A ", "cmd_setJasnosc"},
            {"Ustaw 15", f.btnUstaw, 15, "1B 06 0C 00 15 3C 00 00 0F 00 0D 0A ", "cmd_setJasnosc"},
        };
        std::size_t sent = 0;
        for (const Case& c : cases) {
            if (c.jasnosc >= 0)
                f.seJasnosc->setValue(c.jasnosc);
            const int before = LogLines(f).size();
            c.button->click();
            ++sent;
            QVERIFY2(rig->emu.WaitForFrames(sent, 3000), c.what);
            QCOMPARE(rig->Received().value(int(sent) - 1), QString::fromLatin1(c.frame));
            QVERIFY2(WaitUntil([&] { return LogLines(f).size() >= before + 3; }, 3000), c.what);
            const QStringList lines = LogLines(f).mid(before);
            QCOMPARE(lines.size(), 3);
            QCOMPARE(lines[0], QString::fromLatin1(c.frame) + QStringLiteral(" wielkość: ") +
                                   QString::number(QString::fromLatin1(c.frame).size() / 3));
            QVERIFY2(IsAnswerLine(lines[1], std::uint8_t(Hex(c.frame)[1])), qPrintable(lines[1]));
            QCOMPARE(lines[2], QString::fromLatin1(c.handlerLine));
            QVERIFY2(rig->Idle(), c.what);
        }
        QCOMPARE(rig->emu.Frames().size(), sent);
        QCOMPARE(rig->emu.Brightness(), std::uint8_t(15));
        QVERIFY(rig->dialogs.messages.isEmpty());
        QVERIFY(rig->dialogs.errors.isEmpty());
    }

    void clearScreenOpensAClosedPort()
    {
        TMainForm& f = *rig->form;
        QVERIFY(!f.ComPort1->Connected());
        f.btnClearScreen->click();
        QVERIFY(f.ComPort1->Connected());
        QVERIFY(rig->emu.WaitForFrames(1, 3000));
        QCOMPARE(rig->Received(), QStringList{QStringLiteral("1B 04 0A 00 97 B5 00 00 0D 0A ")});
        QTRY_COMPARE_WITH_TIMEOUT(LogLines(f).value(2), QStringLiteral("cmd_FillScreen"), 3000);
        QVERIFY(rig->dialogs.messages.isEmpty());
    }

    // Text, text-window and logo frames are handed in complete; their answers
    // only end the wait and add the received frame's line.
    void displayCommandAnswersAddOnlyTheirFrame()
    {
        TMainForm& f = *rig->form;
        struct Case {
            std::uint8_t code;
            void (TMainForm::*send)(const TBytes&);
        };
        const Case cases[] = {
            {cmd_putText, &TMainForm::send_cmd_putText},
            {cmd_putTextFrame, &TMainForm::send_cmd_putTextFrame},
            {cmd_putLogo, &TMainForm::send_cmd_putLogo},
        };
        std::size_t sent = 0;
        for (const Case& c : cases) {
            // A stale checksum in the handed frame must not reach the line.
            TBytes frame = Hex("1B 00 0C 00 AA 55 00 00 41 42 0D 0A");
            frame[1] = char(c.code);
            TBytes sealed = frame;
            SealFrame(sealed);
            QVERIFY(sealed != frame);

            const int before = LogLines(f).size();
            (f.*c.send)(frame);
            ++sent;
            QCOMPARE(f.AutoTimer.cmd, c.code);
            QVERIFY(rig->emu.WaitForFrames(sent, 3000));
            const TBytes onLine = rig->emu.Frames().back();
            QCOMPARE(HexText(onLine), HexText(sealed));
            QVERIFY(VerifyFrame(onLine));

            QVERIFY(WaitUntil([&] { return rig->Idle(); }, 3000));
            const QStringList lines = LogLines(f).mid(before);
            QCOMPARE(lines.size(), 2);
            QCOMPARE(lines[0], SentLine(sealed));
            QVERIFY2(lines[1].startsWith(HexText(std::string{char(cBusStart), char(c.code)})),
                     qPrintable(lines[1]));
            QVERIFY(lines[1].contains(QStringLiteral("  Wielkość: ")));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!f.Timer1->isActive(), 2000);
        QVERIFY(rig->dialogs.messages.isEmpty());
    }

    void portThatCannotBeOpened()
    {
        TMainForm& f = *rig->form;
        const auto holder = rig->HoldPort(); // in use elsewhere
        QCOMPARE(f.cbComName->GetText(), rig->emu.SlavePath());
        const QString expected = cCantOpenText + QString::fromStdString(rig->emu.SlavePath());

        f.btnTestConnection->click();
        QCOMPARE(rig->dialogs.messages, QStringList{expected});
        QVERIFY(!f.ComPort1->Connected());
        // No frame is listed; only the reason the port would not open.
        QCOMPARE(LogLines(f), QStringList{QStringLiteral("Port %1 jest używany przez inny program.")
                                              .arg(QString::fromStdString(rig->emu.SlavePath()))});
        QVERIFY(rig->emu.Frames().empty());
        QVERIFY(rig->Idle());
        // Nothing armed, so no timeout box can follow: the countdown is off.
        QTRY_VERIFY_WITH_TIMEOUT(!f.Timer1->isActive(), 2000);
        QCOMPARE(rig->dialogs.messages.size(), 1);
        QVERIFY(rig->dialogs.errors.isEmpty());
    }

    // A write into a line that hung up is the lost line: the port lets it go,
    // one box says so (no error dialog), and the next command opens afresh.
    void writeIntoPulledAdapterIsALostLine()
    {
        TMainForm& f = *rig->form;
        f.btnTestConnection->click();
        QTRY_COMPARE_WITH_TIMEOUT(LogLines(f).size(), 3, 3000);
        QVERIFY(rig->Idle());

        rig->emu.Unplug();
        f.btnRestart->click();
        const QString port = QString::fromStdString(rig->emu.SlavePath());
        const QString lost = QStringLiteral("Utracono połączenie z portem ") + port;
        QVERIFY(rig->dialogs.errors.isEmpty());
        QCOMPARE(rig->dialogs.messages, QStringList{lost});
        QVERIFY(!f.ComPort1->Connected());
        QVERIFY(rig->Idle());

        // The next command tries to open the port again and says it cannot:
        // no second lost-line box, nothing armed.
        f.btnPobierz->click();
        QVERIFY(rig->dialogs.errors.isEmpty());
        QCOMPARE(rig->dialogs.messages.size(), 2);
        QCOMPARE(rig->dialogs.messages.at(0), lost);
        QVERIFY(rig->dialogs.messages.at(1).startsWith(cCantOpenText));
        QVERIFY(rig->Idle());
        QTRY_VERIFY_WITH_TIMEOUT(!f.Timer1->isActive(), 2000);
    }
};

QTEST_MAIN(TestCommands)
#include "test_commands.moc"
