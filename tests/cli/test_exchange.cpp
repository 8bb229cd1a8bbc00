// The plain line exchange without a window: the terminal program's serial
// line against the emulator over a pseudo-terminal.
#include "CliRig.h"
#include "cli/PortLine.h"
#include "protocol/flashpage.h"
#include "tests/common/Hex.h"
#include "tests/protocol/PageAnswerRows.h"

#include <QtTest>

namespace {
struct TCounter : IExchangeObserver {
    int retries = 0, confirmed = 0;
    void Retry(std::uint8_t, int, int) override { ++retries; }
    void PageConfirmed(int) override { ++confirmed; }
};
enum EFault { None, Echo, EchoThenAnswer, Drop, ConfirmAhead, ConfirmEarlier };
} // namespace
Q_DECLARE_METATYPE(EFault)
Q_DECLARE_METATYPE(TExchangeResult)

class TestLineExchange : public QObject {
    Q_OBJECT
private slots:
    void exchange_data();
    void exchange();
    void pageAnswers_data() { PageAnswerRows(); }
    void pageAnswers();
    void answers_data();
    void answers();
};

void TestLineExchange::exchange_data()
{
    QTest::addColumn<bool>("page");
    QTest::addColumn<EFault>("fault");
    QTest::addColumn<int>("retries");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<int>("framesSent");
    // retries 0 where the fault alone must leave the frame unanswered
    QTest::newRow("answer taken") << false << None << 0 << true << 1;
    QTest::newRow("echo is no answer") << false << Echo << 0 << false << 1;
    QTest::newRow("echo, then the answer") << false << EchoThenAnswer << 0 << true << 1;
    QTest::newRow("retry, then success") << false << Drop << 2 << true << 2;
    QTest::newRow("page: echo is no confirmation") << true << Echo << 0 << false << 1;
    QTest::newRow("page: confirmation of the next page ignored") << true << ConfirmAhead << 0 << false << 1;
    QTest::newRow("page: ahead, then resent and confirmed") << true << ConfirmAhead << 1 << true << 2;
    QTest::newRow("page: confirmation of the page before ignored") << true << ConfirmEarlier << 0 << false << 1;
    QTest::newRow("page: dropped, resent, confirmed") << true << Drop << 1 << true << 2;
}

void TestLineExchange::exchange()
{
    QFETCH(bool, page);
    QFETCH(EFault, fault);
    QFETCH(int, retries);
    QFETCH(bool, answered);
    QFETCH(int, framesSent);

    TCliRig rig;
    int seen = 0;
    rig.SetHook([&](const std::string& frame) {
        if (seen++ > 0)
            return; // the fault hits the first frame only
        if (fault == Echo || fault == EchoThenAnswer)
            rig.emu.SendRaw(frame);
        if (fault == Echo || fault == Drop)
            rig.emu.DropAnswers(1);
        if (fault == ConfirmAhead)
            rig.emu.ConfirmPageAt(0x2100);
        if (fault == ConfirmEarlier)
            rig.emu.ConfirmPageAt(0x1F00);
    });
    TPortLine line(rig.emu.SlavePath());
    line.Open(9600);
    TCounter counter;
    TLineExchange ex(line, counter);
    ex.Retries = retries;

    std::uint8_t data[256];
    for (int i = 0; i < 256; ++i)
        data[i] = std::uint8_t(i ^ 0x5A);
    TExchangeResult r;
    if (page) {
        // Page 0x20: address 0x2000.
        r = ex.Transfer(0x20, 0x20, [&](int k) { return TPageRef{std::uint32_t(k) * 256, data}; });
        QCOMPARE(ex.NextPage(), answered ? 0x21 : 0x20);
        QCOMPARE(counter.confirmed, answered ? 1 : 0);
    } else {
        r = ex.Command(BuildCommandFrame(cmd_GetVersion));
        if (answered)
            QCOMPARE(HexOf(ex.Answer()), HexOf(BuildAnswerFrame(cmd_GetVersion, 102, rec_ResponseOK, 2)));
    }
    QCOMPARE(r, answered ? TExchangeResult::Answered : TExchangeResult::NoAnswer);
    QCOMPARE(counter.retries, framesSent - 1);
    QCOMPARE(int(rig.emu.Frames().size()), framesSent);
}

