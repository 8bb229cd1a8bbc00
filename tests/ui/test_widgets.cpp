// The spin edit, the dialog seam with its guard, and the visual style.
#include "tests/common/WindowRig.h"

#include "app/Translations.h"
#include "ui/SpinEdit.h"
#include "ui/Style.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <stdexcept>

namespace {

// Replaces the spin edit's text as typed keys would.
void Type(TSpinEdit& s, const QString& text)
{
    s.selectAll();
    QTest::keyClick(&s, Qt::Key_Delete);
    QTest::keyClicks(&s, text);
}

void LoseFocus(TSpinEdit& s)
{
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(&s, &out);
}

// Closes the next modal box with `button` once it shows; records what it showed.
struct TBoxWatcher {
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QStringList buttonTexts;
    bool seen = false;

    void ArmClick(QMessageBox::StandardButton button)
    {
        auto* timer = new QTimer;
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout, timer, [this, timer, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen = true;
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            for (const QAbstractButton* b : box->buttons()) buttonTexts << b->text();
            timer->stop();
            timer->deleteLater();
            box->button(button)->click();
        });
        timer->start();
    }
};

} // namespace

class TestWidgets : public QObject {
    Q_OBJECT
private slots:
    void typedNumbersAreBroughtIntoRange()
    {
        TSpinEdit s;
        s.setRange(1, 64);
        s.setValue(1);

        // "80": the "0" is not refused although 80 is out of range.
        Type(s, QStringLiteral("80"));
        QCOMPARE(s.text(), QStringLiteral("80"));
        QCOMPARE(s.value(), 64);
        LoseFocus(s);
        QCOMPARE(s.text(), QStringLiteral("64"));
        QCOMPARE(s.value(), 64);

        TSpinEdit wide;
        wide.setRange(-1000, 1000);
        Type(wide, QStringLiteral("-5000"));
        QCOMPARE(wide.value(), -1000);
        Type(wide, QStringLiteral("+999"));
        QCOMPARE(wide.value(), 999);
        // More digits than an int holds: the sign says which limit.
        Type(wide, QStringLiteral("99999999999999999999999"));
        QCOMPARE(wide.value(), 1000);
        Type(wide, QStringLiteral("-99999999999999999999999"));
        QCOMPARE(wide.value(), -1000);
        LoseFocus(wide);
        QCOMPARE(wide.text(), QStringLiteral("-1000"));

        TSpinEdit brightness;
        brightness.setRange(0, 15);
        Type(brightness, QStringLiteral("-3"));
        QCOMPARE(brightness.value(), 0);
        Type(brightness, QStringLiteral("16"));
        QCOMPARE(brightness.value(), 15);
    }

    void textThatIsNoNumberReadsAsLowerLimit()
    {
        TSpinEdit s;
        s.setRange(1, 64);
        s.setValue(30);
        Type(s, QStringLiteral("abc"));
        QCOMPARE(s.text(), QStringLiteral("abc"));
        QCOMPARE(s.value(), 1);
        LoseFocus(s);
        QCOMPARE(s.text(), QStringLiteral("1"));

        // Emptied box, and a lone sign, read as the lower limit too.
        TSpinEdit pos;
        pos.setRange(-1000, 1000);
        pos.setValue(250);
        Type(pos, QString());
        QCOMPARE(pos.value(), -1000);
        Type(pos, QStringLiteral("-"));
        QCOMPARE(pos.value(), -1000);
        Type(pos, QStringLiteral("12x"));
        QCOMPARE(pos.value(), -1000);
        LoseFocus(pos);
        QCOMPARE(pos.text(), QStringLiteral("-1000"));

        // A text put in from code (pasted) reads the same.
        TSpinEdit logo;
        logo.setRange(1, 64);
        logo.setValue(20);
        logo.findChild<QLineEdit*>()->setText(QStringLiteral("zz"));
        QCOMPARE(logo.value(), 1);
    }

    void valueChangesFollowTheTypedText()
    {
        TSpinEdit s;
        s.setRange(0, 15);
        s.setValue(7);
        QSignalSpy spy(&s, &QSpinBox::valueChanged);
        Type(s, QStringLiteral("99"));
        // Emptied (0), "9", then "99" read as 15.
        QCOMPARE(spy.size(), 3);
        QCOMPARE(spy.at(0).at(0).toInt(), 0);
        QCOMPARE(spy.at(1).at(0).toInt(), 9);
        QCOMPARE(spy.at(2).at(0).toInt(), 15);
        spy.clear();
        LoseFocus(s);
        QCOMPARE(spy.size(), 0); // already 15; only the text is put right
        QCOMPARE(s.text(), QStringLiteral("15"));
    }

