// The operator log's view in the window: selection and copy across lines,
// following the end versus scrolled up, clearing, and its text as screen
// readers read it.
#include "tests/common/WindowRig.h"

#include <QAccessible>
#include <QAccessibleTextInterface>
#include <QClipboard>
#include <QMenu>
#include <QScrollBar>

namespace {
const QStringList cLines{QStringLiteral("1B 01 0A 00 5B C2 00 00 0D 0A  wielkość: 10"),
                         QStringLiteral("cmd_TestConnect"), QStringLiteral("Zaczynam wysyłanie od 5 $500"),
                         QStringLiteral("1B 01 10 00 8F CC 00 00 66 00 00 00 01 02 0D 0A  Wielkość: 16")};

constexpr int cPage = -2; // a page of lines up

// Where the mouse hits the start of a character, in the viewport.
QPoint At(TLogView* v, qsizetype line, qsizetype column)
{
    const QRect r = v->characterRect(v->offsetOf({line, column}));
    return {r.left() + 1, r.center().y()};
}

void Move(TLogView* v, QPoint to)
{
    QMouseEvent e(QEvent::MouseMove, to, v->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(v->viewport(), &e);
}
} // namespace

class TestLog : public QObject {
    Q_OBJECT
    std::unique_ptr<TWindowRig> rig;
    TLogView* log = nullptr;
private slots:
    void init()
    {
        rig = std::make_unique<TWindowRig>(std::vector<std::string>{"COM1"});
        log = rig->F().Memo1;
        rig->F().show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig->F()));
        for (const QString& line : cLines)
            rig->F().LogLine(line.toStdString());
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    }
    void cleanup() { rig.reset(); }

    void selectionAndCopy_data()
    {
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<QString>("copied");
        const QString all = cLines.join(QLatin1Char('\n'));
        QTest::newRow("drag down") << "drag down" << cLines[0].mid(3) + '\n' + cLines[1] + '\n' + cLines[2].left(5);
        QTest::newRow("drag up") << "drag up" << cLines[0].mid(3) + '\n' + cLines[1] + '\n' + cLines[2].left(5);
        QTest::newRow("shift-click") << "shift-click" << cLines[1].mid(4) + '\n' + cLines[2] + '\n' + cLines[3].left(2);
        QTest::newRow("double-click") << "double-click" << QStringLiteral("wysyłanie");
        QTest::newRow("Ctrl+A") << "Ctrl+A" << all;
        QTest::newRow("menu") << "menu" << all;
        QTest::newRow("no selection") << "click" << QStringLiteral("before");
    }
    void selectionAndCopy()
    {
        QFETCH(QString, gesture);
        QFETCH(QString, copied);
        QWidget* vp = log->viewport();
        if (gesture.startsWith(QLatin1String("drag"))) {
            const bool down = gesture.endsWith(QLatin1String("down"));
            QTest::mousePress(vp, Qt::LeftButton, {}, down ? At(log, 0, 3) : At(log, 2, 5));
            Move(log, At(log, 1, 2));
            Move(log, down ? At(log, 2, 5) : At(log, 0, 3));
            QTest::mouseRelease(vp, Qt::LeftButton, {}, down ? At(log, 2, 5) : At(log, 0, 3));
        } else if (gesture == QLatin1String("shift-click") || gesture == QLatin1String("click")) {
            QTest::mouseClick(vp, Qt::LeftButton, {}, At(log, 1, 4));
            if (gesture == QLatin1String("shift-click"))
                QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, At(log, 3, 2));
        } else if (gesture == QLatin1String("double-click")) {
            QTest::mouseDClick(vp, Qt::LeftButton, {}, At(log, 2, 12));
        } else if (gesture == QLatin1String("Ctrl+A")) {
            QTest::keyClick(log, Qt::Key_A, Qt::ControlModifier);
        } else {
            std::unique_ptr<QMenu> before(log->createContextMenu(nullptr));
            const QList<QAction*> a = before->actions();
            QStringList texts;
            for (const QAction* action : a)
                texts << action->text();
            QCOMPARE(texts, (QStringList{QStringLiteral("S&kopiuj"), QStringLiteral("Zaznacz wszystko"), QString(),
                                         QStringLiteral("Pokaż czas"), QStringLiteral("Znajdź…"),
                                         QStringLiteral("Zapisz LOG do pliku…")}));
            QVERIFY(!a[0]->isEnabled() && a[1]->isEnabled());
            QVERIFY(a[3]->isCheckable() && !a[3]->isChecked());
            a[1]->trigger();
            std::unique_ptr<QMenu> after(log->createContextMenu(nullptr));
            QVERIFY(after->actions()[0]->isEnabled());
            after->actions()[0]->trigger();
        }
        if (gesture != QLatin1String("menu"))
            QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), copied);
        QCOMPARE(log->toPlainText(), cLines.join(QLatin1Char('\n')));
    }

    void followsTheEndUnlessScrolledUp_data()
    {
        QTest::addColumn<int>("key"); // 0: the wheel
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("linesUp"); // -1: to the top
        QTest::newRow("Up") << int(Qt::Key_Up) << 0 << 1;
        QTest::newRow("Page Up") << int(Qt::Key_PageUp) << 0 << cPage;
        QTest::newRow("Home") << int(Qt::Key_Home) << 0 << -1;
        QTest::newRow("Ctrl+Home") << int(Qt::Key_Home) << int(Qt::ControlModifier) << -1;
        QTest::newRow("wheel") << 0 << 0 << QApplication::wheelScrollLines();
    }
    void followsTheEndUnlessScrolledUp()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, linesUp);
        QScrollBar* v = log->verticalScrollBar();
        for (int i = 0; i < 100; ++i)
            rig->F().LogLine("line " + std::to_string(i));
        QTRY_COMPARE(v->maximum(), 104 - v->pageStep());
        QCOMPARE(v->value(), v->maximum());
        QVERIFY(v->pageStep() > 5);
        if (linesUp == cPage)
            linesUp = v->pageStep();
        const int top = linesUp < 0 ? 0 : v->maximum() - linesUp;
        if (key) {
            QTest::keyClick(log, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        } else {
            const QPoint c = log->viewport()->rect().center();
            QWheelEvent e(c, log->viewport()->mapToGlobal(c), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
            QApplication::sendEvent(log->viewport(), &e);
        }
        QCOMPARE(v->value(), top);
        QVERIFY(!log->followsEnd());
        const TLogView::TPos shown = log->posAtPoint({6, 6});

        // Scrolled up: new lines leave the view where the operator put it.
        for (int i = 0; i < 30; ++i)
            rig->F().LogLine("more " + std::to_string(i));
        QTRY_COMPARE(v->maximum(), 134 - v->pageStep());
        QCOMPARE(v->value(), top);
        QCOMPARE(log->posAtPoint({6, 6}), shown);

        // Back at the end, the view follows again.
        QTest::keyClick(log, Qt::Key_End, Qt::ControlModifier);
        QVERIFY(log->followsEnd());
        rig->F().LogLine("last");
        QTRY_COMPARE(v->maximum(), 135 - v->pageStep());
        QCOMPARE(v->value(), v->maximum());
        QCOMPARE(log->lineText(log->posAtPoint({6, log->viewport()->height() - 8}).line), QStringLiteral("last"));
    }

    void clearingEmptiesAndGivesMemoryBack()
    {
        QSignalSpy changed(log, &TLogView::textChanged);
        log->selectAll();
        QVERIFY(log->bytesHeld() > 0);
        rig->F().btnClearMemo->click();
        QCOMPARE(changed.size(), 1);
        QCOMPARE(log->lineCount(), 0);
        QCOMPARE(log->characterCount(), 0);
        QVERIFY(log->toPlainText().isEmpty());
        QVERIFY(!log->hasSelection());
        QCOMPARE(log->bytesHeld(), std::size_t(0));
        QTRY_COMPARE(log->horizontalScrollBar()->maximum(), 0);
        QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        rig->F().LogLine("cmd_getVersion");
        QCOMPARE(log->toPlainText(), QStringLiteral("cmd_getVersion"));
    }

    void screenReadersReadTheText()
    {
        rig->F().LogLine("broken \xff byte");
        const QString text = cLines.join(QLatin1Char('\n')) + QStringLiteral("\nbroken \uFFFD byte");
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(log);
        QVERIFY(a && a->textInterface());
        QAccessibleTextInterface* t = a->textInterface();
        QCOMPARE(a->role(), QAccessible::EditableText);
        QVERIFY(a->state().readOnly && a->state().multiLine);
        QCOMPARE(a->text(QAccessible::Name), QStringLiteral("Memo1"));
        QCOMPARE(a->text(QAccessible::Value), text);
        QCOMPARE(t->characterCount(), text.size());
        QCOMPARE(t->text(0, t->characterCount()), text);

        // Line by line, from a character in the third line.
        const int third = int(text.indexOf(cLines[2])) + 4;
        int s = 0, e = 0;
        QCOMPARE(t->textAtOffset(third, QAccessible::LineBoundary, &s, &e), cLines[2]);
        QCOMPARE(text.mid(s, e - s), cLines[2]);
        QCOMPARE(t->textBeforeOffset(third, QAccessible::LineBoundary, &s, &e), cLines[1]);
        QCOMPARE(t->textAfterOffset(third, QAccessible::LineBoundary, &s, &e), cLines[3]);
        QCOMPARE(t->textAtOffset(third, QAccessible::WordBoundary, &s, &e), QStringLiteral("Zaczynam"));
        QCOMPARE(t->offsetAtPoint(t->characterRect(third).center()), third);

        // Selections made by either side are the same selection.
        t->setSelection(0, 3, third);
        QCOMPARE(log->selectedText(), text.mid(3, third - 3));
        log->setSelection({1, 3}, {0, 5});
        QCOMPARE(t->selectionCount(), 1);
        t->selection(0, &s, &e);
        QCOMPARE(std::pair(s, e), std::pair(5, int(cLines[0].size()) + 4));
        QCOMPARE(t->cursorPosition(), 5);
    }
};

QTEST_MAIN(TestLog)
#include "test_log.moc"
