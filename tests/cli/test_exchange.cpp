// The plain line exchange without a window: the terminal program's serial
// line against the emulator over a pseudo-terminal.
#include "CliRig.h"
#include "cli/PortLine.h"
#include "protocol/flashpage.h"
#include "tests/common/Hex.h"

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

class TestLineExchange : public QObject {
    Q_OBJECT
private slots:
    void exchange_data();
    void exchange();
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

QTEST_GUILESS_MAIN(TestLineExchange)
#include "test_exchange.moc"