    void guardShowsEscapingErrorsAndGoesOn()
    {
        TDialogsScope scope;
        auto& d = scope.dialogs;

        bool ran = false;
        Guarded(nullptr, [&] { ran = true; });
        QVERIFY(ran);
        QCOMPARE(d.Count(), 0);

        Guarded(nullptr, [] { throw std::runtime_error("COM Port Error: Unable to open com port on X"); });
        QCOMPARE(d.errors, QStringList{QStringLiteral("COM Port Error: Unable to open com port on X")});

        // The message is UTF-8.
        Guarded(nullptr, [] { throw std::logic_error("Błąd żółwia"); });
        QCOMPARE(d.errors.last(), QStringLiteral("Błąd żółwia"));

        // Anything else thrown is shown too, never passed on.
        Guarded(nullptr, [] { throw 42; });
        QCOMPARE(d.errors.size(), 3);
        QCOMPARE(d.errors.last(), QStringLiteral("Nieznany błąd"));
        QVERIFY(d.messages.isEmpty());
        QVERIFY(d.questions.isEmpty());

        // The default seam comes back.
        SetDialogs(nullptr);
        QVERIFY(&Dialogs() != &d);
        SetDialogs(&d);
        QCOMPARE(&Dialogs(), static_cast<IDialogs*>(&d));
    }

    void guardSurvivesAFailingErrorDialog()
    {
        TDialogsScope scope;
        auto& d = scope.dialogs;
        d.onError = [](const QString&) { throw std::runtime_error("dialog broke"); };
        // Neither the handler's error nor the dialog's own gets out.
        QVERIFY_THROWS_NO_EXCEPTION(Guarded(nullptr, [] { throw std::runtime_error("first"); }));
        QCOMPARE(d.errors, QStringList{QStringLiteral("first")});
    }

    void defaultSeamShowsRealBoxes()
    {
        SetDialogs(nullptr);

        TBoxWatcher msg;
        msg.ArmClick(QMessageBox::Ok);
        Dialogs().Message(nullptr, QStringLiteral("Nie można otwortzyć portu COM7"));
        QVERIFY(msg.seen);
        QCOMPARE(msg.text, QStringLiteral("Nie można otwortzyć portu COM7"));
        QCOMPARE(msg.icon, QMessageBox::Information);
        QCOMPARE(msg.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

        TBoxWatcher yes;
        yes.ArmClick(QMessageBox::Yes);
        QVERIFY(Dialogs().Question(nullptr, QStringLiteral("Czy mam kontynuować?")));
        QCOMPARE(yes.text, QStringLiteral("Czy mam kontynuować?"));
        QCOMPARE(yes.icon, QMessageBox::Question);
        QCOMPARE(yes.buttons, QMessageBox::Yes | QMessageBox::No);

        TBoxWatcher no;
        no.ArmClick(QMessageBox::No);
        QVERIFY(!Dialogs().Question(nullptr, QStringLiteral("Czy mam kontynuować?")));
        QVERIFY(no.seen);

        TBoxWatcher err;
        err.ArmClick(QMessageBox::Ok);
        Dialogs().Error(nullptr, QStringLiteral("COM Port Error: Registry error on registry read"));
        QCOMPARE(err.text, QStringLiteral("COM Port Error: Registry error on registry read"));
        QCOMPARE(err.icon, QMessageBox::Critical);
    }

    void styleAppliesAndLeavesTheProgressBarAlone()
    {
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        QVERIFY(app);
        QVERIFY(ApplyVisualStyle(*app));
        const QString sheet = app->styleSheet();
        QVERIFY(sheet.contains(QStringLiteral("QPushButton")));
        QVERIFY(!sheet.contains(QStringLiteral("QProgressBar")));
        // Rules that match every widget would reach the progress bar as well.
        QVERIFY(!sheet.contains(QRegularExpression(QStringLiteral("(^|[\\s,}])QWidget\\s*[{,]"))));
        QVERIFY(!sheet.contains(QRegularExpression(QStringLiteral("(^|[\\s,}])\\*\\s*[{,]"))));
        app->setStyleSheet(QString());
    }

    // The program's start-up step; this test runs with LANG=C and LC_ALL=C.
    void toolkitTextsInPolish()
    {
        QVERIFY(InstallToolkitTranslations(*QCoreApplication::instance()));
        TBoxWatcher no; // on the real boxes
        no.ArmClick(QMessageBox::No);
        QVERIFY(!Dialogs().Question(nullptr, QStringLiteral("Czy mam kontynuować?")));
        QCOMPARE(no.buttonTexts, (QStringList{"&Tak", "&Nie"}));
    }
};

QTEST_MAIN(TestWidgets)
#include "test_widgets.moc"
