// The speed switches: controller and line move to the new speed together,
// also when the answer arrives while the port is being closed, and a reopen
// that fails reaches the error dialog.
#include "tests/common/WindowRig.h"

#include <QPushButton>

class TestSpeed : public TWindowTest {
    Q_OBJECT
private slots:
    void switchUpAndBackDown()
    {
        TMainForm& f = *rig->form;
        f.btnTestConnection->click();
        QTRY_COMPARE_WITH_TIMEOUT(LogLines(f).size(), 3, 3000);
        QCOMPARE(rig->emu.ToolSpeed(), 9600);

        struct Step {
            QPushButton* button;
            const char* frame;
            int speed;
            TBaudRate rate;
        };
        const Step steps[] = {
            {f.btnSetHiSpeed, "1B 0A 0A 00 E0 C6 00 00 0D 0A ", 115200, br115200},
            {f.btnSet9600, "1B 09 0A 00 A4 EB 00 00 0D 0A ", 9600, br9600},
        };
        for (const Step& s : steps) {
            rig->emu.ClearLog();
            s.button->click();
            // The local switch is done when the click returns.
            QVERIFY(f.ComPort1->Connected());
            QCOMPARE(f.ComPort1->BaudRate(), s.rate);
            QCOMPARE(f.cbComSpeed->GetText(), std::to_string(s.speed));
            QCOMPARE(rig->emu.ToolSpeed(), s.speed);
            QVERIFY(rig->emu.WaitForFrames(1, 3000));
            QCOMPARE(rig->Received().value(0), QString::fromLatin1(s.frame));
            QTRY_COMPARE_WITH_TIMEOUT(rig->emu.Speed(), s.speed, 3000);
            // The controller's answer, sent before it changed its speed, ends
            // the wait (delivered while the port was being closed, or after).
            const std::uint8_t code = std::uint8_t(Hex(s.frame)[1]);
            QVERIFY(WaitUntil([&] { return rig->Idle(); }, 3000));
            const QStringList tail = LogLines(f).mid(LogLines(f).size() - 2);
            QCOMPARE(tail.value(0), QString::fromLatin1(s.frame) + QStringLiteral(" wielkość: 10"));
            QVERIFY2(IsAnswerLine(tail.value(1), code), qPrintable(tail.value(1)));
            QVERIFY(f.ComPort1->Connected());
            QCOMPARE(f.ComPort1->BaudRate(), s.rate);

            // The controller answers at the new speed.
            const int before = LogLines(f).size();
            f.btnTestConnection->click();
            QVERIFY(WaitUntil([&] { return LogLines(f).contains(QStringLiteral("cmd_TestConnect")) &&
                                           LogLines(f).size() >= before + 3 &&
                                           LogLines(f).last() == QStringLiteral("cmd_TestConnect"); },
                              3000));
            QVERIFY(f.ComPort1->Connected());
            QCOMPARE(f.ComPort1->BaudRate(), s.rate);
            QCOMPARE(rig->emu.ToolSpeed(), s.speed);
            QVERIFY(rig->Idle());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!f.Timer1->isActive(), 2000);
        QVERIFY(rig->dialogs.messages.isEmpty());
        QVERIFY(rig->dialogs.errors.isEmpty());
    }

    // The speed command sent on its own: the answer's handler alone closes,
    // re-speeds and reopens the port from inside the delivery, adds no line
    // of its own and leaves the speed selector as it was.
    void answerHandlersReSpeedThePort()
    {
        TMainForm& f = *rig->form;
        QCOMPARE(f.cbComSpeed->GetText(), std::string("9600"));

        struct Step {
            void (TMainForm::*send)();
            std::uint8_t code;
            int speed;
            TBaudRate rate;
        };
        const Step steps[] = {
            {&TMainForm::send_cmd_Set115200, cmd_Set115200, 115200, br115200},
            {&TMainForm::send_cmd_Set9600, cmd_Set9600, 9600, br9600},
        };
        for (const Step& s : steps) {
            const int before = LogLines(f).size();
            (f.*s.send)();
            QVERIFY(f.ComPort1->Connected());
            QCOMPARE(f.AutoTimer.cmd, s.code);
            QVERIFY(WaitUntil([&] { return rig->Idle(); }, 3000));
            QTRY_COMPARE_WITH_TIMEOUT(f.ComPort1->BaudRate(), s.rate, 3000);
            QVERIFY(f.ComPort1->Connected());
            QCOMPARE(rig->emu.ToolSpeed(), s.speed);
            QCOMPARE(f.cbComSpeed->GetText(), std::string("9600"));
            QCOMPARE(f.GetCommand.Header().Command, s.code);
            const QStringList lines = LogLines(f).mid(before);
            QCOMPARE(lines.size(), 2);
            QVERIFY2(IsAnswerLine(lines[1], s.code), qPrintable(lines[1]));

            // Deliveries go on over the reopened port, at the new speed.
            QTRY_COMPARE_WITH_TIMEOUT(rig->emu.Speed(), s.speed, 3000);
            f.btnTestConnection->click();
            QVERIFY(WaitUntil([&] { return LogLines(f).size() >= before + 5; }, 3000));
            QCOMPARE(LogLines(f).last(), QStringLiteral("cmd_TestConnect"));
            QVERIFY(rig->Idle());
        }
        QVERIFY(rig->dialogs.messages.isEmpty());
        QVERIFY(rig->dialogs.errors.isEmpty());
    }

    // The port can't be opened: nothing is sent, the local switch still runs,
    // and its own open fails into the error dialog; the new speed is kept.
    void switchOnAPortThatCannotBeOpened()
    {
        TMainForm& f = *rig->form;
        const auto holder = rig->HoldPort(); // in use elsewhere
        QCOMPARE(f.cbComName->GetText(), rig->emu.SlavePath());
        const QString cantOpen = cCantOpenText + QString::fromStdString(rig->emu.SlavePath());

        f.btnSetHiSpeed->click();
        QCOMPARE(rig->dialogs.messages, QStringList{cantOpen});
        QCOMPARE(rig->dialogs.errors, QStringList{QStringLiteral("COM Port Error: Unable to open com port on ") +
                                                 QString::fromStdString(rig->emu.SlavePath())});
        QVERIFY(!f.ComPort1->Connected());
        QCOMPARE(f.ComPort1->BaudRate(), br115200);
        QCOMPARE(f.cbComSpeed->GetText(), std::string("115200"));
        // No frame is listed; only the reason the port would not open.
        QCOMPARE(LogLines(f), QStringList{QStringLiteral("Port %1 jest używany przez inny program.")
                                              .arg(QString::fromStdString(rig->emu.SlavePath()))});
        QVERIFY(rig->emu.Frames().empty());
        QVERIFY(rig->Idle());
        QTRY_VERIFY_WITH_TIMEOUT(!f.Timer1->isActive(), 2000);
        QCOMPARE(rig->dialogs.messages.size(), 1);
    }
};

QTEST_MAIN(TestSpeed)
#include "test_speed.moc"