// The rule book's table: what the frame means, and how the terminal exchange
// acts on it with one resend: the page on the line is taken as soon as its
// bytes are in, a refusal is resent at once and named when the tries run out,
// and everything else is ignored until the wait runs out.
void TestLineExchange::pageAnswers()
{
    QFETCH(QByteArray, frame);
    QFETCH(TPageAnswer, answer);
    tProgramFlashPageConfirm c;
    const TTransferPages pages{cRowFirst, cRowLast, cRowOnLine};
    QCOMPARE(ClassifyPageAnswer(c, reinterpret_cast<const std::uint8_t*>(frame.data()), std::int32_t(frame.size()), pages),
             answer);

    TEmulator::Options o;
    o.pace = false;
    TCliRig rig(o);
    rig.SetHook([&](const std::string& f) {
        if (f.size() == tProgramFlashPage::cSize && std::uint8_t(f[9]) == cRowOnLine) {
            rig.emu.DropAnswers(1);
            rig.emu.SendRaw(frame.toStdString());
        }
    });
    TPortLine line(rig.emu.SlavePath());
    line.Open(9600);
    TCounter counter;
    TLineExchange ex(line, counter);
    ex.Retries = 1;
    ex.AnswerWaitMs = 1000;
    std::uint8_t data[256] = {};
    QElapsedTimer t;
    t.start();
    const TExchangeResult r =
        ex.Transfer(cRowFirst, cRowLast, [&](int k) { return TPageRef{std::uint32_t(k) * 256, data}; });
    const qint64 ms = t.elapsed();
    const bool taken = answer == TPageAnswer::OnLine;
    const bool refused = answer == TPageAnswer::Refused;
    QCOMPARE(r, taken ? TExchangeResult::Answered : refused ? TExchangeResult::Refused : TExchangeResult::NoAnswer);
    QCOMPARE(ex.NextPage(), taken ? cRowLast + 1 : cRowOnLine);
    QCOMPARE(counter.retries, taken ? 0 : 1);
    QCOMPARE(int(rig.emu.PageAddresses().size()), taken ? cRowLast - cRowFirst + 1 : cRowOnLine - cRowFirst + 2);
    if (refused)
        QCOMPARE(QString::fromStdString(RefusedText(ex.LastResponse(), ex.NextPage())),
                 QStringLiteral("the controller answered %1 for page 26")
                     .arg(frame[12] == rec_ResponseWrong ? "Wrong (2)" : "Repeat (3)"));
    // Neither waits for the time-out.
    if (taken || refused)
        QVERIFY2(ms < ex.AnswerWaitMs, qPrintable(QString::number(ms)));
}

void TestLineExchange::answers_data()
{
    QTest::addColumn<std::uint8_t>("code");
    QTest::addColumn<int>("noiseGapMs"); // -1: none
    QTest::addColumn<std::uint8_t>("response");
    QTest::addColumn<TExchangeResult>("result");
    // With retries 0: a lost answer is a failure at once.
    QTest::newRow("noise 27 just before the answer") << cmd_GetVersion << 0 << rec_ResponseOK << TExchangeResult::Answered;
    QTest::newRow("noise 27 20 ms before the answer") << cmd_GetVersion << 20 << rec_ResponseOK << TExchangeResult::Answered;
    QTest::newRow("Wrong") << cmd_TestConnect << -1 << rec_ResponseWrong << TExchangeResult::Refused;
    QTest::newRow("Repeat") << cmd_GetVersion << -1 << rec_ResponseRepeat << TExchangeResult::Refused;
    QTest::newRow("command 3 answered Wrong") << cmd_UpgreadeCPU << -1 << rec_ResponseWrong << TExchangeResult::Refused;
}

void TestLineExchange::answers()
{
    QFETCH(std::uint8_t, code);
    QFETCH(int, noiseGapMs);
    QFETCH(std::uint8_t, response);
    QFETCH(TExchangeResult, result);
    TCliRig rig;
    if (noiseGapMs >= 0)
        rig.emu.NoiseBeforeAnswer(std::string(1, char(cBusStart)), noiseGapMs);
    if (response != rec_ResponseOK)
        rig.emu.SetResponse(response);
    TPortLine line(rig.emu.SlavePath());
    line.Open(9600);
    TCounter counter;
    TLineExchange ex(line, counter);
    ex.Retries = noiseGapMs >= 0 ? 0 : 2; // a refusal is not asked again
    QCOMPARE(ex.Command(BuildCommandFrame(code)), result);
    QCOMPARE(int(rig.emu.Frames().size()), 1);
    QCOMPARE(std::uint8_t(ex.Answer().at(cOffResponse)), response);
    if (result == TExchangeResult::Refused) {
        QCOMPARE(ex.LastResponse(), response);
        QCOMPARE(QString::fromStdString(RefusedText(ex.LastResponse())),
                 response == rec_ResponseWrong ? QStringLiteral("the controller answered Wrong (2)")
                                               : QStringLiteral("the controller answered Repeat (3)"));
    }
}

QTEST_GUILESS_MAIN(TestLineExchange)
#include "test_exchange.moc"
