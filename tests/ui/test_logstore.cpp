// The operator log's line store alone: every line and its time read back
// exactly where lines meet the end of a 1 MiB block or of an index chunk,
// with a line longer than a block, and after clearing.
#include "ui/LogStore.h"

#include <QtTest>

#include <string>

namespace {
// Line i of a run: `bytes(i)` long, Polish letters (2 bytes, 1 unit) now and then.
std::string Text(std::size_t i, std::size_t bytes, char salt)
{
    std::string s;
    while (s.size() < bytes)
        s += (i + s.size()) % 11 == 0 && s.size() + 2 <= bytes ? std::string("ś") : std::string(1, char('a' + (i + s.size() + salt) % 26));
    return s;
}
std::size_t Units(const std::string& s)
{
    return std::size_t(QString::fromUtf8(s.data(), qsizetype(s.size())).size());
}
} // namespace

class TestLogStore : public QObject {
    Q_OBJECT
private slots:
    void linesReadBack_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("bytes");  // a line's length; 0: varying 0..96
        QTest::addColumn<int>("longAt"); // a line of 1.5 MiB here, or -1
        QTest::addColumn<bool>("clearedFirst");
        // 58 bytes a line: a block ends inside line 18,078.
        QTest::newRow("58-byte lines over two blocks") << 40000 << 58 << -1 << false;
        QTest::newRow("varying lines over three chunks") << 50000 << 0 << -1 << false;
        QTest::newRow("a line longer than a block") << 20000 << 0 << 16384 << false;
        QTest::newRow("after clearing") << 40000 << 58 << 18078 << true;
    }
    void linesReadBack()
    {
        QFETCH(int, lines);
        QFETCH(int, bytes);
        QFETCH(int, longAt);
        QFETCH(bool, clearedFirst);
        const auto length = [&](std::size_t i) {
            return int(i) == longAt ? std::size_t(3) << 19 : bytes ? std::size_t(bytes) : i * 37 % 97;
        };
        const std::int64_t t0 = 1765370000123;
        TLogStore store;
        if (clearedFirst) {
            for (std::size_t i = 0; i < 30000; ++i)
                store.Append(Text(i, 70, 'x'), 70, 1);
            store.Clear();
            QCOMPARE(store.Lines(), std::size_t(0));
            QCOMPARE(store.BytesHeld(), std::size_t(0));
        }
        std::uint64_t chars = 0;
        for (std::size_t i = 0; i < std::size_t(lines); ++i) {
            const std::string s = Text(i, length(i), 'a');
            store.Append(s, Units(s), t0 + std::int64_t(i) * 7);
        }
        QCOMPARE(store.Lines(), std::size_t(lines));
        for (std::size_t i = 0; i < std::size_t(lines); ++i) {
            const std::string s = Text(i, length(i), 'a');
            if (store.Line(i) != s || store.Time(i) != t0 + std::int64_t(i) * 7 || store.CharsBefore(i) != chars)
                QFAIL(qPrintable(QStringLiteral("line %1 of %2 read back as %3 bytes")
                                     .arg(i).arg(lines).arg(store.Line(i).size())));
            // The line holding its own first character, times' columns in front or not.
            QCOMPARE(store.LineAtOffset(chars + i * 15, 14), i);
            QCOMPARE(store.LineAtOffset(chars + i, 0), i);
            chars += Units(s);
        }
        QCOMPARE(store.Chars(), chars);
    }
};

QTEST_GUILESS_MAIN(TestLogStore)
#include "test_logstore.moc"
