// The text and graphics pages of the main window against the controller
// emulator: frames on the line from the buttons, the text windows' table
// behind the controls, the preview, the animation and the structure listing.
#include "tests/common/WindowRig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>

#include <set>

namespace {

// A frame as the emulator receives it: the checksum put in as the
// transmitter does (the hex may give it or leave it 00 00).
QString OnLine(const char* hex)
{
    TBytes f = Hex(hex);
    SealFrame(f);
    return HexText(f);
}

void Type(QWidget* w, const QString& text)
{
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(w))
        spin->selectAll();
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->selectAll();
    // keyClicks knows Latin-1 only: each character goes as its own key event.
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// The window selector as the operator uses it: typing into it.
void TypeWindow(TMainForm& f, const char* text)
{
    Type(f.cbad->lineEdit(), QString::fromLatin1(text));
}

using TSetup = std::function<void(TMainForm&)>;

std::set<QRgb> Colours(const QImage& img)
{
    std::set<QRgb> out;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            out.insert(img.pixel(x, y));
    return out;
}

// Bounding box of the pixels of `colour`.
QRect Extent(const QImage& img, QRgb colour)
{
    QRect r;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) == colour)
                r |= QRect(x, y, 1, 1);
    return r;
}

const QRgb cRed = qRgb(255, 0, 0);
const QRgb cBlack = qRgb(0, 0, 0);

std::int16_t FrameX(const TBytes& frame) { return std::int16_t(GetLE16(reinterpret_cast<const std::uint8_t*>(frame.data()) + 16)); }

} // namespace

class TestContentPages : public TWindowTest {
    Q_OBJECT
    TMainForm* f = nullptr;

private slots:
    void init()
    {
        TWindowTest::init();
        f = rig ? rig->form.get() : nullptr;
        QVERIFY(f);
    }
    void cleanup()
    {
        f = nullptr;
        TWindowTest::cleanup();
    }

