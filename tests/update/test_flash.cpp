// The update image, the page table and the two update files, without a window.
#include "UpdateFiles.h"

#include "protocol/flashpage.h"
#include "update/FileFacts.h"
#include "update/flash.h"

#include <QtTest>

#include <functional>
#include <sys/stat.h>

namespace {
// The peak of resident memory, VmHWM, in KiB.
long PeakKiB()
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').at(0).toLong();
    return -1;
}

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
        QTest::addColumn<QString>("name"); // made by the row: "fifo" a FIFO; "/..." as it is
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << QStringLiteral("missing.qgf") << QString::fromUtf8(std::strerror(ENOENT));
        QTest::newRow("directory") << QStringLiteral(".") << QString::fromUtf8(std::strerror(EISDIR));
        QTest::newRow("FIFO without a writer") << QStringLiteral("fifo") << QStringLiteral("It is a FIFO");
        QTest::newRow("endless device") << QStringLiteral("/dev/zero") << QStringLiteral("It is a device");
    }
    void unreadableFile()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const std::string path = name.startsWith('/') ? name.toStdString() : dir.filePath(name).toStdString();
        if (name == "fifo")
            QVERIFY(::mkfifo(path.c_str(), 0600) == 0 || errno == EEXIST);
        // Every way in refuses it alike, and a refused CPU file changes nothing.
        const int before = SendFlash.PartFileSize;
        const std::function<void()> loads[] = {[&] { LoadFromFile(path); }, [&] { LoadGraphics(path); },
                                               [&] { LoadCpuFirmware(path); }, [&] { FileSha256(path); },
                                               [&] { InspectUpdateFile(path, true); }};
        for (const auto& load : loads) {
            try {
                load();
                QFAIL("no error");
            } catch (const EFlashFile& e) {
                const QString text = QString::fromUtf8(e.what());
                QVERIFY2(text.contains(QString::fromStdString(path)) && text.contains(reason), e.what());
            }
        }
        QCOMPARE(SendFlash.PartFileSize, before);
    }

    void longFileReadBounded()
    {
        // 600 MB, sparse: only the image's bytes are read, so the peak of
        // resident memory grows by about the image, not by the file.
        const QString path = dir.filePath("long.qgf");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.write(Pattern(1048576, 4)) == 1048576 && f.resize(600LL << 20));
        f.close();
        QFile reset("/proc/self/clear_refs"); // "5": the peak starts afresh
        QVERIFY(reset.open(QIODevice::WriteOnly) && reset.write("5") == 1);
        reset.close();
        const long before = PeakKiB();
        LoadGraphics(path.toStdString());
        QVERIFY2(PeakKiB() - before < 32 * 1024, qPrintable(QString::number(PeakKiB() - before)));
        QCOMPARE(PageBytes(4095).left(8), Pattern(1048576, 4).mid(1048320, 8));
    }

    void sha256_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("digest");
        QTest::newRow("empty") << QByteArray()
                               << "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
        QTest::newRow("abc") << QByteArray("abc")
                             << "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
        QTest::newRow("56 bytes, two blocks of padding")
            << QByteArray("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")
            << "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";
        QTest::newRow("112 bytes")
            << QByteArray("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu")
            << "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1";
        QTest::newRow("a million a, read in pieces") << QByteArray(1000000, 'a')
                                                     << "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
    }
    void sha256()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, digest);
        QCOMPARE(QString::fromStdString(FileSha256(Path("sha.bin", bytes))), digest);
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
