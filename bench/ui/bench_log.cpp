// The operator log over a long run, in the window (offscreen): one million
// lines of the kinds the tool writes - static text frames sent as the
// animation sends them, the controller's answers, a connection test with its
// handler's note - appended through the window's own logging. Prints the
// resident growth per line, the append time at the start and at the end of
// the million, the repaint time with the view at the end (near empty and
// full), select-all + copy of the whole log with the copied text checked,
// saving the million lines with their times (the file checked, the longest
// turn of the event loop meanwhile), one search step over the million, and
// the memory after "Czyść okno z LOGiem". Every line holds its time.
#include "bench/common/BenchKit.h"
#include "content/TextRecords.h"
#include "protocol/frame.h"
#include "serial/CPortCtl.h"
#include "ui/Dialogs.h"
#include "ui/LogFind.h"
#include "ui/LogView.h"
#include "ui/MainUnit.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QScrollBar>
#include <QTest>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using bench::StatusKiB;

constexpr long cLines = 1000000;
constexpr long cProbe = 20000; // lines timed at the start and at the end

std::string Sent(const TBytes& frame)
{
    return StrToHex(frame) + " wielkość: " + std::to_string(frame.size());
}
std::string Received(const TBytes& frame)
{
    return StrToHex(frame) + " Wielkość: " + std::to_string(frame.size());
}

// One cycle of lines, as the animation and a connection test write them;
// the static text moves across the display as the animation moves it.
std::vector<std::string> LineCycle()
{
    std::vector<std::string> out;
    const std::u16string text = u"Przykładowy tekst statyczny";
    for (int x = 0; x < 16; ++x) {
        tSendText rec;
        tStaticText s;
        s.X = x * 8 - 64;
        s.Text = text;
        TBytes frame = BuildSendText(rec, s);
        SealFrame(frame);
        out.push_back(Sent(frame));
        out.push_back(Received(BuildAnswerFrame(cmd_putText, 0, rec_ResponseOK, 0)));
        if (x % 4 == 3) {
            TBytes test = BuildCommandFrame(cmd_TestConnect);
            SealFrame(test);
            out.push_back(Sent(test));
            out.push_back(Received(BuildAnswerFrame(cmd_TestConnect, 0, rec_ResponseOK, 0)));
            out.push_back("cmd_TestConnect");
        }
    }
    return out;
}

// Mean time of one append over `count` lines from line `from` on, in µs.
double TimedAppends(TMainForm& form, const std::vector<std::string>& cycle, long from, long count)
{
    QElapsedTimer t;
    t.start();
    for (long i = from; i < from + count; ++i)
        form.LogLine(cycle[std::size_t(i) % cycle.size()]);
    return double(t.nsecsElapsed()) / 1000.0 / double(count);
}

// Mean time of a repaint of the log's viewport, in ms.
double RepaintMs(TMainForm& form)
{
    constexpr int runs = 50;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < runs; ++i)
        form.Memo1->viewport()->repaint();
    return double(t.nsecsElapsed()) / 1e6 / runs;
}

// The save dialog answers with one file.
class TSaveTo final : public IDialogs {
public:
    QString file;
    QStringList messages;
    void Message(QWidget*, const QString& text) override { messages << text; }
    bool Question(QWidget*, const QString&) override { return false; }
    void Error(QWidget*, const QString& text) override { messages << text; }
    QString SaveFile(QWidget*, const QString&, const QString&, const QString&) override { return file; }
};

// Saves the log through Ctrl+S's path; prints the time, the longest turn of
// the event loop meanwhile and whether the file holds every line in order.
bool SaveMillion(TMainForm& form, const std::vector<std::string>& cycle)
{
    QTemporaryDir dir;
    TSaveTo seam;
    seam.file = dir.filePath(QStringLiteral("log.txt"));
    SetDialogs(&seam);
    bool done = false, written = false;
    QObject::connect(form.Memo1, &TLogView::saveFinished, form.Memo1, [&](const QString&, bool ok) {
        done = true;
        written = ok;
    });
    QElapsedTimer t;
    t.start();
    form.Memo1->saveLog();
    qint64 longest = 0;
    while (!done) {
        QElapsedTimer turn;
        turn.start();
        QCoreApplication::processEvents();
        longest = std::max(longest, turn.nsecsElapsed());
    }
    const double ms = double(t.nsecsElapsed()) / 1e6;
    SetDialogs(nullptr);
    QFile file(seam.file);
    bool exact = written && file.open(QIODevice::ReadOnly);
    long lines = 0;
    while (exact && !file.atEnd()) {
        const QByteArray line = file.readLine();
        const std::string& text = cycle[std::size_t(lines) % cycle.size()];
        exact = line.size() == qsizetype(23 + 2 + text.size() + 1) && line[4] == '-' && line[19] == '.' &&
                line.mid(25, qsizetype(text.size())) == QByteArray::fromStdString(text);
        ++lines;
    }
    exact = exact && lines == form.Memo1->lineCount();
    std::printf("  save of %ld lines with their times: %.0f ms (goal < 3000), %.1f MiB, longest turn of the event"
                " loop meanwhile %.1f ms; every line in order with its time: %s\n",
                lines, ms, double(file.size()) / 1048576.0, double(longest) / 1e6, exact ? "yes" : "NO");
    return exact;
}

