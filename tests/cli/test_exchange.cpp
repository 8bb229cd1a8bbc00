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
enum EFault { None, Echo, EchoThenAnswer, Drop, ConfirmAhead, ConfirmEarlier, Noise, NoiseEarly, Wrong, Repeat };
} // namespace
Q_DECLARE_METATYPE(EFault)

class TestLineExchange : public QObject {
    Q_OBJECT
private slots:
    void exchange_data();
    void exchange();
    void pageAnswers_data() { PageAnswerRows(); }
    void pageAnswers();
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
    QTest::newRow("noise 27 just before the answer") << false << Noise << 0 << true << 1;
    QTest::newRow("noise 27 20 ms before the answer") << false << NoiseEarly << 0 << true << 1;
    // Refused at once, not asked again: "answered" here is the refusal.
    QTest::newRow("answered Wrong") << false << Wrong << 2 << true << 1;
    QTest::newRow("answered Repeat") << false << Repeat << 2 << true << 1;
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
        if (fault == Noise || fault == NoiseEarly)
            rig.emu.NoiseBeforeAnswer(std::string(1, char(cBusStart)), fault == Noise ? 0 : 20);
        if (fault == Wrong || fault == Repeat)
            rig.emu.SetResponse(fault == Wrong ? rec_ResponseWrong : rec_ResponseRepeat);
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
        const std::uint8_t response = fault == Wrong ? rec_ResponseWrong : fault == Repeat ? rec_ResponseRepeat : rec_ResponseOK;
        if (answered)
            QCOMPARE(HexOf(ex.Answer()), HexOf(BuildAnswerFrame(cmd_GetVersion, 102, response, 2)));
        if (response != rec_ResponseOK) // the words the refusal is told in
            QCOMPARE(RefusedText(ex.LastResponse()), std::string(fault == Wrong ? "the controller answered Wrong (2)"
                                                                               : "the controller answered Repeat (3)"));
    }
    QCOMPARE(r, fault == Wrong || fault == Repeat ? TExchangeResult::Refused
                : answered                        ? TExchangeResult::Answered
                                                  : TExchangeResult::NoAnswer);
    QCOMPARE(counter.retries, framesSent - 1);
    QCOMPARE(int(rig.emu.Frames().size()), framesSent);
}

// The rule book's table in the terminal exchange, one resend: the page on the
// line is taken as soon as its bytes are in, a refusal is resent at once and
// named when the tries run out, anything else waits the time-out.
void TestLineExchange::pageAnswers()
{
    QFETCH(QByteArray, frame);
    QFETCH(TPageAnswer, answer);
    tProgramFlashPageConfirm c;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.data());
    QCOMPARE(ClassifyPageAnswer(c, bytes, std::int32_t(frame.size()), {cRowFirst, cRowLast, cRowOnLine}), answer);
    TEmulator::Options o;
    o.pace = false;
    TCliRig rig(o);
    rig.SetHook([&](const std::string& f) {
        if (f.size() == tProgramFlashPage::cSize && std::uint8_t(f[9]) == cRowOnLine)
            rig.emu.DropAnswers(1), rig.emu.SendRaw(frame.toStdString());
    });
    TPortLine line(rig.emu.SlavePath());
    line.Open(9600);
    TCounter counter;
    TLineExchange ex(line, counter);
    ex.Retries = 1;
    ex.AnswerWaitMs = 1000;
    static const std::uint8_t data[256] = {};
    QElapsedTimer t;
    t.start();
    const TExchangeResult r = ex.Transfer(cRowFirst, cRowLast, [&](int k) { return TPageRef{std::uint32_t(k) * 256, data}; });
    const bool taken = answer == TPageAnswer::OnLine, refused = answer == TPageAnswer::Refused;
    QCOMPARE(r, taken ? TExchangeResult::Answered : refused ? TExchangeResult::Refused : TExchangeResult::NoAnswer);
    QCOMPARE(int(rig.emu.PageAddresses().size()), (taken ? cRowLast + 1 : cRowOnLine + 2) - cRowFirst);
    QVERIFY2(!(taken || refused) || t.elapsed() < ex.AnswerWaitMs, "waited for the time-out");
    if (refused)
        QCOMPARE(RefusedText(ex.LastResponse(), ex.NextPage()),
                 std::string("the controller answered ") + (frame[12] == 2 ? "Wrong (2)" : "Repeat (3)") + " for page 26");
}

QTEST_GUILESS_MAIN(TestLineExchange)
#include "test_exchange.moc"
