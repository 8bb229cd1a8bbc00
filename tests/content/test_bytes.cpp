// Byte-level display content: controller codes, the frames byte for byte
// (sealed as the transmitter seals them), texts too long for the records,
// the code page of the stored texts, and the structure listing's text.
#include "content/CodePage.h"
#include "content/StructListing.h"
#include "content/TextRecords.h"
#include "content/Transliteration.h"
#include "tests/common/Hex.h"

#include <QtTest>

#include <functional>
#include <string>

using TBuild = std::function<TBytes()>;
Q_DECLARE_METATYPE(TBuild)

namespace {

std::u16string U(const QString& s) { return s.toStdU16String(); }

TBytes WindowFrame(int window, const std::function<void(TWindowTextFrames&)>& change = {})
{
    TWindowTextFrames table;
    table.SetDefaults();
    if (change)
        change(table);
    tSendTextFrame rec;
    return BuildSendTextFrame(rec, window, table[window]);
}

} // namespace

class TestContentBytes : public QObject {
    Q_OBJECT
private slots:
    void transliteration_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("codes");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("18 letters") << QStringLiteral("ĄĆĘŁÓŃŚŹŻąćęłóńśźż")
                                    << "80 81 82 83 84 85 86 87 88 89 8A 8B 8C 8D 8E 8F 90 91";
        QTest::newRow("é € Č") << QStringLiteral("é€Č") << "E9 AC 0C";
        QTest::newRow("outside the BMP") << QString::fromUcs4(U"a\U0001F600b") << "61 3D 00 62";
    }
    void transliteration()
    {
        QFETCH(QString, text);
        QFETCH(QString, codes);
        const std::u16string u = U(text);
        // Sentinels behind the room each operation may use must stay.
        std::uint8_t plain[64], ss[64];
        std::memset(plain, 0xEE, sizeof plain);
        std::memset(ss, 0xEE, sizeof ss);
        StringToAnsiChar(u, plain);
        StringToAnsiCharSS(u, ss);
        const auto bytes = [](const std::uint8_t* p, std::size_t n) { return HexOf(TBytes(p, p + n)); };
        const QString lead = codes.isEmpty() ? codes : codes + ' ';
        QCOMPARE(bytes(plain, u.size() + 2), lead + "00 EE");
        QCOMPARE(bytes(ss, u.size() + 4), lead + "0D 0A 00 EE");
    }

    void frames_data()
    {
        QTest::addColumn<TBuild>("build");
        QTest::addColumn<QString>("frame");
        const auto text = [](const char16_t* t, int color, int back, int x, int y, int font) {
            return TBuild([=] {
                tSendText rec;
                return BuildSendText(rec, {std::uint32_t(color), std::uint32_t(back), x, y, font, t});
            });
        };
        QTest::newRow("empty static text") << text(u"", 1, 0, 0, 0, 0)
            << "1B 07 18 00 A8 06 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 0D 0A";
        QTest::newRow("Żółć at -1,5 font 8") << text(u"Żółć", 1, 0, -1, 5, 8)
            << "1B 07 1C 00 93 91 00 00 01 00 00 00 00 00 00 00 FF FF 05 00 08 00 88 8D 8C 8A 0D 0A";
        QTest::newRow("window 2 changed") << TBuild([] {
            return WindowFrame(1, [](TWindowTextFrames& t) {
                t[1].Left = -10, t[1].Top = 4, t[1].Width = 64, t[1].Height = 16;
                t[1].StepHoriz = -100, t[1].StepVert = 100;
            });
        }) << "1B 08 2C 00 B2 D9 00 00 01 00 00 00 00 00 00 00 01 00 00 00 F6 FF 04 00 40 00 10 00 9C 64 "
              "44 79 6E 2E 20 54 65 6B 73 74 20 32 0D 0A";
        // The spare entry gets no defaults and sends Frame 65535.
        QTest::newRow("spare entry") << TBuild([] {
            return WindowFrame(-1, [](TWindowTextFrames& t) { t[-1].Text.assign(1, 'x'); });
        }) << "1B 08 21 00 D1 36 00 00 00 00 00 00 00 00 00 00 FF FF 00 00 00 00 00 00 00 00 00 00 00 00 "
              "78 0D 0A";
        QTest::newRow("logo 1") << TBuild([] { return BuildLogoFrame(1); })
                                << "1B 0C 0C 00 72 9C 00 00 01 00 0D 0A";
    }
    void frames()
    {
        QFETCH(TBuild, build);
        QFETCH(QString, frame);
        QCOMPARE(HexOf(Sealed(build())), frame);
    }

    // Longer than 199 characters: cut there, never written past the record.
    void tooLongTexts()
    {
        const std::u16string text(250, u'ż');
        tSendText st;
        const TBytes a = BuildSendText(st, {1, 0, 0, 0, 0, text});
        QCOMPARE(a.size(), std::size_t(223));
        QCOMPARE(GetLE16(reinterpret_cast<const std::uint8_t*>(a.data()) + 2), std::uint16_t(223));
        QCOMPARE(HexOf(a.substr(218)), QStringLiteral("91 91 91 0D 0A"));
        // LF lands in the record's CR field, the zero byte (not sent) in its LF.
        QCOMPARE(st.CR, std::uint8_t(10));
        QCOMPARE(st.LF, std::uint8_t(0));
        std::string stored;
        const TBytes b = WindowFrame(0, [&](TWindowTextFrames& t) {
            t[0].Text = ToWindows1250(text, cMaxStoredText);
            stored = t[0].Text;
        });
        QCOMPARE(stored.size(), std::size_t(200));
        QCOMPARE(b.size(), std::size_t(231));
        QCOMPARE(HexOf(b.substr(226)), QStringLiteral("91 91 91 0D 0A"));
    }

    void codePage_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::newRow("Polish letters") << QStringLiteral("ĄĆĘŁÓŃŚŹŻąćęłóńśźż") << QStringLiteral("ĄĆĘŁÓŃŚŹŻąćęłóńśźż");
        QTest::newRow("€ Č é kept") << QStringLiteral("€Čé") << QStringLiteral("€Čé");
        QTest::newRow("lacking") << QStringLiteral("aЖb") << QStringLiteral("a?b");
        QTest::newRow("outside the BMP") << QString::fromUcs4(U"a\U0001F600b") << QStringLiteral("a?b");
    }
    void codePage()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QCOMPARE(QString::fromStdU16String(FromWindows1250(ToWindows1250(U(typed), 200))), stored);
    }

    void structureListing()
    {
        QStringList lines;
        for (const auto& l : StructListingSendText())
            lines << QString::fromStdString(l);
        for (const auto& l : StructListingSendTextFrame())
            lines << QString::fromStdString(l);
        const QString expected = QStringLiteral(
            "SendText\n"
            "0\tSendText.Header \t\t: tHeader;\n"
            "8\tSendText.Color \t\t: uint32;\n"
            "12\tSendText.ColorBack \t: uint32;\n"
            "16\tSendText.X \t\t: int16;\n"
            "18\tSendText.Y \t\t: int16;\n"
            "20\tSendText.Font \t\t: uint16;\n"
            "22\tSendText.Text \t\t: array [1..200] of ansichar;\n"
            "222\tSendText.CR \t\t: uint8\n"
            "223\tSendText.LF \t\t: uint8\n"
            "224\tLength SendText\n"
            "\n"
            "SendTextFrame\n"
            "0\tHeader\t\t: tHeader;\n"
            "8\tColor\t\t: uint32;\n"
            "12\tColorBack\t\t: uint32;\n"
            "16\tFrame\t\t: uint16;\n"
            "18\tFont\t\t: uint16;\n"
            "20\tLeft\t\t: int16;\n"
            "22\tTop\t\t: int16;\n"
            "24\tWidth\t\t: int16;\n"
            "26\tHeight\t\t: int16;\n"
            "28\tStepHoriz\t\t: int8;\n"
            "29\tStepVert\t\t: int8;\n"
            "30\tText\t\t: array [1..200] of ansichar;\n"
            "230\tCR\t\t: uint8;\n"
            "231\tLF\t\t: uint8;\n"
            "232\tLength SendTextFrame\n");
        QCOMPARE(lines.join(QLatin1Char('\n')), expected);
    }
};

QTEST_APPLESS_MAIN(TestContentBytes)
#include "test_bytes.moc"