// One search step for `needle` from the top of the view, and the next one.
bool SearchMillion(TMainForm& form, const QString& needle, qsizetype expectLine)
{
    form.Memo1->setSelection({}, {});
    form.Memo1->verticalScrollBar()->setValue(0);
    form.LogFind->Open();
    form.LogFind->Field()->setText(needle);
    QElapsedTimer t;
    t.start();
    const bool found = form.LogFind->Find(TLogFind::TStep::FromPlace);
    const double firstMs = double(t.nsecsElapsed()) / 1e6;
    t.restart();
    form.LogFind->Find(TLogFind::TStep::Next);
    const double nextMs = double(t.nsecsElapsed()) / 1e6;
    form.LogFind->Close();
    const bool right = expectLine < 0 ? !found : found && form.Memo1->anchor().line == expectLine;
    std::printf("  search step over %lld lines for \"%s\" (%s): %.1f ms from the top, %.1f ms the next (goal < 100)%s\n",
                qlonglong(form.Memo1->lineCount()), qPrintable(needle),
                expectLine < 0 ? "no match" : "in the last line", firstMs, nextMs, right ? "" : " (WRONG MATCH)");
    return right;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TComSelect::SetPortLister([](std::vector<std::string>& ports) { ports = {"COM1"}; });
    TMainForm form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) {
        std::fprintf(stderr, "the window was not shown\n");
        return 1;
    }
    const std::vector<std::string> cycle = LineCycle();
    double textBytes = 0;
    for (const std::string& line : cycle)
        textBytes += double(line.size());
    textBytes /= double(cycle.size());

    // Warm up (fonts, glyphs, the first blocks), then start from an empty log.
    TimedAppends(form, cycle, 0, cProbe);
    RepaintMs(form);
    form.btnClearMemo->click();
    QCoreApplication::processEvents();
    const long rssBefore = StatusKiB("VmRSS");

    const double startUs = TimedAppends(form, cycle, 0, cProbe);
    QCoreApplication::processEvents();
    const double repaintNearEmpty = RepaintMs(form);
    TimedAppends(form, cycle, cProbe, cLines - 2 * cProbe);
    const double endUs = TimedAppends(form, cycle, cLines - cProbe, cProbe);
    QCoreApplication::processEvents();
    const long rssFull = StatusKiB("VmRSS");
    const double repaintFull = RepaintMs(form);
    const bool atEnd = form.Memo1->verticalScrollBar()->value() == form.Memo1->verticalScrollBar()->maximum() &&
                       form.Memo1->lineCount() == cLines;

    std::printf("operator log, %ld lines appended through the window (offscreen), %.1f bytes of text a line"
                " on average:\n", cLines, textBytes);
    std::printf("  resident growth, lines with their times: %.1f MiB, %.1f bytes a line (goal <= 150); the log holds %.1f MiB"
                " (%.1f bytes a line)\n",
                double(rssFull - rssBefore) / 1024.0, double(rssFull - rssBefore) * 1024.0 / double(cLines),
                double(form.Memo1->bytesHeld()) / 1048576.0, double(form.Memo1->bytesHeld()) / double(cLines));
    std::printf("  append: %.2f us a line over the first %ld lines, %.2f us over the last %ld (goal: no growth)\n",
                startUs, cProbe, endUs, cProbe);
    std::printf("  repaint with the view at the end: %.3f ms with %ld lines, %.3f ms with %ld lines%s\n",
                repaintNearEmpty, cProbe, repaintFull, cLines, atEnd ? "" : " (NOT AT THE END)");

    // Select all and copy; the clipboard must hold exactly the lines' text.
    QElapsedTimer t;
    t.start();
    form.Memo1->selectAll();
    form.Memo1->copy();
    const double copyMs = double(t.nsecsElapsed()) / 1e6;
    bool exact = false;
    long long copiedChars = 0;
    {
        std::string expect;
        expect.reserve(std::size_t(textBytes * double(cLines)) + std::size_t(cLines));
        for (long i = 0; i < cLines; ++i) {
            if (i > 0)
                expect += '\n';
            expect += cycle[std::size_t(i) % cycle.size()];
        }
        const QString copied = QGuiApplication::clipboard()->text();
        copiedChars = copied.size();
        exact = copied == QString::fromStdString(expect);
    }
    std::printf("  select all + copy of %ld lines: %.0f ms, %lld characters, copied text exact: %s\n", cLines,
                copyMs, copiedChars, exact ? "yes" : "NO");

    QGuiApplication::clipboard()->clear();
    const bool saved = SaveMillion(form, cycle);
    form.LogLine("cmd_getVersion");
    const bool searched = SearchMillion(form, QStringLiteral("GETVERSION"), cLines) &&
                          SearchMillion(form, QStringLiteral("wielkość: 99"), -1);

    // Clearing gives the memory back (the copy's text goes first).
    const long rssCopied = StatusKiB("VmRSS");
    form.btnClearMemo->click();
    QCoreApplication::processEvents();
    const long rssCleared = StatusKiB("VmRSS");
    std::printf("  after \"Czyść okno z LOGiem\": RSS %.1f MiB (before the million %.1f, full %.1f, full and"
                " copied %.1f), the log holds %zu bytes\n",
                rssCleared / 1024.0, rssBefore / 1024.0, rssFull / 1024.0, rssCopied / 1024.0,
                form.Memo1->bytesHeld());
    return exact && atEnd && saved && searched && form.Memo1->lineCount() == 0 ? 0 : 1;
}
