// Byte-level display content: controller codes, the three frames byte for
// byte (sealed as the transmitter seals them), the window table, the code
// page of the stored texts, and the structure listing's text.
#include "content/CodePage.h"
#include "content/StructListing.h"
#include "content/TextRecords.h"
#include "content/Transliteration.h"
#include "protocol/frame.h"

#include <QtTest>

#include <string>

namespace {

QByteArray Hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }
QByteArray Sealed(TBytes frame)
{
    SealFrame(frame);
    return QByteArray(frame.data(), qsizetype(frame.size()));
}
std::u16string U(const QString& s) { return s.toStdU16String(); }

} // namespace

class TestContentBytes : public QObject {
    Q_OBJECT
private slots:
    void transliteration_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("codes");
        QTest::newRow("empty") << QString() << QByteArray();
        QTest::newRow("18 letters") << QStringLiteral("ĄĆĘŁÓŃŚŹŻąćęłóńśźż")
                                    << Hex("80 81 82 83 84 85 86 87 88 89 8A 8B 8C 8D 8E 8F 90 91");
        QTest::newRow("Ż ó ł ć") << QStringLiteral("Żółć") << Hex("88 8D 8C 8A");
        QTest::newRow("é € Č") << QStringLiteral("é€Č") << Hex("E9 AC 0C");
        QTest::newRow("outside the BMP") << QString::fromUcs4(U"a\U0001F600b") << Hex("61 3D 00 62");
        QTest::newRow("layout default")
            << QStringLiteral("Przykładowy tekst statyczny")
            << Hex("50 72 7A 79 6B 8C 61 64 6F 77 79 20 74 65 6B 73 74 20 73 74 61 74 79 63 7A 6E 79");
    }
    void transliteration()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, codes);
        const std::u16string u = U(text);
        // Sentinels behind the room each operation may use must stay.
        std::uint8_t plain[64], ss[64];
        std::memset(plain, 0xEE, sizeof plain);
        std::memset(ss, 0xEE, sizeof ss);
        StringToAnsiChar(u, plain);
        StringToAnsiCharSS(u, ss);
        const auto n = qsizetype(u.size());
        QCOMPARE(QByteArray(reinterpret_cast<char*>(plain), n + 2), codes + Hex("00 EE"));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(ss), n + 4), codes + Hex("0D 0A 00 EE"));
    }

    void staticTextFrames_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("color");
        QTest::addColumn<int>("back");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("font");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("at start") << QStringLiteral("Przykładowy tekst statyczny") << 1 << 0 << 0 << 0 << 0
            << Hex("1B 07 33 00 AE 23 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 50 72 7A 79 6B 8C 61 64 6F "
                   "77 79 20 74 65 6B 73 74 20 73 74 61 74 79 63 7A 6E 79 0D 0A");
        QTest::newRow("empty") << QString() << 1 << 0 << 0 << 0 << 0
            << Hex("1B 07 18 00 A8 06 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 0D 0A");
        QTest::newRow("Żółć at -1,5 font 8") << QStringLiteral("Żółć") << 1 << 0 << -1 << 5 << 8
            << Hex("1B 07 1C 00 93 91 00 00 01 00 00 00 00 00 00 00 FF FF 05 00 08 00 88 8D 8C 8A 0D 0A");
    }
    void staticTextFrames()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, frame);
        const std::u16string u = U(text);
        tStaticText s;
        QFETCH(int, color);
        QFETCH(int, back);
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(int, font);
        s = {std::uint32_t(color), std::uint32_t(back), x, y, font, u};
        tSendText rec;
        QCOMPARE(Sealed(BuildSendText(rec, s)), frame);
        QCOMPARE(rec.Header.ChSum, std::uint16_t(0)); // the record keeps ChSum 0
    }

    void windowFrames_data()
    {
        QTest::addColumn<int>("window");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("1") << 0
            << Hex("1B 08 2C 00 44 1D 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 80 00 20 00 05 00 "
                   "44 79 6E 2E 20 54 65 6B 73 74 20 31 0D 0A");
        QTest::newRow("8") << 7
            << Hex("1B 08 2C 00 39 7C 00 00 01 00 00 00 00 00 00 00 07 00 00 00 00 00 00 00 80 00 20 00 05 00 "
                   "44 79 6E 2E 20 54 65 6B 73 74 20 38 0D 0A");
        QTest::newRow("2 changed") << 1
            << Hex("1B 08 2C 00 B2 D9 00 00 01 00 00 00 00 00 00 00 01 00 00 00 F6 FF 04 00 40 00 10 00 9C 64 "
                   "44 79 6E 2E 20 54 65 6B 73 74 20 32 0D 0A");
    }
    void windowFrames()
    {
        QFETCH(int, window);
        QFETCH(QByteArray, frame);
        TWindowTextFrames table;
        table.SetDefaults();
        tWindowTextFrame& two = table[1];
        two.Left = -10, two.Top = 4, two.Width = 64, two.Height = 16, two.StepHoriz = -100, two.StepVert = 100;
        tSendTextFrame rec;
        QCOMPARE(Sealed(BuildSendTextFrame(rec, window, table[window])), frame);
    }

    void spareEntry()
    {
        TWindowTextFrames table;
        table.SetDefaults();
        QCOMPARE(table[-1].Text, std::string()); // no defaults for the spare entry
        QCOMPARE(table[-1].Width, std::int16_t(0));
        table[-1].Text = std::string(1, 'x');
        QCOMPARE(table[0].Text, std::string("Dyn. Tekst 1"));
        tSendTextFrame rec;
        const TBytes f = BuildSendTextFrame(rec, -1, table[-1]);
        QCOMPARE(QByteArray(f.data(), qsizetype(f.size())),
                 Hex("1B 08 21 00 00 00 00 00 00 00 00 00 00 00 00 00 FF FF 00 00 00 00 00 00 00 00 00 00 00 00 "
                     "78 0D 0A"));
    }

    void logoFrames_data()
    {
        QTest::addColumn<int>("logo");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("1") << 1 << Hex("1B 0C 0C 00 72 9C 00 00 01 00 0D 0A");
        QTest::newRow("64") << 64 << Hex("1B 0C 0C 00 5A 84 00 00 40 00 0D 0A");
    }
    void logoFrames()
    {
        QFETCH(int, logo);
        QFETCH(QByteArray, frame);
        QCOMPARE(Sealed(BuildLogoFrame(std::uint8_t(logo))), frame);
    }

    // 199 characters fill the text field; anything longer is cut there and
    // never written past the record.
    void longTexts_data()
    {
        QTest::addColumn<int>("length");
        QTest::newRow("199") << 199;
        QTest::newRow("250 cut") << 250;
    }
    void longTexts()
    {
        QFETCH(int, length);
        const std::u16string text(std::size_t(length), u'ż');
        tSendText st;
        const TBytes a = BuildSendText(st, {1, 0, 0, 0, 0, text});
        QCOMPARE(a.size(), std::size_t(223));
        QCOMPARE(GetLE16(reinterpret_cast<const std::uint8_t*>(a.data()) + 2), std::uint16_t(223));
        QCOMPARE(a.substr(218), TBytes("\x91\x91\x91\x0D\x0A", 5));
        // LF lands in the record's CR field, the zero byte (not sent) in its LF.
        QCOMPARE(st.CR, std::uint8_t(10));
        QCOMPARE(st.LF, std::uint8_t(0));
        TWindowTextFrames table;
        table.SetDefaults();
        table[0].Text = ToWindows1250(text, cMaxStoredText);
        QCOMPARE(table[0].Text.size(), std::size_t(std::min(length, 200)));
        tSendTextFrame fr;
        const TBytes b = BuildSendTextFrame(fr, 0, table[0]);
        QCOMPARE(b.size(), std::size_t(231));
        QCOMPARE(b.substr(226), TBytes("\x91\x91\x91\x0D\x0A", 5));
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
        QCOMPARE(lines.size(), 29);
        QCOMPARE(lines.join(QLatin1Char('\n')), expected);
    }
};

QTEST_APPLESS_MAIN(TestContentBytes)
#include "test_bytes.moc"
