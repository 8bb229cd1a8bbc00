// The update image, the page table and the two update files, without a window.
#include "UpdateFiles.h"

#include "protocol/flashpage.h"
#include "update/flash.h"

#include <QtTest>

namespace {
QByteArray PageBytes(int k)
{
    return QByteArray(reinterpret_cast<const char*>(SendFlash.Part[k].buf), int(cFlashPageSize));
}
} // namespace

class TestFlash : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::string Path(const QString& name, const QByteArray& bytes)
    {
        return WriteFile(dir, name, bytes).toStdString();
    }

private slots:
    void lastPart_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("last");
        QTest::addColumn<bool>("sound");
        QTest::newRow("0") << 0 << 32 << true;
        QTest::newRow("255") << 255 << 32 << true;
        QTest::newRow("256") << 256 << 33 << true;
        QTest::newRow("largest sound") << 192511 << 783 << true;
        QTest::newRow("one page beyond the file") << 192512 << 784 << false;
        QTest::newRow("-1") << -1 << 32 << false;
        QTest::newRow("-4352") << -4352 << 15 << false;
    }
    void lastPart()
    {
        QFETCH(int, size);
        QFETCH(int, last);
        QFETCH(bool, sound);
        QCOMPARE(CpuLastPart(size), last);
        QCOMPARE(CpuSizeSound(size), sound);
    }

    void cpuFileLoaded()
    {
        // Header copied, page 16 the file's start, page 783 its end.
        const QByteArray file = CpuFile(1000);
        QVERIFY(LoadCpuFirmware(Path("cpu.bin", file)));
        QCOMPARE(SendFlash.PartFileSize, 35);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&flashrec), 4096), file.left(4096));
        QCOMPARE(PageBytes(16), file.left(256));
        QCOMPARE(PageBytes(783), file.right(256));
    }

    void cpuFileRefused_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("headerSize");
        QTest::newRow("196607 bytes") << 196607 << 0;
        QTest::newRow("196609 bytes") << 196609 << 0;
        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("negative size") << 196608 << -1;
        QTest::newRow("size past the file") << 196608 << 192512;
        QTest::newRow("huge size") << 196608 << 0x7FFFFFFF;
    }
    void cpuFileRefused()
    {
        QFETCH(int, length);
        QFETCH(int, headerSize);
        // A good load first: a refusal must leave table and header as they were.
        QVERIFY(LoadCpuFirmware(Path("good.bin", CpuFile(256, cCpuFileSize, 9))));
        const QByteArray page16 = PageBytes(16);
        QVERIFY(!LoadCpuFirmware(Path("bad.bin", CpuFile(headerSize, length, 3))));
        QCOMPARE(SendFlash.PartFileSize, 33);
        QCOMPARE(flashrec.size, 256);
        QCOMPARE(PageBytes(16), page16);
    }

    void emptyGraphicsFile()
    {
        // Found by fuzzing: an empty file has nothing to copy, and the bytes
        // of the file before it must still go.
        LoadGraphics(Path("before.qgf", Pattern(300, 7)));
        LoadGraphics(Path("empty.qgf", QByteArray()));
        QCOMPARE(SendFlash.PartFileSize, 4095);
        QCOMPARE(PageBytes(0), QByteArray(256, '\0'));
        QCOMPARE(PageBytes(1), QByteArray(256, '\0'));
    }

    void unreadableFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << QStringLiteral("missing.qgf") << QString::fromUtf8(std::strerror(ENOENT));
        QTest::newRow("directory") << QStringLiteral(".") << QString::fromUtf8(std::strerror(EISDIR));
    }
    void unreadableFile()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const std::string path = dir.filePath(name).toStdString();
        try {
            LoadFromFile(path);
            QFAIL("no error");
        } catch (const EFlashFile& e) {
            const QString text = QString::fromUtf8(e.what());
            QVERIFY2(text.contains(QString::fromStdString(path)) && text.contains(reason), e.what());
        }
    }

    void pageFrame()
    {
        std::uint8_t data[256];
        for (int i = 0; i < 256; ++i)
            data[i] = std::uint8_t(255 - i);
        tProgramFlashPage page;
        page.raw.fill(0xEE);
        page.Build(0x000FFF00, data);
        const std::string bytes(page.Bytes());
        QCOMPARE(QByteArray::fromStdString(bytes.substr(0, 4)).toHex(' '), QByteArray("1b 0b 10 01"));
        QCOMPARE(QByteArray::fromStdString(bytes.substr(6, 8)).toHex(' '),
                 QByteArray("00 00 00 ff 0f 00 00 00"));
        QCOMPARE(std::memcmp(bytes.data() + 14, data, 256), 0);
        QCOMPARE(bytes.substr(270), std::string("\r\n"));
        QVERIFY(VerifyFrame(bytes));

        // A longer confirmation is read by its first 16 bytes; a short one
        // keeps the rest of the previous one.
        tProgramFlashPageConfirm c;
        const TBytes conf = tProgramFlashPageConfirm::Build(4100, rec_ResponseRepeat) + "xyz";
        c.Take(reinterpret_cast<const std::uint8_t*>(conf.data()), std::int32_t(conf.size()));
        QCOMPARE(c.address(), 4100u);
        QCOMPARE(c.Response(), rec_ResponseRepeat);
        const TBytes other = tProgramFlashPageConfirm::Build(0x12345600, rec_ResponseOK);
        c.Take(reinterpret_cast<const std::uint8_t*>(other.data()), 10);
        QCOMPARE(c.address(), 0x00005600u); // 00 56 new, 00 00 from 4100
    }
};

QTEST_APPLESS_MAIN(TestFlash)
#include "test_flash.moc"
