// The brightness group and the version label: answers shown in the controls,
// the coupling of the field with "Automat", and answers of unusual length.
#include "tests/common/WindowRig.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "ui/SpinEdit.h"

namespace {
// A sealed answer with the given code and payload.
TBytes RawAnswer(std::uint8_t code, const TBytes& payload)
{
    TBytes f(cHeaderSize, '\0');
    f[0] = char(cBusStart);
    f[1] = char(code);
    f[2] = char(cHeaderSize + payload.size() + 2);
    f += payload;
    f += "\r\n";
    SealFrame(f);
    return f;
}

// Waits for `line` to be added as the last line of the log.
bool WaitForLastLine(const TMainForm& f, const QString& line, int count)
{
    return WaitUntil([&] {
        const QStringList l = LogLines(f);
        return l.size() >= count && l.last() == line;
    }, 3000);
}
} // namespace

class TestBrightness : public TWindowTest {
    Q_OBJECT
private slots:
    void fetchedBrightnessSetsFieldAndAutomat_data()
    {
        QTest::addColumn<int>("controller");
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("field");
        QTest::addColumn<bool>("automat");
        QTest::newRow("0 ticks Automat") << 0 << 9 << 0 << true;
        QTest::newRow("7") << 7 << 0 << 7 << false;
        QTest::newRow("5") << 5 << 0 << 5 << false;
        QTest::newRow("200 shows 15") << 200 << 0 << 15 << false;
    }
    void fetchedBrightnessSetsFieldAndAutomat()
    {
        QFETCH(int, controller);
        QFETCH(int, before);
        QFETCH(int, field);
        QFETCH(bool, automat);
        TMainForm& f = *rig->form;
        f.seJasnosc->setValue(before);
        QCOMPARE(f.cbAuto->isChecked(), before == 0);
        rig->emu.SetBrightness(std::uint8_t(controller));

        f.btnPobierz->click();
        QVERIFY(WaitForLastLine(f, QStringLiteral("cmd_getJasnosc"), 3));
        QCOMPARE(f.GetCommand.Jasnosc(), std::uint8_t(controller));
        QCOMPARE(f.seJasnosc->value(), field);
        QCOMPARE(f.cbAuto->isChecked(), automat);
        QVERIFY(rig->Idle());
        QVERIFY(rig->dialogs.messages.isEmpty());
    }

    void setBrightnessReachesTheController()
    {
        TMainForm& f = *rig->form;
        rig->emu.SetBrightness(0);
        f.seJasnosc->setValue(7);
        QVERIFY(!f.cbAuto->isChecked());
        f.btnUstaw->click();
        QVERIFY(WaitForLastLine(f, QStringLiteral("cmd_setJasnosc"), 3));
        QCOMPARE(rig->emu.Brightness(), std::uint8_t(7));
        const TBytes sent = rig->emu.Frames().back();
        QCOMPARE(sent.size(), cSendJasnoscSize);
        QCOMPARE(std::uint8_t(sent[8]), std::uint8_t(7));
        QVERIFY(VerifyFrame(sent));
        // Read back through "Pobierz".
        f.seJasnosc->setValue(0);
        f.btnPobierz->click();
        QVERIFY(WaitForLastLine(f, QStringLiteral("cmd_getJasnosc"), 6));
        QCOMPARE(f.seJasnosc->value(), 7);
    }

    // A value typed above 15 counts as 15; "Ustaw" sends what the field holds.
    void typedValueAboveRange()
    {
        TMainForm& f = *rig->form;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        f.PageControl->setCurrentWidget(f.tabBasic);
        f.seJasnosc->setFocus();
        QVERIFY(f.cbAuto->isChecked());
        QTest::keyClick(f.seJasnosc, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(f.seJasnosc, QStringLiteral("40"));
        f.btnUstaw->click();
        QVERIFY(rig->emu.WaitForFrames(1, 3000));
        QCOMPARE(HexText(rig->emu.Frames().back()), QStringLiteral("1B 06 0C 00 15 3C 00 00 0F 00 0D 0A "));
        QCOMPARE(f.seJasnosc->value(), 15);
        QVERIFY(!f.cbAuto->isChecked());

        f.seJasnosc->setValue(0);
        QVERIFY(f.cbAuto->isChecked());
    }

    // Ticking "Automat" zeroes the field however it is ticked (a click, the
    // keyboard, the accessibility toggle action, which emits no click);
    // clearing it leaves the field at 0, and "Ustaw" then still sends 0.
    void automatTickAndClear_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("click") << 0;
        QTest::newRow("space key") << 1;
        QTest::newRow("accessible toggle") << 2;
    }
    void automatTickAndClear()
    {
        QFETCH(int, how);
        TMainForm& f = *rig->form;
        const auto tick = [&] {
            if (how == 0) {
                f.cbAuto->click();
            } else if (how == 1) {
                QTest::keyClick(f.cbAuto, Qt::Key_Space);
            } else {
                QAccessibleInterface* a = QAccessible::queryAccessibleInterface(f.cbAuto);
                QVERIFY(a && a->actionInterface());
                a->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
            }
        };
        f.seJasnosc->setValue(9);
        QVERIFY(!f.cbAuto->isChecked());
        tick();
        QVERIFY(f.cbAuto->isChecked());
        QCOMPARE(f.seJasnosc->value(), 0);
        tick();
        QVERIFY(!f.cbAuto->isChecked());
        QCOMPARE(f.seJasnosc->value(), 0);

        f.btnUstaw->click();
        QVERIFY(rig->emu.WaitForFrames(1, 3000));
        QCOMPARE(HexText(rig->emu.Frames().back()), QStringLiteral("1B 06 0C 00 FB E8 00 00 00 00 0D 0A "));
        QVERIFY(WaitForLastLine(f, QStringLiteral("cmd_setJasnosc"), 3));
        // The box stays as the operator left it; only a change of the field moves it.
        QVERIFY(!f.cbAuto->isChecked());
        f.seJasnosc->setValue(3);
        QVERIFY(!f.cbAuto->isChecked());
        f.seJasnosc->setValue(0);
        QVERIFY(f.cbAuto->isChecked());
    }

