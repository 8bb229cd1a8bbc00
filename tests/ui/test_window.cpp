// The main window: start state, layout, names and labels, the operator log,
// and the open/close control with the port selector against pseudo-terminals.
#include "tests/common/WindowRig.h"

#include "emulator/Emulator.h"
#include "protocol/frame.h"
#include "serial/CPort.h"
#include "serial/CPortCtl.h"
#include "ui/MainUnit.h"
#include "ui/SpinEdit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QStringList FontList()
{
    return {"Czcionka 8x8 1",   "Czcionka 8x8 2",   "Czcionka 8x8 3",   "Czcionka 8x8 4",
            "Czcionka 8x8 5",   "Czcionka 8x8 6",   "Czcionka 8x8 7",   "Czcionka 8x8 8",
            "Czcionka 16x16 1", "Czcionka 16x16 2", "Czcionka 16x16 3", "Czcionka 16x16 4",
            "Czcionka 32x32 1", "Czcionka 32x32 2", "Czcionka 64x64 1", "Czcionka 64x64 2"};
}

// Every text the window shows: captions, labels, group titles, tab names,
// and the items of every list (prefixed by the list's name).
QStringList ShownTexts(TMainForm& form)
{
    QStringList out;
    for (QWidget* w : form.findChildren<QWidget*>()) {
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            if (!b->text().isEmpty())
                out << QStringLiteral("button:") + b->text();
        } else if (auto* l = qobject_cast<QLabel*>(w)) {
            if (!l->text().isEmpty())
                out << QStringLiteral("label:") + l->text();
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            out << QStringLiteral("group:") + g->title();
        } else if (auto* t = qobject_cast<QTabWidget*>(w)) {
            for (int i = 0; i < t->count(); ++i)
                out << QStringLiteral("tab:") + t->tabText(i);
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            for (const QString& item : ComboItems(c))
                out << c->objectName() + QLatin1Char(':') + item;
        }
    }
    out.sort();
    return out;
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { TComSelect::SetPortLister(nullptr); }
    void startState()
    {
        TWindowRig rig({"COM2", "COM1"});
        TMainForm& f = rig.F();
        // Timer1 runs from creation; Timer2 waits for the animation.
        QVERIFY(f.Timer1->isActive());
        QCOMPARE(f.Timer1->interval(), cTimer1TickMs);
        QCOMPARE(f.TickMs, cTimer1TickMs);
        QVERIFY(!f.Timer2->isActive());
        QCOMPARE(f.Timer2->interval(), 40);

        QCOMPARE(f.windowTitle(), QStringLiteral("Vornale/Dazoza Quorvantel V1.02 2017-06-12"));
        QCOMPARE(f.size(), QSize(855, 629));
        QCOMPARE(f.PageControl->currentWidget(), f.TabUpdate);
        QCOMPARE(f.PageControl->currentIndex(), 3);
        QCOMPARE(f.PageControlText->currentWidget(), f.TabStatText);
        QCOMPARE(f.lStat->text(), QStringLiteral("Czekam na Twój ruch...."));
        QVERIFY(f.cbAuto->isChecked());
        QCOMPARE(f.seJasnosc->value(), 0);
        QCOMPARE(f.lVersion->text(), QStringLiteral("(...)"));
        QCOMPARE(f.btnOpenClose->text(), QStringLiteral("Open"));
        QVERIFY(f.Memo1->toPlainText().isEmpty());
        QVERIFY(f.Memo1->isReadOnly());
        QCOMPARE(f.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(f.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(!f.cbAnimate->isChecked());
        QCOMPARE(f.pBar->value(), 0);

        // Selectors: "COM1" (item 0 of the sorted list), "9600" (item 7).
        QCOMPARE(ComboItems(f.cbComName), (QStringList{"COM1", "COM2"}));
        QCOMPARE(f.cbComName->currentIndex(), 0);
        QCOMPARE(f.cbComName->GetText(), std::string("COM1"));
        QCOMPARE(f.cbComName->ComSelect().FPort, std::string("COM1"));
        QCOMPARE(f.cbComSpeed->currentIndex(), 7);
        QCOMPARE(f.cbComSpeed->GetText(), std::string("9600"));
        QCOMPARE(f.cbComSpeed->ComSelect().FBaudRate, br9600);
        QVERIFY(f.cbComName->GetAutoApply() && f.cbComSpeed->GetAutoApply());
        QCOMPARE(f.cbComName->GetComProperty(), cpPort);
        QCOMPARE(f.cbComSpeed->GetComProperty(), cpBaudRate);
        QCOMPARE(f.cbComName->GetComPort(), static_cast<TCustomComPort*>(f.ComPort1));
        QCOMPARE(f.cbComSpeed->GetComPort(), static_cast<TCustomComPort*>(f.ComPort1));
        QVERIFY(!f.cbComName->isEditable() && !f.cbComSpeed->isEditable());

        // The port only holds its settings.
        TComPort& p = *f.ComPort1;
        QCOMPARE(p.parent(), static_cast<QObject*>(&f));
        QVERIFY(!p.Connected());
        QVERIFY(!p.ThreadCreated());
        QCOMPARE(p.Port(), std::string("COM1"));
        QCOMPARE(p.BaudRate(), br9600);
        QCOMPARE(p.Parity().Bits(), prNone);
        QCOMPARE(p.StopBits(), sbOneStopBit);
        QCOMPARE(p.DataBits(), dbEight);
        QCOMPARE(p.EventChar(), '\xFF');
        QVERIFY(p.Events() == TComEvents({evRxChar}));
        QCOMPARE(p.Buffer().InputSize(), 512);
        QCOMPARE(p.Buffer().OutputSize(), 512);
        QVERIFY(!p.FlowControl().OutCTSFlow());
        QVERIFY(!p.FlowControl().OutDSRFlow());
        QCOMPARE(p.FlowControl().ControlDTR(), dtrDisable);
        QCOMPARE(p.FlowControl().ControlRTS(), rtsDisable);
        QVERIFY(!p.FlowControl().XonXoffOut());
        QVERIFY(!p.FlowControl().XonXoffIn());
        QVERIFY(bool(p.OnRxChar));
        QCOMPARE(rig.dialogs.Count(), 0);
    }

    // Ranges and the defaults the layout gives.
    void layoutRangesAndDefaults()
    {
        TWindowRig rig({"COM2", "COM1"});
        TMainForm& f = rig.F();
        auto range = [](TSpinEdit* s) { return std::pair{s->minimum(), s->maximum()}; };
        QCOMPARE(range(f.seJasnosc), std::pair(0, 15));
        QCOMPARE(range(f.sestX), std::pair(-1000, 1000));
        QCOMPARE(range(f.sestY), std::pair(-1000, 1000));
        QCOMPARE(range(f.sedL), std::pair(-1000, 1000));
        QCOMPARE(range(f.sedT), std::pair(-1000, 1000));
        QCOMPARE(range(f.sedW), std::pair(1, 128));
        QCOMPARE(range(f.sedH), std::pair(1, 32));
        QCOMPARE(range(f.sedHoriz), std::pair(-100, 100));
        QCOMPARE(range(f.sedVert), std::pair(-100, 100));
        QCOMPARE(range(f.seLogo), std::pair(1, 64));
        QCOMPARE(f.sestX->value(), 0);
        QCOMPARE(f.sestY->value(), 0);
        QCOMPARE(f.seLogo->value(), 1);
        QCOMPARE(f.est->text(), QStringLiteral("Przykładowy tekst statyczny"));
        QCOMPARE(f.est->maxLength(), 199);
        QCOMPARE(f.esd->maxLength(), 199);
        QCOMPARE(f.est->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
        QCOMPARE(f.esd->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
        QCOMPARE(f.cbst->currentIndex(), 0);
        QCOMPARE(f.cbsd->currentIndex(), 0);
        QCOMPARE(f.cbst->maxVisibleItems(), 16);
        QCOMPARE(f.cbsd->maxVisibleItems(), 16);
        QCOMPARE(f.cbAnimating->currentIndex(), 24);
        QCOMPARE(f.cbAnimating->currentText(), QStringLiteral("25"));
        QCOMPARE(f.cbAnimating->maxVisibleItems(), 25);
        QCOMPARE(f.cbad->currentIndex(), 0);
        QVERIFY(f.cbad->isEditable());
        QCOMPARE(f.cbstt->currentIndex(), 1);
        QCOMPARE(f.cbstb->currentIndex(), 0);
        QCOMPARE(f.cbsdt->currentIndex(), 1);
        QCOMPARE(f.cbsdb->currentIndex(), 0);
        // The colour selectors' own colours: red for text, black for background.
        QCOMPARE(TMainForm::SelectorColour(f.cbstt), QColor(255, 0, 0));
        QCOMPARE(TMainForm::SelectorColour(f.cbstb), QColor(0, 0, 0));
        QCOMPARE(TMainForm::SelectorColour(f.cbsdt), QColor(255, 0, 0));
        QCOMPARE(TMainForm::SelectorColour(f.cbsdb), QColor(0, 0, 0));
        QCOMPARE(f.stImage->size(), QSize(384, 96));
        QVERIFY(f.stImage->hasScaledContents());
    }

    void shownTextsAreTheWindowsOwn()
    {
        TWindowRig rig({"COM1"});
        QStringList expected{
            "tab:Podstawowe funkcje", "tab:Teksty", "tab:Grafika", "tab:Aktualizacja",
            "tab:Statyczny tekst", "tab:Tekst dynamiczny określony rozmiarem",
            "button:Open", "button:Show Structs", "button:Test connection", "button:Restart",
            "button:Czyść ekran", "button:Automat", "button:Ustaw", "button:Pobierz",
            "button:Pobierz informacje ze sterownika", "button:Czyść okno z LOGiem",
            "button:Animuj statyczny tekst fps:", "button:Wyślij", "button:Wyślij",
            "button:Wyświetl", "button:Upgreade CPU", "button:komenda Upgreade CPU",
            "button:Flashing GFX", "button:Switch from 115200bps to 9600bps",
            "button:Switch from 9600bps to 115200bps",
            "group:Jasność", "group:Informacja", "group:Rozmiar i położenie okna tekstu",
            "group:Animacja / interwał", "group:Dane nadawane/odbierane ze sterownika",
            "label:(...)", "label:Kolor:", "label:Tło:", "label:Czcionka:", "label:Pos X:",
            "label:Pos Y:", "label:Autonomiczna animacja tekstu numer:", "label:Kolor:",
            "label:Tło:", "label:Czcionka:", "label:Lewy:", "label:Górny:", "label:Szerokość:",
            "label:Wysokość:", "label:W poziomie:", "label:W pionie:", "label:100/x (na [s])",
            "label:100/x (na [s])", "label:Wybierz grafikę:", "label:Czekam na Twój ruch....",
            "cbComName:COM1",
        };
        for (const char* box : {"cbstt", "cbstb", "cbsdt", "cbsdb"})
            for (const char* colour : {"Czarny", "Czerwony"})
                expected << QString::fromLatin1(box) + ':' + QString::fromUtf8(colour);
        for (const QString& font : FontList())
            expected << "cbst:" + font << "cbsd:" + font;
        for (int i = 1; i <= 25; ++i)
            expected << "cbAnimating:" + QString::number(i);
        for (int i = 1; i <= 8; ++i)
            expected << "cbad:" + QString::number(i);
        for (const char* speed : {"Custom", "110", "300", "600", "1200", "2400", "4800", "9600",
                                  "14400", "19200", "38400", "56000", "57600", "115200", "128000",
                                  "256000"})
            expected << QStringLiteral("cbComSpeed:") + speed;
        expected.sort();
        QCOMPARE(ShownTexts(rig.F()), expected);

        // Order where it matters.
        TMainForm& f = rig.F();
        QCOMPARE(ComboItems(f.cbst), FontList());
        QCOMPARE(ComboItems(f.cbsd), FontList());
        QCOMPARE(ComboItems(f.cbstt), (QStringList{"Czarny", "Czerwony"}));
        QCOMPARE(ComboItems(f.cbsdb), (QStringList{"Czarny", "Czerwony"}));
        QCOMPARE(f.cbAnimating->itemText(0), QStringLiteral("1"));
        QCOMPARE(f.cbad->itemText(7), QStringLiteral("8"));
    }

    void everyControlIsNamedAndLabelled()
    {
        TWindowRig rig({"COM1"});
        TMainForm& f = rig.F();
        const QList<std::pair<QObject*, const char*>> members{
    #define M(x) {f.x, #x}
            M(PageControl), M(tabBasic), M(TabText), M(TabGFX), M(TabUpdate), M(btnOpenClose),
            M(cbComName), M(cbComSpeed), M(btshowStruc), M(btnTestConnection), M(btnRestart),
            M(btnClearScreen), M(gbJasnosc), M(cbAuto), M(seJasnosc), M(btnUstaw), M(btnPobierz),
            M(GroupBox2), M(lVersion), M(BitBtn2), M(btnClearMemo), M(PageControlText),
            M(TabStatText), M(TabSheet2), M(cbstt), M(cbstb), M(cbst), M(sestX), M(sestY),
            M(stImage), M(cbAnimate), M(cbAnimating), M(est), M(btnCbstSend), M(cbad), M(cbsdt),
            M(cbsdb), M(cbsd), M(gbRamka), M(sedL), M(sedT), M(sedW), M(sedH), M(gbAnimacja),
            M(sedHoriz), M(sedVert), M(esd), M(btnCbsdSend), M(seLogo), M(btnSendLogo),
            M(btnFlash), M(BitBtn1), M(btnAutoRun), M(btnSet9600), M(btnSetHiSpeed), M(pBar),
            M(gbLog), M(Memo1), M(lStat), M(ComPort1), M(Timer1), M(Timer2),
    #undef M
        };
        QCOMPARE(members.size(), 62);
        for (const auto& [obj, name] : members) {
            QVERIFY2(obj, name);
            QCOMPARE(obj->objectName(), QString::fromLatin1(name));
            QCOMPARE(f.findChild<QObject*>(QString::fromLatin1(name)), obj);
        }

        // Placement: which tab or group holds what.
        QVERIFY(f.tabBasic->isAncestorOf(f.btnOpenClose));
        QVERIFY(f.tabBasic->isAncestorOf(f.btnClearMemo));
        QVERIFY(f.gbJasnosc->isAncestorOf(f.cbAuto) && f.gbJasnosc->isAncestorOf(f.seJasnosc) &&
                f.gbJasnosc->isAncestorOf(f.btnUstaw) && f.gbJasnosc->isAncestorOf(f.btnPobierz));
        QVERIFY(f.GroupBox2->isAncestorOf(f.lVersion) && f.GroupBox2->isAncestorOf(f.BitBtn2));
        QVERIFY(f.TabStatText->isAncestorOf(f.est) && f.TabStatText->isAncestorOf(f.stImage));
        QVERIFY(f.TabSheet2->isAncestorOf(f.cbad) && f.TabSheet2->isAncestorOf(f.esd));
        QVERIFY(f.gbRamka->isAncestorOf(f.sedL) && f.gbRamka->isAncestorOf(f.sedH));
        QVERIFY(f.gbAnimacja->isAncestorOf(f.sedHoriz) && f.gbAnimacja->isAncestorOf(f.sedVert));
        QVERIFY(f.TabGFX->isAncestorOf(f.seLogo));
        QVERIFY(f.TabUpdate->isAncestorOf(f.btnSet9600) && f.TabUpdate->isAncestorOf(f.pBar));
        QVERIFY(f.gbLog->isAncestorOf(f.Memo1));
        QVERIFY(f.TabText->isAncestorOf(f.PageControlText));

        // Labels and their buddies.
        QHash<QWidget*, QString> buddyOf;
        for (QLabel* l : f.findChildren<QLabel*>())
            if (l->buddy())
                buddyOf.insert(l->buddy(), l->text());
        const QList<std::pair<QWidget*, QString>> labelled{
            {f.cbstt, "Kolor:"},      {f.cbstb, "Tło:"},        {f.cbst, "Czcionka:"},
            {f.sestX, "Pos X:"},      {f.sestY, "Pos Y:"},      {f.cbsdt, "Kolor:"},
            {f.cbsdb, "Tło:"},        {f.cbsd, "Czcionka:"},    {f.sedL, "Lewy:"},
            {f.sedT, "Górny:"},       {f.sedW, "Szerokość:"},   {f.sedH, "Wysokość:"},
            {f.sedHoriz, "W poziomie:"}, {f.sedVert, "W pionie:"}, {f.seLogo, "Wybierz grafikę:"},
            {f.cbad, "Autonomiczna animacja tekstu numer:"},
        };
        for (const auto& [w, text] : labelled)
            QCOMPARE(buddyOf.value(w), text);
        QCOMPARE(buddyOf.size(), labelled.size());

        // Inputs without a label carry their name for screen readers; every input
        // has one or the other.
        for (QWidget* w : {static_cast<QWidget*>(f.cbComName), static_cast<QWidget*>(f.cbComSpeed),
                           static_cast<QWidget*>(f.seJasnosc), static_cast<QWidget*>(f.est),
                           static_cast<QWidget*>(f.esd), static_cast<QWidget*>(f.cbAnimating),
                           static_cast<QWidget*>(f.Memo1), static_cast<QWidget*>(f.stImage)})
            QCOMPARE(w->accessibleName(), w->objectName());
        for (QWidget* w : f.findChildren<QWidget*>()) {
            const bool input = qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
                               qobject_cast<TLogView*>(w) ||
                               (qobject_cast<QLineEdit*>(w) && !qobject_cast<QAbstractSpinBox*>(w->parentWidget()) &&
                                !qobject_cast<QComboBox*>(w->parentWidget()));
            if (input)
                QVERIFY2(buddyOf.contains(w) || !w->accessibleName().isEmpty(),
                         qPrintable(w->objectName()));
        }
    }

    void fontsAndGeometry()
    {
        TWindowRig rig({"COM1"});
        TMainForm& f = rig.F();
        QCOMPARE(f.font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(f.font().pixelSize(), 11);
        QCOMPARE(f.btnOpenClose->font().pixelSize(), 11);
        QCOMPARE(f.Memo1->font().pixelSize(), 11);
        for (QWidget* w : {static_cast<QWidget*>(f.seJasnosc), static_cast<QWidget*>(f.sestX),
                           static_cast<QWidget*>(f.sestY), static_cast<QWidget*>(f.sedL),
                           static_cast<QWidget*>(f.sedT), static_cast<QWidget*>(f.sedW),
                           static_cast<QWidget*>(f.sedH), static_cast<QWidget*>(f.sedHoriz),
                           static_cast<QWidget*>(f.sedVert), static_cast<QWidget*>(f.seLogo),
                           static_cast<QWidget*>(f.est), static_cast<QWidget*>(f.esd),
                           static_cast<QWidget*>(f.cbad)}) {
            QCOMPARE(w->font().family(), QStringLiteral("Tahoma"));
            QCOMPARE(w->font().pixelSize(), 24);
            QCOMPARE(w->font().bold(), w == f.cbad);
        }
        QCOMPARE(f.lVersion->font().pixelSize(), 16);
        QCOMPARE(f.lStat->font().pixelSize(), 16);
        QCOMPARE(f.lStat->alignment(), Qt::AlignCenter);

        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QCOMPARE(f.size(), QSize(855, 629));
        const QRect area = f.screen()->availableGeometry();
        // Centred; the frame's few pixels are the platform's.
        QVERIFY(qAbs(f.geometry().center().x() - area.center().x()) <= 3);
        QVERIFY(qAbs(f.geometry().center().y() - area.center().y()) <= 3);

        auto* status = f.findChild<QWidget*>(QStringLiteral("StatusPanel"));
        QVERIFY(status);
        QVERIFY(status->isAncestorOf(f.lStat));
        QCOMPARE(f.PageControl->geometry(), QRect(0, 0, 855, 295));
        QCOMPARE(f.gbLog->geometry(), QRect(0, 295, 855, 311));
        QCOMPARE(status->geometry(), QRect(0, 606, 855, 23));
        auto* panel = f.findChild<QWidget*>(QStringLiteral("Panel1"));
        QVERIFY(panel && panel->isAncestorOf(f.btnOpenClose) && panel->isAncestorOf(f.btnClearMemo));
        QCOMPARE(panel->height(), 209);

        // Only the log grows with the window.
        f.resize(1000, 800);
        QTRY_COMPARE(f.gbLog->height(), 800 - 295 - 23);
        QCOMPARE(f.PageControl->height(), 295);
        QCOMPARE(status->height(), 23);
        QCOMPARE(f.gbLog->width(), 1000);

        // Every control of every tab fits inside its tab.
        for (int i = 0; i < f.PageControl->count(); ++i) {
            f.PageControl->setCurrentIndex(i);
            for (int j = 0; j < f.PageControlText->count(); ++j) {
                f.PageControlText->setCurrentIndex(j);
                QWidget* page = f.PageControl->currentWidget();
                QCoreApplication::processEvents();
                for (QWidget* w : page->findChildren<QWidget*>()) {
                    if (!w->isVisible() || w->objectName().isEmpty() || w->objectName().startsWith("qt_"))
                        continue;
                    const QRect r(w->mapTo(page, QPoint(0, 0)), w->size());
                    QVERIFY2(page->rect().contains(r), qPrintable(w->objectName()));
                }
            }
        }
    }

    void formCreateResetsAndCouplesBrightness()
    {
        TWindowRig rig({"COM1"});
        TMainForm& f = rig.F();
        std::memset(&f.Receiver.RS232, 0xA5, sizeof f.Receiver.RS232);
        f.lStat->setText(QStringLiteral("x"));
        {
            const QSignalBlocker block(f.seJasnosc);
            f.seJasnosc->setValue(7);
        }
        f.FormCreate();
        const tRS232 zero{};
        QCOMPARE(std::memcmp(&f.Receiver.RS232, &zero, sizeof zero), 0);
        QCOMPARE(f.lStat->text(), QStringLiteral("Czekam na Twój ruch...."));
        QVERIFY(!f.cbAuto->isChecked());
        {
            const QSignalBlocker block(f.seJasnosc);
            f.seJasnosc->setValue(0);
        }
        f.FormCreate();
        QVERIFY(f.cbAuto->isChecked());
    }

    void logIsAppendedAndClearedOnly()
    {
        TWindowRig rig({"COM1"});
        TMainForm& f = rig.F();
        f.AppendLog(QStringLiteral("1B 01 0A 00 wielkość: 10"));
        f.LogLine("cmd_getJasnosc ż");
        QCOMPARE(f.Memo1->toPlainText(),
                 QStringLiteral("1B 01 0A 00 wielkość: 10\ncmd_getJasnosc ż"));
        // Long lines are not wrapped: shown, the log scrolls sideways instead.
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        f.AppendLog(QString(400, QLatin1Char('A')));
        QTRY_VERIFY(f.Memo1->horizontalScrollBar()->maximum() > 0);
        QCOMPARE(f.Memo1->lineCount(), 3);
        const qint64 longLine = f.Memo1->offsetOf({2, 0});
        QCOMPARE(f.Memo1->characterRect(longLine + 399).top(), f.Memo1->characterRect(longLine).top());
        QVERIFY(f.Memo1->characterRect(longLine + 399).left() > f.Memo1->viewport()->width());

        // Where the operator has put a selection does not matter: a new line
        // goes to the end, and nothing typed gets in.
        f.Memo1->setSelection({0, 0}, {0, 24});
        QCOMPARE(f.Memo1->selectedText(), QStringLiteral("1B 01 0A 00 wielkość: 10"));
        f.Memo1->setFocus();
        QTest::keyClicks(f.Memo1, QStringLiteral("xy"));
        QTest::keyClick(f.Memo1, Qt::Key_Delete);
        f.LogLine("cmd_TestConnect");
        QCOMPARE(f.Memo1->toPlainText(), QStringLiteral("1B 01 0A 00 wielkość: 10\ncmd_getJasnosc ż\n") +
                                             QString(400, QLatin1Char('A')) +
                                             QStringLiteral("\ncmd_TestConnect"));

        f.btnClearMemo->click();
        QVERIFY(f.Memo1->toPlainText().isEmpty());
        f.LogLine("cmd_TestConnect");
        QCOMPARE(f.Memo1->toPlainText(), QStringLiteral("cmd_TestConnect"));
        QCOMPARE(rig.dialogs.Count(), 0);
    }

    void portGivenOnTheCommandLine()
    {
        TPty pty(EPtyEnd::WatchedMaster);
        QVERIFY(pty.Ok());
        {
            TWindowRig rig({"COM1", "COM2"}, pty.SlavePath());
            TMainForm& f = rig.F();
            QCOMPARE(ComboItems(f.cbComName), (QStringList{"COM1", "COM2", Q(pty.SlavePath())}));
            QCOMPARE(f.cbComName->GetText(), pty.SlavePath());
            QCOMPARE(f.cbComName->ComSelect().FPort, pty.SlavePath());
            QCOMPARE(f.ComPort1->Port(), pty.SlavePath());
            QVERIFY(!f.ComPort1->Connected());
            QVERIFY(!pty.SlaveOpen());
        }
        {
            // Already listed (in another case): not added again.
            TWindowRig rig({"COM1", "COM2"}, "com2");
            QCOMPARE(ComboItems(rig.F().cbComName), (QStringList{"COM1", "COM2"}));
            QCOMPARE(rig.F().cbComName->GetText(), std::string("COM2"));
            QCOMPARE(rig.F().ComPort1->Port(), std::string("com2"));
        }
    }

    void openWithoutCom1Listed()
    {
        TPty pty(EPtyEnd::WatchedMaster);
        QVERIFY(pty.Ok());
        TDeviceLock com1("/dev/ttyS0"); // COM1 here; held so that it cannot be opened
        TWindowRig rig({pty.SlavePath()});
        TMainForm& f = rig.F();
        QCOMPARE(f.cbComName->currentIndex(), -1);
        QCOMPARE(f.cbComName->GetText(), std::string());
        QCOMPARE(f.cbComName->count(), 1);
        QCOMPARE(f.ComPort1->Port(), std::string("COM1"));

        f.btnOpenClose->click();
        QCOMPARE(rig.dialogs.messages, QStringList{cCantOpenText});
        QCOMPARE(rig.Caption(), QStringLiteral("Open"));
        QVERIFY(!f.ComPort1->Connected());
        QCOMPARE(f.ComPort1->Port(), std::string("COM1"));
        QVERIFY(rig.dialogs.errors.isEmpty());

        QVERIFY(!f.IfOpenPort());
        QCOMPARE(rig.dialogs.messages, (QStringList{cCantOpenText, cCantOpenText}));
        QCOMPARE(rig.Caption(), QStringLiteral("Open"));
    }

    void openCloseCaptionsOnEveryPath()
    {
        TPty pty(EPtyEnd::WatchedMaster);
        QVERIFY(pty.Ok());
        const std::string missing = "/nonexistent/qv-tty0";
        TWindowRig rig({missing}, pty.SlavePath());
        TMainForm& f = rig.F();

        f.btnOpenClose->click();
        QCOMPARE(rig.Caption(), QStringLiteral("Close"));
        QVERIFY(f.ComPort1->Connected());
        QVERIFY(pty.SlaveOpen());

        // IfOpenPort on an open port: true at once.
        QVERIFY(f.IfOpenPort());
        QCOMPARE(rig.Caption(), QStringLiteral("Close Port"));
        QVERIFY(f.ComPort1->Connected());

        // The click closes whatever the caption says.
        f.btnOpenClose->click();
        QCOMPARE(rig.Caption(), QStringLiteral("Open"));
        QVERIFY(!f.ComPort1->Connected());
        QVERIFY(WaitUntil([&] { return !pty.SlaveOpen(); }));

        // IfOpenPort on a closed, openable port opens it.
        QVERIFY(f.IfOpenPort());
        QCOMPARE(rig.Caption(), QStringLiteral("Close Port"));
        QVERIFY(f.ComPort1->Connected());
        QVERIFY(pty.SlaveOpen());
        f.btnOpenClose->click();
        QCOMPARE(rig.Caption(), QStringLiteral("Open"));
        QVERIFY(!f.ComPort1->Connected());
        QCOMPARE(rig.dialogs.Count(), 0);

        // A port that cannot be opened: caption "Open" and the selector's text.
        QVERIFY(ChooseItem(f.cbComName, Q(missing)));
        QCOMPARE(f.ComPort1->Port(), missing);
        QCOMPARE(rig.dialogs.Count(), 0);
        const QString text = cCantOpenText + Q(missing);
        f.btnOpenClose->click();
        QCOMPARE(rig.dialogs.messages, QStringList{text});
        QCOMPARE(rig.Caption(), QStringLiteral("Open"));
        QVERIFY(!f.ComPort1->Connected());

        f.btnOpenClose->setText(QStringLiteral("Close Port"));
        QVERIFY(!f.IfOpenPort());
        QCOMPARE(rig.dialogs.messages, (QStringList{text, text}));
        QCOMPARE(rig.Caption(), QStringLiteral("Open"));
        QVERIFY(rig.dialogs.errors.isEmpty());

        // A port held by someone else cannot be opened either.
        QVERIFY(ChooseItem(f.cbComName, Q(pty.SlavePath())));
        TComPort other(nullptr);
        other.SetPort(pty.SlavePath());
        other.Open();
        f.btnOpenClose->click();
        QCOMPARE(rig.dialogs.messages.last(), cCantOpenText + Q(pty.SlavePath()));
        QCOMPARE(rig.Caption(), QStringLiteral("Open"));
        QVERIFY(!f.ComPort1->Connected());
        other.Close();
        f.btnOpenClose->click();
        QCOMPARE(rig.Caption(), QStringLiteral("Close"));
        QVERIFY(f.ComPort1->Connected());
    }

    void portChoiceOnOpenPortReopensIt()
    {
        TPty first(EPtyEnd::WatchedMaster);
        QVERIFY(first.Ok());
        TEmulator second;
        std::string error;
        QVERIFY2(second.Start(&error), error.c_str());
        TWindowRig rig({second.SlavePath()}, first.SlavePath());
        TMainForm& f = rig.F();

        f.btnOpenClose->click();
        QCOMPARE(rig.Caption(), QStringLiteral("Close"));
        QVERIFY(first.SlaveOpen());

        QVERIFY(ChooseItem(f.cbComName, Q(second.SlavePath())));
        QCOMPARE(rig.dialogs.Count(), 0);
        QVERIFY(WaitUntil([&] { return !first.SlaveOpen(); }));
        QVERIFY(f.ComPort1->Connected());
        QVERIFY(f.ComPort1->ThreadCreated());
        QCOMPARE(f.ComPort1->Port(), second.SlavePath());
        QCOMPARE(f.cbComName->ComSelect().FPort, second.SlavePath());
        QCOMPARE(rig.Caption(), QStringLiteral("Close"));
        QCOMPARE(second.ToolSpeed(), 9600);

        // The next frame goes to the second port, and its answer comes back.
        TBytes frame = BuildCommandFrame(cmd_TestConnect);
        SealFrame(frame);
        f.ComPort1->WriteStr(frame);
        QVERIFY(second.WaitForFrames(1, 5000));
        QCOMPARE(second.Frames().front(), frame);
        QVERIFY(first.Drain().empty());
        QVERIFY(WaitUntil([&] { return f.Memo1->toPlainText().contains(QStringLiteral("Wielkość: 16")); }));

        // A speed choice on the open port applies at once, without closing it.
        QVERIFY(ChooseItem(f.cbComSpeed, QStringLiteral("115200")));
        QCOMPARE(second.ToolSpeed(), 115200);
        QVERIFY(f.ComPort1->Connected());
        QCOMPARE(rig.Caption(), QStringLiteral("Close"));
        QCOMPARE(rig.dialogs.Count(), 0);
    }

    void failedChoiceIsShownAndTheProgramGoesOn()
    {
        TPty pty(EPtyEnd::WatchedMaster);
        QVERIFY(pty.Ok());
        const std::string missing = "/nonexistent/qv-tty1";
        TWindowRig rig({missing}, pty.SlavePath());
        TMainForm& f = rig.F();
        f.btnOpenClose->click();
        QVERIFY(f.ComPort1->Connected());

        QVERIFY(ChooseItem(f.cbComName, Q(missing)));
        QCOMPARE(rig.dialogs.errors,
                 QStringList{QStringLiteral("COM Port Error: Unable to open com port on ") + Q(missing)});
        QVERIFY(rig.dialogs.messages.isEmpty());
        QVERIFY(!f.ComPort1->Connected());
        QVERIFY(WaitUntil([&] { return !pty.SlaveOpen(); }));
        QCOMPARE(f.ComPort1->Port(), missing);
        QCOMPARE(rig.Caption(), QStringLiteral("Close"));

        // Going on: back to the pseudo-terminal (only stored, the port is closed)...
        QVERIFY(ChooseItem(f.cbComName, Q(pty.SlavePath())));
        QVERIFY(!f.ComPort1->Connected());
        QCOMPARE(rig.dialogs.errors.size(), 1);
        // ...and the button opens it.
        f.btnOpenClose->click();
        QVERIFY(f.ComPort1->Connected());
        QVERIFY(pty.SlaveOpen());
        QCOMPARE(rig.Caption(), QStringLiteral("Close"));
        QCOMPARE(rig.dialogs.errors.size(), 1);
    }

    void buttonsReachTheirHandlers()
    {
        TEmulator emu;
        std::string error;
        QVERIFY2(emu.Start(&error), error.c_str());
        TWindowRig rig({}, emu.SlavePath());
        TMainForm& f = rig.F();
        f.Receiver.StartPauseMs = 0;

        const QList<std::pair<QPushButton*, std::uint8_t>> buttons{
            {f.btnTestConnection, cmd_TestConnect}, {f.btnRestart, cmd_Restart},
            {f.btnClearScreen, cmd_FillScreen},     {f.btnPobierz, cmd_getJasnosc},
            {f.btnUstaw, cmd_setJasnosc},           {f.BitBtn2, cmd_GetVersion},
        };
        std::size_t n = 0;
        for (const auto& [button, code] : buttons) {
            button->click();
            ++n;
            QVERIFY2(emu.WaitForFrames(n, 5000), qPrintable(button->objectName()));
            QCOMPARE(std::uint8_t(emu.Frames().back()[1]), code);
            QVERIFY(WaitUntil([&] { return f.AutoTimer.cmd == 0; }));
        }
        // IfOpenPort opened the port for the first send.
        QCOMPARE(rig.Caption(), QStringLiteral("Close Port"));

        // Brightness coupling, both ways.
        f.seJasnosc->setValue(9);
        QVERIFY(!f.cbAuto->isChecked());
        f.cbAuto->click();
        QVERIFY(f.cbAuto->isChecked());
        QCOMPARE(f.seJasnosc->value(), 0);
        QCOMPARE(rig.dialogs.Count(), 0);
    }

    void closingTheWindowClosesThePort()
    {
        TPty a(EPtyEnd::WatchedMaster), b(EPtyEnd::WatchedMaster);
        QVERIFY(a.Ok() && b.Ok());
        {
            TWindowRig rig({}, a.SlavePath());
            rig.F().show();
            rig.F().btnOpenClose->click();
            QVERIFY(a.SlaveOpen());
            QVERIFY(rig.F().close());
            QVERIFY(!rig.F().ComPort1->Connected());
            QVERIFY(WaitUntil([&] { return !a.SlaveOpen(); }));
        }
        {
            // Destroyed with the port open (the end of the run).
            TWindowRig rig({}, b.SlavePath());
            rig.F().btnOpenClose->click();
            QVERIFY(b.SlaveOpen());
            QVERIFY(rig.F().ComPort1->ThreadCreated());
            rig.form.reset();
            QVERIFY(WaitUntil([&] { return !b.SlaveOpen(); }));
        }
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
