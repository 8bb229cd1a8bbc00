// The operator log over a long run, in the window (offscreen): one million
// lines of the kinds the tool writes - static text frames sent as the
// animation sends them, the controller's answers, a connection test with its
// handler's note - appended through the window's own logging. Prints the
// resident growth per line, the append time at the start and at the end of
// the million, the repaint time with the view at the end (near empty and
// full), select-all + copy of the whole log with the copied text checked,
// and the memory after "Czyść okno z LOGiem".
#include "bench/common/BenchKit.h"
#include "content/TextRecords.h"
#include "protocol/frame.h"
#include "serial/CPortCtl.h"
#include "ui/LogView.h"
#include "ui/MainUnit.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QPushButton>
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
    std::printf("  resident growth: %.1f MiB, %.1f bytes a line (goal <= 150); the log holds %.1f MiB"
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

    // Clearing gives the memory back (the copy's text goes first).
    QGuiApplication::clipboard()->clear();
    const long rssCopied = StatusKiB("VmRSS");
    form.btnClearMemo->click();
    QCoreApplication::processEvents();
    const long rssCleared = StatusKiB("VmRSS");
    std::printf("  after \"Czyść okno z LOGiem\": RSS %.1f MiB (before the million %.1f, full %.1f, full and"
                " copied %.1f), the log holds %zu bytes\n",
                rssCleared / 1024.0, rssBefore / 1024.0, rssFull / 1024.0, rssCopied / 1024.0,
                form.Memo1->bytesHeld());
    return exact && atEnd && form.Memo1->lineCount() == 0 ? 0 : 1;
}