    void versionLabel_data()
    {
        QTest::addColumn<quint32>("firmware");
        QTest::addColumn<int>("board");
        QTest::addColumn<QString>("label");
        QTest::newRow("102/2") << quint32(102) << 2 << QStringLiteral("Wersja firmware 1.02. Wersja sprzętowa 2.00");
        QTest::newRow("5") << quint32(5) << 2 << QStringLiteral("Wersja firmware 0.05. Wersja sprzętowa 2.00");
        QTest::newRow("1234/3") << quint32(1234) << 3 << QStringLiteral("Wersja firmware 12.34. Wersja sprzętowa 3.00");
        // Unsigned 32-bit: never shown negative.
        QTest::newRow("max") << quint32(4294967295u) << 255
                             << QStringLiteral("Wersja firmware 42949672.95. Wersja sprzętowa 255.00");
    }
    void versionLabel()
    {
        QFETCH(quint32, firmware);
        QFETCH(int, board);
        QFETCH(QString, label);
        TMainForm& f = *rig->form;
        QCOMPARE(f.lVersion->text(), QStringLiteral("(...)"));
        rig->emu.SetVersion(firmware, std::uint8_t(board));
        f.BitBtn2->click();
        QVERIFY(WaitForLastLine(f, QStringLiteral("cmd_getVersion"), 3));
        QCOMPARE(f.lVersion->text(), label);
        QCOMPARE(f.GetVersion.Wersja(), firmware);
        QVERIFY(rig->Idle());
    }

    // A 12-byte brightness answer updates only its own 12 bytes: the
    // brightness is the one of the previous answer.
    void shortBrightnessAnswerKeepsThePreviousValue()
    {
        TMainForm& f = *rig->form;
        rig->emu.SetBrightness(7);
        f.btnPobierz->click();
        QVERIFY(WaitForLastLine(f, QStringLiteral("cmd_getJasnosc"), 3));
        QCOMPARE(f.seJasnosc->value(), 7);
        const auto previous = f.GetCommand.raw;

        f.seJasnosc->setValue(3);
        const TBytes shortAnswer = RawAnswer(cmd_getJasnosc, Hex("00 0C")); // 12 bytes
        QCOMPARE(shortAnswer.size(), std::size_t(12));
        rig->emu.SendRaw(shortAnswer);
        QVERIFY(WaitForLastLine(f, QStringLiteral("cmd_getJasnosc"), 5));
        QCOMPARE(LogLines(f)[3], HexText(shortAnswer) + QStringLiteral(" Wielkość: 12"));
        QCOMPARE(f.seJasnosc->value(), 7);
        QVERIFY(!f.cbAuto->isChecked());
        for (std::size_t i = 0; i < 12; ++i)
            QCOMPARE(f.GetCommand.raw[i], std::uint8_t(shortAnswer[i]));
        for (std::size_t i = 12; i < 16; ++i)
            QCOMPARE(f.GetCommand.raw[i], previous[i]);
    }

    // An answer longer than the record fills the record and no more.
    void longVersionAnswerIsCutAtTheRecord()
    {
        TMainForm& f = *rig->form;
        const TBytes longAnswer = RawAnswer(cmd_GetVersion, Hex("33 01 00 00 01 04 EE EE EE EE")); // 20 bytes
        QCOMPARE(longAnswer.size(), std::size_t(20));
        // The port is opened on demand; open it through a first exchange.
        f.btnTestConnection->click();
        QVERIFY(WaitForLastLine(f, QStringLiteral("cmd_TestConnect"), 3));
        rig->emu.SendRaw(longAnswer);
        QVERIFY(WaitForLastLine(f, QStringLiteral("cmd_getVersion"), 5));
        QCOMPARE(f.lVersion->text(), QStringLiteral("Wersja firmware 3.07. Wersja sprzętowa 4.00"));
        for (std::size_t i = 0; i < 16; ++i)
            QCOMPARE(f.GetVersion.raw[i], std::uint8_t(longAnswer[i]));
    }
};

QTEST_MAIN(TestBrightness)
#include "test_brightness.moc"
