// The operator log's view in the window: selection and copy across lines,
// following the end versus scrolled up, clearing, its text as screen
// readers read it, the lines' times, saving and search.
#include "protocol/logtime.h"
#include "tests/common/WindowRig.h"
#include "ui/LogFind.h"

#include <QAccessible>
#include <QAccessibleTextInterface>
#include <QClipboard>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
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

// A time as Qt writes it, local time.
QString Local(std::int64_t ms, const char* format)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QString::fromLatin1(format));
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
    std::int64_t before = 0, after = 0; // around the lines' appending
    QTemporaryDir dir;

    // The lines as shown with their times, checked against the clock.
    QStringList Timed()
    {
        QStringList out;
        for (qsizetype i = 0; i < log->lineCount(); ++i)
            out << Local(log->lineTime(i), "HH:mm:ss.zzz") + QStringLiteral("  ") + cLines[i];
        return out;
    }
    // Typed as a keyboard types it, Polish letters included.
    static void TypeText(QWidget* w, const QString& text)
    {
        for (const QChar c : text) {
            QTest::sendKeyEvent(QTest::Press, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
    void Type(const QString& keys)
    {
        QWidget* w = QApplication::focusWidget();
        for (const QString& k : keys.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QKeySequence seq(k);
            QTest::keyClick(w, Qt::Key(seq[0].key()), seq[0].keyboardModifiers());
        }
    }
private slots:
    void init()
    {
        rig = std::make_unique<TWindowRig>(std::vector<std::string>{"COM1"});
        log = rig->F().Memo1;
        rig->F().show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig->F()));
        before = LogNowMs();
        for (const QString& line : cLines)
            rig->F().LogLine(line.toStdString());
        after = LogNowMs();
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
        QTest::newRow("double-click, a word before its colon") << "double-click 0 35" << QStringLiteral("wielkość");
        QTest::newRow("triple-click: the line") << "triple-click" << cLines[1] + '\n';
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
        } else if (gesture.startsWith(QLatin1String("double-click"))) {
            const QStringList at = gesture.mid(13).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            QTest::mouseDClick(vp, Qt::LeftButton, {}, at.isEmpty() ? At(log, 2, 12) : At(log, at[0].toInt(), at[1].toInt()));
        } else if (gesture == QLatin1String("triple-click")) {
            QTest::mouseDClick(vp, Qt::LeftButton, {}, At(log, 1, 4));
            QTest::mouseClick(vp, Qt::LeftButton, {}, At(log, 1, 4));
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

    void timesShownAndHidden_data()
    {
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("Ctrl+T") << false;
        QTest::newRow("menu") << true;
    }
    void timesShownAndHidden()
    {
        QFETCH(bool, byMenu);
        const auto toggle = [&] {
            if (!byMenu)
                return QTest::keyClick(log, Qt::Key_T, Qt::ControlModifier);
            std::unique_ptr<QMenu> menu(log->createContextMenu(nullptr));
            menu->actions()[3]->trigger();
        };
        for (qsizetype i = 0; i < log->lineCount(); ++i)
            QVERIFY(log->lineTime(i) >= before && log->lineTime(i) <= after);
        log->setSelection({2, 9}, {2, 18});
        toggle();
        QVERIFY(log->timesShown());
        const QStringList timed = Timed();
        QCOMPARE(log->toPlainText(), timed.join(QLatin1Char('\n')));
        QCOMPARE(log->lineText(3), timed[3]);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(log);
        QCOMPARE(a->text(QAccessible::Value), timed.join(QLatin1Char('\n')));
        QCOMPARE(a->textInterface()->characterCount(), timed.join(QLatin1Char('\n')).size());
        int s = 0, e = 0;
        QCOMPARE(a->textInterface()->textAtOffset(int(timed[0].size()) + 3, QAccessible::LineBoundary, &s, &e), timed[1]);
        // The selection stays on its characters; the shown time is text like any other.
        QCOMPARE(log->selectedText(), QStringLiteral("wysyłanie"));
        QTest::mouseDClick(log->viewport(), Qt::LeftButton, {}, At(log, 1, 16));
        QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("cmd_TestConnect"));
        QTest::mousePress(log->viewport(), Qt::LeftButton, {}, At(log, 0, 0));
        Move(log, At(log, 1, 14));
        QTest::mouseRelease(log->viewport(), Qt::LeftButton, {}, At(log, 1, 14));
        QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), timed[0] + '\n' + timed[1].left(14));
        std::unique_ptr<QMenu> menu(log->createContextMenu(nullptr));
        QVERIFY(menu->actions()[3]->isChecked());
        toggle();
        QVERIFY(!log->timesShown());
        QCOMPARE(log->toPlainText(), cLines.join(QLatin1Char('\n')));
        QCOMPARE(a->text(QAccessible::Value), cLines.join(QLatin1Char('\n')));
        QCOMPARE(log->selectedText(), cLines[0] + '\n');
    }

    void saving_data()
    {
        QTest::addColumn<bool>("byMenu");
        QTest::addColumn<bool>("timesShown");
        QTest::addColumn<bool>("clearedMeanwhile");
        QTest::addColumn<bool>("writable");
        QTest::newRow("every line with its date and time") << false << true << false << true;
        QTest::newRow("from the menu, cleared while saving") << true << false << true << true;
        QTest::newRow("a file that cannot be written") << false << false << false << false;
    }
    void saving()
    {
        QFETCH(bool, byMenu);
        QFETCH(bool, timesShown);
        QFETCH(bool, clearedMeanwhile);
        QFETCH(bool, writable);
        for (int i = 0; i < 60000; ++i)
            rig->F().LogLine("1B 07 1E 00 B0 BB 00 00 01 00  wielkość: " + std::to_string(i));
        log->setTimesShown(timesShown);
        QString expected;
        for (qsizetype i = 0; i < log->lineCount(); ++i)
            expected += Local(log->lineTime(i), "yyyy-MM-dd HH:mm:ss.zzz") + QStringLiteral("  ") +
                        QString::fromUtf8(log->lineUtf8(i).data(), qsizetype(log->lineUtf8(i).size())) + '\n';
        const QString shown = log->toPlainText();
        const QString path = dir.filePath(writable ? QStringLiteral("log.txt") : QStringLiteral("missing/log.txt"));
        rig->dialogs.saveToPick = path;
        QSignalSpy done(log, &TLogView::saveFinished);
        const QString name0 = Local(LogNowMs(), "'quorvantel-log-'yyyyMMdd-HHmmss'.txt'");
        if (byMenu) {
            std::unique_ptr<QMenu> menu(log->createContextMenu(nullptr));
            menu->actions()[5]->trigger();
        } else {
            QTest::keyClick(log, Qt::Key_S, Qt::ControlModifier);
        }
        const QString name1 = Local(LogNowMs(), "'quorvantel-log-'yyyyMMdd-HHmmss'.txt'");
        QCOMPARE(rig->dialogs.saveNames.size(), 1);
        QVERIFY2(rig->dialogs.saveNames[0] == name0 || rig->dialogs.saveNames[0] == name1,
                 qPrintable(rig->dialogs.saveNames[0]));
        if (clearedMeanwhile) {
            rig->F().btnClearMemo->click();
            rig->F().LogLine("after");
        }
        QTRY_COMPARE(done.size(), 1);
        QCOMPARE(done[0][0].toString(), path);
        QCOMPARE(done[0][1].toBool(), writable);
        QFile file(path);
        if (writable) {
            QVERIFY(rig->dialogs.messages.isEmpty());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(file.readAll()), expected);
        } else {
            QCOMPARE(rig->dialogs.messages.size(), 1);
            const QString head = QStringLiteral("Nie można zapisać LOGu do pliku ") + path + '\n';
            QVERIFY2(rig->dialogs.messages[0].startsWith(head) && rig->dialogs.messages[0].size() > head.size(),
                     qPrintable(rig->dialogs.messages[0]));
            QVERIFY(!file.exists());
        }
        QCOMPARE(log->toPlainText(), clearedMeanwhile ? QStringLiteral("after") : shown);
    }

    void search_data()
    {
        QTest::addColumn<bool>("timesShown");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("line"); // -1: no match
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("selected");
        QTest::newRow("typing, any case") << false << "WIELKOŚĆ" << "" << 0 << 31 << "wielkość";
        QTest::newRow("Enter: the next") << false << "wielkość" << "Return" << 3 << 49 << "Wielkość";
        QTest::newRow("F3 wraps to the first") << false << "wielkość" << "Return,F3" << 0 << 31 << "wielkość";
        QTest::newRow("Shift+Enter wraps to the last") << false << "Wielkość" << "Shift+Return" << 3 << 49 << "Wielkość";
        QTest::newRow("Shift+F3: the one before") << false << "0a" << "F3,F3,Shift+F3" << 0 << 27 << "0A";
        QTest::newRow("times shown") << true << "ZACZ" << "F3" << 2 << 14 << "Zacz";
        QTest::newRow("no match") << false << "xyz" << "Return" << -1 << 0 << "";
    }
    void search()
    {
        QFETCH(bool, timesShown);
        QFETCH(QString, typed);
        QFETCH(QString, keys);
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QString, selected);
        rig->F().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&rig->F()));
        log->setFocus();
        log->setTimesShown(timesShown);
        QTest::keyClick(log, Qt::Key_F, Qt::ControlModifier);
        QLineEdit* field = rig->F().LogFind->Field();
        QVERIFY(rig->F().LogFind->isVisible());
        QCOMPARE(QApplication::focusWidget(), field);
        QCOMPARE(field->accessibleName(), QStringLiteral("Szukaj w LOGu"));
        TypeText(field, typed);
        Type(keys);
        if (line < 0) {
            QVERIFY(!log->hasSelection());
            QCOMPARE(rig->F().LogFind->Note()->text(), QStringLiteral("Nie znaleziono"));
        } else {
            QCOMPARE(log->anchor(), (TLogView::TPos{line, column}));
            QCOMPARE(log->cursor(), (TLogView::TPos{line, column + selected.size()}));
            QCOMPARE(log->selectedText(), selected);
            QVERIFY(rig->F().LogFind->Note()->text().isEmpty());
        }
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!rig->F().LogFind->isVisible());
        QCOMPARE(QApplication::focusWidget(), log);
    }

    void searchOverAMillionLines()
    {
        log->clear();
        const std::string frame = cLines[0].toStdString();
        for (int i = 1; i < 1000000; ++i)
            log->appendUtf8(frame);
        log->appendUtf8("cmd_getVersion");
        QTest::keyClick(log, Qt::Key_Home);
        rig->F().LogFind->Open();
        TypeText(rig->F().LogFind->Field(), QStringLiteral("GETVERSION"));
        const TLogView::TPos found{999999, 4}, end{999999, 14};
        QCOMPARE(log->anchor(), found);
        QCOMPARE(log->cursor(), end);
        QVERIFY(log->firstVisibleLine() > 999000);
        for (const auto key : {"F3", "Shift+F3"}) { // the only match: found again round the end
            Type(QString::fromLatin1(key));
            QCOMPARE(log->anchor(), found);
        }
    }

    void dragPastTheRightEdgeScrollsSideways()
    {
        std::string wide;
        for (int i = 0; i < 830; ++i)
            wide += char('a' + i % 26);
        rig->F().LogLine(wide);
        QScrollBar* h = log->horizontalScrollBar();
        QTRY_VERIFY(h->maximum() > 0);
        QTest::mousePress(log->viewport(), Qt::LeftButton, {}, At(log, 4, 0));
        const QPoint beyond(log->viewport()->width() + 200, At(log, 4, 0).y());
        Move(log, beyond);
        QTRY_COMPARE_WITH_TIMEOUT(log->cursor(), (TLogView::TPos{4, 830}), 10000);
        QCOMPARE(h->value(), h->maximum());
        QTest::mouseRelease(log->viewport(), Qt::LeftButton, {}, beyond);
        QCOMPARE(log->selectedText(), QString::fromStdString(wide));
    }
};

QTEST_MAIN(TestLog)
#include "test_log.moc"
