// The answer wait: the timeout box when no good answer comes, re-arming,
// the countdown held while the box is open, and answers that cross.
#include "tests/common/WindowRig.h"

#include <QPushButton>

#include <stdexcept>

namespace {
// Records, at every line added to the log, the line and the pending command.
struct TLogProbe {
    QStringList lines;
    std::vector<int> cmdAtLine;
    TLogProbe(TMainForm& f)
    {
        QObject::connect(f.Memo1, &TLogView::textChanged, f.Memo1, [this, &f] {
            const QStringList now = LogLines(f);
            if (now.size() > lines.size()) {
                lines << now.last();
                cmdAtLine.push_back(f.AutoTimer.cmd);
            }
        });
    }
};
} // namespace

class TestTimeout : public TWindowTest {
    Q_OBJECT
private slots:
    void missingAnswerShowsTheBoxOnce()
    {
        TMainForm& f = *rig->form;
        rig->emu.DropAnswers(1);
        QElapsedTimer sinceSend;
        qint64 boxAt = -1;
        rig->dialogs.onMessage = [&](const QString&) { boxAt = sinceSend.elapsed(); };

        f.btnTestConnection->click();
        sinceSend.start();
        QVERIFY(rig->emu.WaitForFrames(1, 3000));
        QTRY_COMPARE_WITH_TIMEOUT(rig->dialogs.messages.size(), 1, 5000);
        QCOMPARE(rig->dialogs.messages[0], cTimeoutText);
        QVERIFY2(boxAt >= 1000, qPrintable(QString::number(boxAt)));
        QVERIFY2(boxAt <= 3000, qPrintable(QString::number(boxAt)));

        // Nothing is resent or armed after the box: the countdown stops.
        QVERIFY(rig->Idle());
        QVERIFY(!f.Timer1->isActive());
        QCOMPARE(LogLines(f), QStringList{QStringLiteral("1B 01 0A 00 5B C2 00 00 0D 0A  wielkość: 10")});
        QCOMPARE(rig->emu.Frames().size(), std::size_t(1));
        QCOMPARE(rig->dialogs.messages.size(), 1);
        QVERIFY(rig->dialogs.errors.isEmpty());
    }

    // An answer that fails its checksum is logged but confirms nothing.
    void badAnswerStillTimesOut()
    {
        TMainForm& f = *rig->form;
        rig->emu.CorruptChecksum(1);
        f.btnPobierz->click();
        QTRY_COMPARE_WITH_TIMEOUT(LogLines(f).size(), 2, 3000);
        QVERIFY(!rig->Idle());
        QTRY_COMPARE_WITH_TIMEOUT(rig->dialogs.messages, QStringList{cTimeoutText}, 5000);
        QCOMPARE(LogLines(f).size(), 2);
        QVERIFY(rig->Idle());
    }

    void echoIsNoAnswer()
    {
        rig->emu.SetLoopback(true);
        rig->form->btnTestConnection->click();
        QTRY_COMPARE_WITH_TIMEOUT(rig->dialogs.messages, QStringList{cTimeoutText}, 5000);
        const QString sent = QStringLiteral("1B 01 0A 00 5B C2 00 00 0D 0A ");
        QCOMPARE(LogLines(*rig->form), (QStringList{sent + " wielkość: 10", sent + " Wielkość: 10"}));
    }

    // Sending again while an answer is awaited restarts the count.
    void rearmingRestartsTheWait()
    {
        TMainForm& f = *rig->form;
        rig->emu.DropAnswers(2);
        f.btnTestConnection->click();
        QVERIFY(WaitUntil([&] { return f.AutoTimer.interval <= TimerInterval / 2; }, 3000));
        QVERIFY(rig->dialogs.messages.isEmpty());

        QElapsedTimer sinceSecond;
        qint64 boxAt = -1;
        rig->dialogs.onMessage = [&](const QString&) { boxAt = sinceSecond.elapsed(); };
        f.btnRestart->click();
        sinceSecond.start();
        QCOMPARE(f.AutoTimer.cmd, cmd_Restart);
        QCOMPARE(f.AutoTimer.interval, TimerInterval);
        QTRY_COMPARE_WITH_TIMEOUT(rig->dialogs.messages.size(), 1, 5000);
        QVERIFY2(boxAt >= 1000, qPrintable(QString::number(boxAt)));
        QTRY_VERIFY_WITH_TIMEOUT(!f.Timer1->isActive(), 2000);
        QCOMPARE(rig->dialogs.messages, QStringList{cTimeoutText});
    }