    void framesOnTheLine_data()
    {
        QTest::addColumn<TSetup>("setup");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("frame");
        QTest::newRow("static text at start") << TSetup([](TMainForm&) {}) << "btnCbstSend"
            << OnLine("1B 07 33 00 AE 23 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 50 72 7A 79 6B 8C 61 64 6F "
                      "77 79 20 74 65 6B 73 74 20 73 74 61 74 79 63 7A 6E 79 0D 0A");
        QTest::newRow("typed Polish static text")
            << TSetup([](TMainForm& m) {
                   Type(m.est, QStringLiteral("Żółć"));
                   Type(m.sestX, QStringLiteral("-1"));
                   Type(m.sestY, QStringLiteral("5"));
                   m.cbst->setCurrentIndex(8);
                   m.cbstt->setCurrentIndex(0); // "Czarny" on "Czerwony"
                   m.cbstb->setCurrentIndex(1);
               })
            << "btnCbstSend"
            << OnLine("1B 07 1C 00 00 00 00 00 00 00 00 00 01 00 00 00 FF FF 05 00 08 00 88 8D 8C 8A 0D 0A");
        QTest::newRow("window 8 unchanged")
            << TSetup([](TMainForm& m) { TypeWindow(m, "8"); })
            << "btnCbsdSend"
            << OnLine("1B 08 2C 00 39 7C 00 00 01 00 00 00 00 00 00 00 07 00 00 00 00 00 00 00 80 00 20 00 05 00 "
                      "44 79 6E 2E 20 54 65 6B 73 74 20 38 0D 0A");
        QTest::newRow("window 2 changed")
            << TSetup([](TMainForm& m) {
                   TypeWindow(m, "2");
                   Type(m.sedL, QStringLiteral("-10"));
                   m.sedT->setValue(4);
                   m.sedW->setValue(64);
                   Type(m.sedH, QStringLiteral("16"));
                   m.sedHoriz->setValue(-100);
                   Type(m.sedVert, QStringLiteral("100"));
               })
            << "btnCbsdSend"
            << OnLine("1B 08 2C 00 B2 D9 00 00 01 00 00 00 00 00 00 00 01 00 00 00 F6 FF 04 00 40 00 10 00 9C 64 "
                      "44 79 6E 2E 20 54 65 6B 73 74 20 32 0D 0A");
        QTest::newRow("window 1 Polish text, a letter Windows-1250 lacks")
            << TSetup([](TMainForm& m) { Type(m.esd, QStringLiteral("Łódź Ж")); })
            << "btnCbsdSend"
            << OnLine("1B 08 26 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 80 00 20 00 05 00 "
                      "83 8D 64 90 20 3F 0D 0A");
        // With no window selected a send lands in the spare entry: all zero,
        // no text, Frame 65535; the edit's text is not what is sent.
        QTest::newRow("no window selected")
            << TSetup([](TMainForm& m) {
                   const QSignalBlocker block(m.cbad);
                   m.cbad->setCurrentIndex(-1);
               })
            << "btnCbsdSend"
            << OnLine("1B 08 20 00 00 00 00 00 00 00 00 00 00 00 00 00 FF FF 00 00 00 00 00 00 "
                      "00 00 00 00 00 00 0D 0A");
        QTest::newRow("logo typed 80, held at 64")
            << TSetup([](TMainForm& m) { Type(m.seLogo, QStringLiteral("80")); })
            << "btnSendLogo" << OnLine("1B 0C 0C 00 5A 84 00 00 40 00 0D 0A");
        QTest::newRow("logo typed as no number")
            << TSetup([](TMainForm& m) {
                   m.seLogo->setValue(7);
                   Type(m.seLogo, QStringLiteral("ab"));
               })
            << "btnSendLogo" << OnLine("1B 0C 0C 00 72 9C 00 00 01 00 0D 0A");
    }
    void framesOnTheLine()
    {
        QFETCH(TSetup, setup);
        QFETCH(QString, button);
        QFETCH(QString, frame);
        setup(*f);
        f->findChild<QPushButton*>(button)->click();
        QVERIFY(rig->emu.WaitForFrames(1, 3000));
        QCOMPARE(rig->Received(), QStringList{frame});
        QTRY_VERIFY_WITH_TIMEOUT(rig->Idle(), 3000);
        QVERIFY(rig->dialogs.messages.isEmpty());
        QVERIFY(rig->dialogs.errors.isEmpty());
    }

