// The received bytes, cut into arbitrary deliveries, through the window's own
// piece splitting, the frame receiver and the answer handlers behind it.
//
// Input: byte 0 the window's state (flash stage, awaited command, the page
// count of a transfer, the answer to a question), byte 1 the port's input
// queue size, bytes 2-3 the seed of the delivery sizes, the rest the line.
#include "FuzzCheck.h"

#include "protocol/frame.h"
#include "ui/Dialogs.h"
#include "ui/LogView.h"
#include "ui/MainUnit.h"
#include "update/flash.h"

#include <QApplication>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Answers every box at once; the question's answer comes with the input.
class TSilentDialogs final : public IDialogs {
public:
    bool answer = false;
    void Message(QWidget*, const QString&) override {}
    bool Question(QWidget*, const QString&) override { return answer; }
    void Error(QWidget*, const QString&) override {}
};

TSilentDialogs* silent = nullptr;
TMainForm* form = nullptr;

constexpr std::int32_t cPartCounts[] = {0, 1, cCpuFirstPart + 2, cLastPart};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication app(*argc, *argv);
    silent = new TSilentDialogs;
    SetDialogs(silent);
    // A port that cannot exist: no handler can reach a real device.
    form = new TMainForm("/nonexistent/quorvantel-fuzz-port");
    form->Receiver.StartPauseMs = 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const std::uint8_t state = data[0];
    const std::int32_t inputSize = 1 + 2 * std::int32_t(data[1]);
    std::uint32_t seed = std::uint32_t(data[2]) | std::uint32_t(data[3]) << 8;
    const std::string line(reinterpret_cast<const char*>(data + 4), size - 4);

    // With no event loop running, what the handlers posted (repaints, the
    // window's layout) is delivered here now and then, so it cannot pile up;
    // at every input the window's relayout would cost most of the run.
    static unsigned inputs = 0;
    if (++inputs % 128 == 0) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    form->Receiver.Reset();
    form->Memo1->clear();
    form->AutoTimer = {};
    form->AutoTimer.cmd = std::uint8_t((state >> 2) & 0x0F);
    if (form->AutoTimer.cmd > cmd_GetVersion)
        form->AutoTimer.cmd = 0;
    form->FlashStage = TMainForm::TFlashStage(state & 3);
    SendFlash.PartFileSize = cPartCounts[(state >> 6) & 3];
    silent->answer = (state & 0x80) != 0;

    std::size_t at = 0;
    while (at < line.size()) {
        // Delivery sizes from a small generator: mostly short, now and then
        // all that is left.
        seed = seed * 1103515245u + 12345u;
        const std::size_t left = line.size() - at;
        const std::size_t count = (seed >> 16) % 8 == 0 ? left : std::min<std::size_t>(left, 1 + (seed >> 16) % 40);
        std::size_t taken = 0;
        form->ReceiveInPieces(
            std::int32_t(count), inputSize,
            [&](std::string& str, std::int32_t n) {
                str.assign(line, at + taken, std::size_t(n));
                taken += str.size();
            },
            [] { return true; });
        FUZZ_CHECK(taken == count);
        at += taken;
        FUZZ_CHECK(form->Receiver.RS232.pos >= 0);
        FUZZ_CHECK(form->Receiver.myComSize >= 0 && form->Receiver.myComSize <= cRingSize);
    }
    return 0;
}