    // While the box is open the window keeps running and may send again (the
    // static text animation does); the count for that command starts only
    // when the box is closed, so no second box stacks on the first.
    void countdownHeldWhileTheBoxIsOpen()
    {
        TMainForm& f = *rig->form;
        rig->emu.DropAnswers(2);
        bool countedInsideBox = true;
        bool timerRanInsideBox = true;
        QElapsedTimer sinceFirstBox;
        qint64 secondBoxAt = -1;
        rig->dialogs.onMessage = [&](const QString&) {
            if (rig->dialogs.messages.size() == 1) {
                f.send_cmd_TestConnect();
                QVERIFY(rig->emu.WaitForFrames(2, 3000));
                // 300 ms are 25 ticks: any countdown would show.
                countedInsideBox =
                    WaitUntil([&] { return f.AutoTimer.interval != TimerInterval; }, 300);
                timerRanInsideBox = f.Timer1->isActive();
                sinceFirstBox.start();
            } else {
                secondBoxAt = sinceFirstBox.elapsed();
            }
        };
        f.btnTestConnection->click();
        QTRY_COMPARE_WITH_TIMEOUT(rig->dialogs.messages.size(), 1, 5000);
        QVERIFY(!countedInsideBox);
        QVERIFY(!timerRanInsideBox);
        // Closed: the second command's wait now runs its full length.
        QCOMPARE(f.AutoTimer.cmd, cmd_TestConnect);
        QVERIFY(f.Timer1->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(rig->dialogs.messages.size(), 2, 5000);
        QVERIFY2(secondBoxAt >= 1000, qPrintable(QString::number(secondBoxAt)));
        QCOMPARE(rig->dialogs.messages, (QStringList{cTimeoutText, cTimeoutText}));
        QVERIFY(rig->Idle());
    }

    // An error that leaves the tick handler from inside its box reaches the
    // error dialog, and the countdown still goes on for what is awaited.
    void countdownSurvivesAnErrorInsideTheBox()
    {
        TMainForm& f = *rig->form;
        rig->emu.DropAnswers(2);
        rig->dialogs.onMessage = [&](const QString&) {
            if (rig->dialogs.messages.size() == 1) {
                f.send_cmd_Restart();
                throw std::runtime_error("tick handler failed");
            }
        };
        f.btnTestConnection->click();
        QTRY_COMPARE_WITH_TIMEOUT(rig->dialogs.errors, QStringList{QStringLiteral("tick handler failed")}, 5000);
        QCOMPARE(f.AutoTimer.cmd, cmd_Restart);
        QVERIFY(f.Timer1->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(rig->dialogs.messages.size(), 2, 5000);
        QCOMPARE(rig->dialogs.messages, (QStringList{cTimeoutText, cTimeoutText}));
        QVERIFY(rig->Idle());
        QTRY_VERIFY_WITH_TIMEOUT(!f.Timer1->isActive(), 2000);
        QCOMPARE(rig->dialogs.errors.size(), 1);
    }

    // Two commands in quick succession: the first answer ends the wait for
    // the second command; the second answer still runs its handler.
    void answersOfTwoQuickCommands()
    {
        TMainForm& f = *rig->form;
        TLogProbe probe(f);
        // Apart enough that each answer arrives on its own.
        rig->emu.SetAnswerDelayMs(300);
        f.btnTestConnection->click();
        f.btnRestart->click();
        QCOMPARE(f.AutoTimer.cmd, cmd_Restart);

        QVERIFY(WaitUntil([&] { return LogLines(f).size() >= 6; }, 4000));
        const QStringList lines = LogLines(f);
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[0], QStringLiteral("1B 01 0A 00 5B C2 00 00 0D 0A  wielkość: 10"));
        QCOMPARE(lines[1], QStringLiteral("1B 02 0A 00 1F EF 00 00 0D 0A  wielkość: 10"));
        QVERIFY2(IsAnswerLine(lines[2], cmd_TestConnect), qPrintable(lines[2]));
        QCOMPARE(lines[3], QStringLiteral("cmd_TestConnect"));
        QVERIFY2(IsAnswerLine(lines[4], cmd_Restart), qPrintable(lines[4]));
        QCOMPARE(lines[5], QStringLiteral("cmd_Restart"));
        // Restart was awaited when the test connection's answer came in, and
        // that answer ended the wait; Restart's answer found nothing armed.
        QCOMPARE(probe.lines, lines);
        QCOMPARE(probe.cmdAtLine[2], int(cmd_Restart));
        QCOMPARE(probe.cmdAtLine[3], 0);
        QCOMPARE(probe.cmdAtLine[4], 0);
        QCOMPARE(probe.cmdAtLine[5], 0);
        QTRY_VERIFY_WITH_TIMEOUT(!f.Timer1->isActive(), 2000);
        QVERIFY(rig->dialogs.messages.isEmpty());
    }
};

QTEST_MAIN(TestTimeout)
#include "test_timeout.moc"
