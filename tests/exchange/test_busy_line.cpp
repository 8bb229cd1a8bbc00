// A busy line: a good answer with a long tail in the same read, and noise
// that keeps the window pausing while an answer is awaited.
#include "tests/common/WindowRig.h"

#include <QPushButton>

#include <atomic>
#include <thread>

class TestBusyLine : public TWindowTest {
    Q_OBJECT
private slots:
    // After a pause of the window more than the receiver's ring may be
    // waiting; the answer at its head must still be handled.
    void answerFollowedByALongTailInOneRead_data()
    {
        QTest::addColumn<int>("tail");
        QTest::newRow("1500 bytes") << 1500;
        QTest::newRow("4000 bytes") << 4000;
    }
    void answerFollowedByALongTailInOneRead()
    {
        QFETCH(int, tail);
        TMainForm& f = *rig->form;
        rig->emu.SetPace(false);
        rig->emu.DropAnswers(1);
        f.btnTestConnection->click();
        QVERIFY(rig->emu.WaitForFrames(1, 3000));

        // The window stays busy until answer and tail are all waiting.
        const TBytes answer = BuildAnswerFrame(cmd_TestConnect, 0, rec_ResponseOK, 0);
        rig->emu.SendRaw(answer + std::string(std::size_t(tail), 'x'));
        QElapsedTimer t;
        t.start();
        while (f.ComPort1->InputCount() < std::int32_t(answer.size()) + tail && t.elapsed() < 3000)
            QThread::msleep(5);
        QCOMPARE(f.ComPort1->InputCount(), std::int32_t(answer.size()) + tail);

        QVERIFY(WaitUntil([&] { return rig->Idle(); }, 3000));
        QCOMPARE(LogLines(f).mid(1), (QStringList{HexText(answer) + QStringLiteral(" Wielkość: 16"),
                                                   QStringLiteral("cmd_TestConnect")}));
        QVERIFY(WaitUntil([&] { return f.ComPort1->InputCount() == 0; }, 3000));
        QVERIFY(rig->dialogs.messages.isEmpty());
    }

    // A start byte every 60 ms costs the receiver a 50 ms pause each time;
    // the wait for a missing answer still lasts 100 tick periods.
    void noiseDoesNotStretchTheAnswerWait()
    {
        TMainForm& f = *rig->form;
        rig->emu.SetPace(false);
        rig->emu.DropAnswers(1);
        std::atomic<bool> stop{false};
        std::thread noise([&] {
            while (!stop) {
                rig->emu.SendRaw("\x1b\r\n");
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
            }
        });
        QElapsedTimer sinceSend;
        qint64 boxAt = -1;
        rig->dialogs.onMessage = [&](const QString&) { boxAt = sinceSend.elapsed(); };
        f.btnTestConnection->click();
        sinceSend.start();
        const bool shown = WaitUntil([&] { return boxAt >= 0; }, 8000);
        stop = true;
        noise.join();
        QVERIFY(shown);
        QCOMPARE(rig->dialogs.messages, QStringList{cTimeoutText});
        // 100 periods of 12 ms, plus at most a pause and a tick of lateness.
        QVERIFY2(boxAt >= 1100 && boxAt <= 2500, qPrintable(QString::number(boxAt)));
    }
};

QTEST_MAIN(TestBusyLine)
#include "test_busy_line.moc"