    // A paste longer than the edits take is cut at 199 characters.
    void longestTexts_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("size");
        QTest::newRow("static text") << "est" << "btnCbstSend" << 223;
        QTest::newRow("text window") << "esd" << "btnCbsdSend" << 231;
    }
    void longestTexts()
    {
        QFETCH(QString, edit);
        QFETCH(QString, button);
        QFETCH(int, size);
        auto* e = f->findChild<QLineEdit*>(edit);
        e->selectAll();
        e->insert(QString(250, QChar(u'ś')));
        QCOMPARE(e->text().size(), 199);
        f->findChild<QPushButton*>(button)->click();
        QVERIFY(rig->emu.WaitForFrames(1, 3000));
        const TBytes sent = rig->emu.Frames().at(0);
        QCOMPARE(int(sent.size()), size);
        QCOMPARE(sent.substr(sent.size() - 3), TBytes("\x8F\x0D\x0A"));
    }

    void windowsKeepTheirSettings()
    {
        // At start the page shows window "1", not the layout's values.
        QCOMPARE(f->cbsdt->currentIndex(), 1);
        QCOMPARE(f->cbsdb->currentIndex(), 0);
        QCOMPARE(f->cbsd->currentText(), QStringLiteral("Czcionka 8x8 1"));
        const QList<int> start{f->sedL->value(), f->sedT->value(), f->sedW->value(), f->sedH->value(),
                               f->sedHoriz->value(), f->sedVert->value()};
        QCOMPARE(start, (QList<int>{0, 0, 128, 32, 5, 0}));
        QCOMPARE(f->esd->text(), QStringLiteral("Dyn. Tekst 1"));

        TypeWindow(*f, "2");
        f->sedW->setValue(64);
        f->cbsd->setCurrentIndex(13);
        TypeWindow(*f, "1");
        QCOMPARE(f->sedW->value(), 128);
        QCOMPARE(f->cbsd->currentIndex(), 0);
        TypeWindow(*f, "2");
        QCOMPARE(f->sedW->value(), 64);
        QCOMPARE(f->cbsd->currentIndex(), 13);
        QCOMPARE(f->esd->text(), QStringLiteral("Dyn. Tekst 2"));

        // Text naming no window brings back window "1".
        TypeWindow(*f, "9");
        QCOMPARE(f->cbad->currentIndex(), 0);
        QCOMPARE(f->cbad->currentText(), QStringLiteral("1"));
        QCOMPARE(f->sedW->value(), 128);
        QCOMPARE(f->esd->text(), QStringLiteral("Dyn. Tekst 1"));
        QCOMPARE(f->WindowTextFrames[1].Width, std::int16_t(64));
    }

    void previewAtStartAndFonts_data()
    {
        QTest::addColumn<int>("font");
        QTest::addColumn<int>("points");
        QTest::addColumn<int>("pixels"); // at the bitmap's 96 dpi
        QTest::newRow("Czcionka 8x8 8") << 7 << 8 << 11;
        QTest::newRow("Czcionka 16x16 1") << 8 << 16 << 21;
        QTest::newRow("Czcionka 32x32 1") << 12 << 32 << 43;
        QTest::newRow("Czcionka 64x64 2") << 15 << 64 << 85;
    }
    void previewAtStartAndFonts()
    {
        QFETCH(int, font);
        QFETCH(int, points);
        QFETCH(int, pixels);
        const QImage& img = f->StImageCanvas.Bitmap;
        QCOMPARE(img.size(), QSize(128, 32));
        QCOMPARE(img.depth(), 24);
        QVERIFY(!f->Timer2->isActive());
        QCOMPARE(f->StImageCanvas.Font.family(), QStringLiteral("Arial"));
        QCOMPARE(f->StImageCanvas.Font.pointSize(), 8);
        // Red text on black, nothing in between.
        QCOMPARE(Colours(img), (std::set<QRgb>{cBlack, cRed}));

        f->cbst->setCurrentIndex(font);
        QCOMPARE(f->StImageCanvas.Font.pointSize(), points);
        QCOMPARE(Colours(img), (std::set<QRgb>{cBlack, cRed}));
        const QRect text = Extent(img, cRed);
        // The cell's top is at y 0: the capital P starts at the cap line.
        const QFontMetrics fm(f->StImageCanvas.Font, &img);
        QVERIFY2(qAbs(text.top() - (fm.ascent() - fm.capHeight())) <= 2, qPrintable(QString::number(text.top())));
        QVERIFY(text.left() <= 1 + points / 8);
        QVERIFY(text.height() <= pixels);
        if (text.bottom() < 31) // not cut by the bitmap's edge
            QVERIFY(text.height() > pixels / 2);
        // Moving the cell moves the text by exactly as many pixels.
        f->sestX->setValue(3);
        f->sestY->setValue(2);
        QCOMPARE(Extent(img, cRed).topLeft(), text.topLeft() + QPoint(3, 2));
        // The label shows that bitmap, each pixel as a 3 x 3 block.
        QCOMPARE(f->stImage->pixmap().toImage().convertToFormat(QImage::Format_RGB888),
                 img.scaled(384, 96, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    }

    void colourShowsAtTheNextRedraw()
    {
        const QImage before = f->StImageCanvas.Bitmap.copy();
        f->cbstt->setCurrentIndex(0); // "Czarny"
        QCOMPARE(f->SelectorColour(f->cbstt), QColor(0, 0, 0));
        QCOMPARE(f->StImageCanvas.Bitmap, before);
        f->sestY->setValue(2);
        QCOMPARE(Colours(f->StImageCanvas.Bitmap), std::set<QRgb>{cBlack});
        f->cbstb->setCurrentIndex(1);
        QCOMPARE(Colours(f->StImageCanvas.Bitmap), std::set<QRgb>{cBlack});
        f->est->setText(QStringLiteral("Ż"));
        QCOMPARE(Colours(f->StImageCanvas.Bitmap), (std::set<QRgb>{cBlack, cRed}));
        QCOMPARE(Extent(f->StImageCanvas.Bitmap, cRed), QRect(0, 0, 128, 32) );
    }

    void dragOverPreview_data()
    {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("mods");
        QTest::addColumn<QPoint>("expected");
        const int left = Qt::LeftButton;
        QTest::newRow("left to (200, 50)") << QPoint(200, 50) << left << 0 << QPoint(66, 16);
        QTest::newRow("just left of the area") << QPoint(-2, 2) << left << 0 << QPoint(0, 0);
        QTest::newRow("Ctrl held") << QPoint(200, 50) << left << int(Qt::ControlModifier) << QPoint(5, 7);
        QTest::newRow("left and right") << QPoint(200, 50) << int(Qt::LeftButton | Qt::RightButton) << 0 << QPoint(5, 7);
        QTest::newRow("no button") << QPoint(200, 50) << 0 << 0 << QPoint(5, 7);
    }
    void dragOverPreview()
    {
        QFETCH(QPoint, at);
        QFETCH(int, buttons);
        QFETCH(int, mods);
        QFETCH(QPoint, expected);
        f->sestX->setValue(5);
        f->sestY->setValue(7);
        const QImage before = f->StImageCanvas.Bitmap.copy();
        QMouseEvent move(QEvent::MouseMove, QPointF(at), f->stImage->mapToGlobal(QPointF(at)), Qt::NoButton,
                         Qt::MouseButtons(buttons), Qt::KeyboardModifiers(mods));
        QCoreApplication::sendEvent(f->stImage, &move);
        QCOMPARE(QPoint(f->sestX->value(), f->sestY->value()), expected);
        if (expected == QPoint(5, 7)) {
            QCOMPARE(f->StImageCanvas.Bitmap, before);
        } else {
            QCOMPARE(QPoint(f->PosX, f->PosY), expected);
            // Redrawn with the text's cell at the new place.
            const QRect r = Extent(f->StImageCanvas.Bitmap, cRed);
            QVERIFY(f->StImageCanvas.Bitmap != before);
            QVERIFY(!r.isEmpty() && r.left() >= expected.x() && r.top() >= expected.y());
        }
        QVERIFY(rig->emu.Frames().empty()); // a drag sends nothing
    }

    // The same through the window system: the press on the preview keeps
    // the pointer's moves coming to it also outside the area.
    void dragWithTheMouse()
    {
        f->PageControl->setCurrentWidget(f->TabText);
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
        QTest::mousePress(f->stImage, Qt::LeftButton, {}, QPoint(30, 30));
        QTest::mouseMove(f->stImage, QPoint(200, 50));
        QCOMPARE(QPoint(f->sestX->value(), f->sestY->value()), QPoint(66, 16));
        QTest::mouseMove(f->stImage, QPoint(-3, 400));
        QCOMPARE(QPoint(f->sestX->value(), f->sestY->value()), QPoint(-1, 133));
        QTest::mouseRelease(f->stImage, Qt::LeftButton, {}, QPoint(-3, 400));
        QTest::mouseMove(f->stImage, QPoint(90, 9));
        QCOMPARE(QPoint(f->sestX->value(), f->sestY->value()), QPoint(-1, 133));
    }

    void rates_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("interval");
        QTest::newRow("1") << 0 << 1000;
        QTest::newRow("3") << 2 << 333;
        QTest::newRow("16") << 15 << 62;
        QTest::newRow("25") << 24 << 40;
    }
    void rates()
    {
        QFETCH(int, position);
        QFETCH(int, interval);
        QCOMPARE(f->Timer2->interval(), 40);
        f->cbAnimating->setCurrentIndex(position);
        QCOMPARE(f->Timer2->interval(), interval);
    }

    void animationWrapsOnTheLine()
    {
        f->sestX->setValue(127);
        f->cbAnimate->setChecked(true);
        QVERIFY(f->Timer2->isActive());
        f->Timer2->setInterval(3600000); // the ticks are the test's, not a loaded machine's
        for (int tick = 0; tick < 3; ++tick)
            QVERIFY(QMetaObject::invokeMethod(f->Timer2, "timeout"));
        QVERIFY(rig->emu.WaitForFrames(3, 60000));
        f->cbAnimate->click();
        QVERIFY(!f->Timer2->isActive());
        const auto frames = rig->emu.Frames();
        QCOMPARE(FrameX(frames[0]), std::int16_t(128));
        QCOMPARE(FrameX(frames[1]), std::int16_t(0));
        QCOMPARE(FrameX(frames[2]), std::int16_t(1));
        QVERIFY(rig->dialogs.messages.isEmpty());
    }

    void failingPortStopsTheAnimationWithOneMessage()
    {
        const auto holder = rig->HoldPort();
        bool runningAtMessage = true;
        rig->dialogs.onMessage = [&](const QString&) {
            runningAtMessage = f->cbAnimate->isChecked() || f->Timer2->isActive();
        };
        f->cbAnimate->setChecked(true);
        QVERIFY(WaitUntil([&] { return !rig->dialogs.messages.isEmpty(); }, 3000));
        QVERIFY(!runningAtMessage);
        QVERIFY(!WaitUntil([&] { return rig->dialogs.messages.size() > 1; }, 400));
        QCOMPARE(rig->dialogs.messages, QStringList{cCantOpenText + QString::fromStdString(rig->emu.SlavePath())});
        QCOMPARE(f->sestX->value(), 1);
    }

    // The line lost while the animation runs: one box, and the animation off.
    void unpluggedLineStopsTheAnimationWithOneBox()
    {
        f->cbAnimate->setChecked(true);
        QVERIFY(WaitUntil([&] { return !rig->emu.Frames().empty(); }, 3000));
        rig->emu.Unplug();
        QVERIFY(WaitUntil([&] { return rig->dialogs.messages.size() + rig->dialogs.errors.size() > 0; }, 3000));
        QVERIFY(!f->cbAnimate->isChecked());
        QVERIFY(!f->Timer2->isActive());
        QVERIFY(!WaitUntil([&] { return rig->dialogs.Count() > 1; }, 400));
        QCOMPARE(rig->dialogs.Count(), 1);
    }

    void structureListingTwice()
    {
        f->btshowStruc->click();
        f->btnCbstSend->click(); // what the records hold does not matter
        QVERIFY(rig->emu.WaitForFrames(1, 3000));
        QTRY_VERIFY_WITH_TIMEOUT(rig->Idle(), 3000);
        const QStringList first = LogLines(*f);
        f->btnClearMemo->click();
        f->btshowStruc->click();
        f->btshowStruc->click();
        const QStringList lines = LogLines(*f);
        QCOMPARE(lines.size(), 58);
        QCOMPARE(lines.mid(29), lines.mid(0, 29));
        QCOMPARE(first.mid(0, 29), lines.mid(0, 29));
        QCOMPARE(lines[0], QStringLiteral("SendText"));
        QCOMPARE(lines[27], QStringLiteral("232\tLength SendTextFrame"));
    }

    void pickOnlySelectorsAndThePreviewsDescription()
    {
        for (QComboBox* box : {f->cbstt, f->cbstb, f->cbst, f->cbAnimating, f->cbsdt, f->cbsdb, f->cbsd})
            QVERIFY2(!box->isEditable(), qPrintable(box->objectName()));
        QVERIFY(f->cbad->isEditable());
        QVERIFY(!f->stImage->accessibleName().isEmpty());
        QVERIFY(f->stImage->accessibleDescription().contains(QStringLiteral("128 × 32")));
    }
};

QTEST_MAIN(TestContentPages)
#include "test_pages.moc"
