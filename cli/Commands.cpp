#include "Commands.h"

#include "Output.h"
#include "PortLine.h"
#include "content/CodePage.h"
#include "content/TextRecords.h"
#include "protocol/exchange.h"
#include "serial/OpenFailure.h"
#include "update/flash.h"

#include <QString>

#include <algorithm>
#include <cstdio>

namespace {

// The window's message for a command left unanswered.
const char* const cNoAnswer = "Brak potwierdzenia odebrania komendy do Quorvantela";
const char* const cBadCpuFile = "Wybrano zły plik do upgreadu CPU";

// Usage errors found once the command's own values are read.
struct EUsage {
    std::string text;
};

int NamedInt(const TOptions& o, const char* name, int lo, int hi, int fallback)
{
    const auto it = o.named.find(name);
    if (it == o.named.end())
        return fallback;
    int v = 0;
    if (!ParseInt(it->second, lo, hi, v))
        throw EUsage{"--" + std::string(name) + " must be " + std::to_string(lo) + " to " + std::to_string(hi)};
    return v;
}

int ArgInt(const TOptions& o, const char* what, int lo, int hi)
{
    int v = 0;
    if (!ParseInt(o.args.at(0), lo, hi, v))
        throw EUsage{std::string(what) + " must be " + std::to_string(lo) + " to " + std::to_string(hi)};
    return v;
}

// A display text as the window's edit holds it: at most 199 characters.
std::u16string DisplayText(const std::string& utf8)
{
    std::u16string text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size())).toStdU16String();
    if (text.size() > cMaxTextLength)
        throw EUsage{"the text has more than " + std::to_string(cMaxTextLength) + " characters"};
    return text;
}

class TSession {
public:
    TSession(const TOptions& o, TOutput& out, const std::atomic<bool>& stop)
        : o_(o), out_(out), line_(o.port), ex_(line_, out)
    {
        ex_.Retries = o.retries;
        ex_.PageGapMs = o.pageGapMs;
        ex_.StopFlag = &stop;
    }

    int Run();

private:
    // The command's answer came: its result line, exit 0. Otherwise the failure.
    int Done(TExchangeResult r, const std::string& result);
    int Fail(TExchangeResult r);
    // Controller and line to `to`; the line follows once the controller has answered.
    TExchangeResult SwitchSpeed(int to, int retries = -1);
    int Update(bool cpu);
    // Where a transfer stopped and how to go on; `lost` names a failed line.
    int StoppedTransfer(TExchangeResult r, int first, int last, int found, const std::string& lost = {});

    const TOptions& o_;
    TOutput& out_;
    TPortLine line_;
    TLineExchange ex_;
};

int TSession::Fail(TExchangeResult r)
{
    if (r == TExchangeResult::Interrupted) {
        out_.Error("interrupted", exitInterrupted);
        return exitInterrupted;
    }
    out_.Error(cNoAnswer, exitNoAnswer);
    return exitNoAnswer;
}

int TSession::Done(TExchangeResult r, const std::string& result)
{
    if (r != TExchangeResult::Answered)
        return Fail(r);
    out_.Result(result);
    return exitDone;
}

TExchangeResult TSession::SwitchSpeed(int to, int retries)
{
    const int from = line_.Speed();
    const TExchangeResult r = ex_.Command(BuildCommandFrame(to == 115200 ? cmd_Set115200 : cmd_Set9600), retries);
    if (r == TExchangeResult::Answered) {
        line_.SetSpeed(to);
        return r;
    }
    if (r == TExchangeResult::Interrupted)
        return r;
    // The controller may have switched with its answer lost: ask it at the new speed.
    line_.SetSpeed(to);
    if (ex_.Command(BuildCommandFrame(cmd_TestConnect), 0) == TExchangeResult::Answered)
        return TExchangeResult::Answered;
    line_.SetSpeed(from);
    return r;
}

int TSession::Run()
{
    const std::string& c = o_.command;
    const bool cpu = c == "update-cpu";
    if (cpu || c == "update-gfx")
        return Update(cpu);

    // The command's values are checked before the port is touched.
    TBytes frame;
    if (c == "test" || c == "restart" || c == "clear" || c == "version") {
        frame = BuildCommandFrame(c == "test"      ? cmd_TestConnect
                                  : c == "restart" ? cmd_Restart
                                  : c == "clear"   ? cmd_FillScreen
                                                   : cmd_GetVersion);
    } else if (c == "brightness") {
        frame = o_.args.empty() ? BuildCommandFrame(cmd_getJasnosc)
                                : BuildJasnoscFrame(std::uint8_t(ArgInt(o_, "the brightness", 0, 15)));
    } else if (c == "text") {
        const std::u16string text = DisplayText(o_.args.empty() ? "Przykładowy tekst statyczny" : o_.args[0]);
        tStaticText s;
        s.X = NamedInt(o_, "x", -1000, 1000, 0);
        s.Y = NamedInt(o_, "y", -1000, 1000, 0);
        s.Font = NamedInt(o_, "font", 0, 15, 0);
        s.Color = std::uint32_t(NamedInt(o_, "color", 0, 1, 1));
        s.ColorBack = std::uint32_t(NamedInt(o_, "background", 0, 1, 0));
        s.Text = text;
        tSendText rec;
        frame = BuildSendText(rec, s);
    } else if (c == "window") {
        const int k = ArgInt(o_, "the window", 1, 8) - 1;
        TWindowTextFrames table;
        table.SetDefaults();
        tWindowTextFrame& e = table[k];
        e.Left = std::int16_t(NamedInt(o_, "left", -1000, 1000, e.Left));
        e.Top = std::int16_t(NamedInt(o_, "top", -1000, 1000, e.Top));
        e.Width = std::int16_t(NamedInt(o_, "width", 1, 128, e.Width));
        e.Height = std::int16_t(NamedInt(o_, "height", 1, 32, e.Height));
        e.StepHoriz = std::int8_t(NamedInt(o_, "horiz", -100, 100, e.StepHoriz));
        e.StepVert = std::int8_t(NamedInt(o_, "vert", -100, 100, e.StepVert));
        e.Font = std::uint16_t(NamedInt(o_, "font", 0, 15, e.Font));
        e.Color = std::uint32_t(NamedInt(o_, "color", 0, 1, int(e.Color)));
        e.ColorBack = std::uint32_t(NamedInt(o_, "background", 0, 1, int(e.ColorBack)));
        // Kept in Windows-1250 as the window keeps it, so the same letters survive.
        if (const auto t = o_.named.find("text"); t != o_.named.end())
            e.Text = ToWindows1250(DisplayText(t->second), cMaxStoredText);
        tSendTextFrame rec;
        frame = BuildSendTextFrame(rec, k, e);
    } else if (c == "logo") {
        frame = BuildLogoFrame(std::uint8_t(ArgInt(o_, "the logo", 1, 64)));
    } else if (c == "speed") {
        if (o_.args[0] != "9600" && o_.args[0] != "115200")
            throw EUsage{"the speed must be 9600 or 115200"};
    }

    line_.Open(o_.speed);
    if (c == "speed") {
        const int to = std::stoi(o_.args[0]);
        return Done(SwitchSpeed(to), std::to_string(to));
    }
    const TExchangeResult r = ex_.Command(frame);
    if (r != TExchangeResult::Answered)
        return Fail(r);
    const auto* a = reinterpret_cast<const std::uint8_t*>(ex_.Answer().data());
    const std::size_t n = std::min(ex_.Answer().size(), cAnswerSize);
    if (c == "version") {
        tGetVersion v;
        std::copy_n(a, n, v.raw.begin());
        return Done(r, VersionLabelText(v));
    }
    if (c == "brightness") {
        tGetCommand g;
        std::copy_n(a, n, g.raw.begin());
        return Done(r, std::to_string(g.Jasnosc()));
    }
    return Done(r, "OK");
}

int TSession::Update(bool cpu)
{
    const std::string& file = o_.args[0];
    try {
        if (cpu) {
            if (!LoadCpuFirmware(file)) {
                out_.Error(cBadCpuFile, exitFileRefused);
                return exitFileRefused;
            }
        } else {
            LoadGraphics(file);
        }
    } catch (const EFlashFile& e) {
        out_.Error(e.what(), exitFileRefused);
        return exitFileRefused;
    }
    int first = cpu ? cCpuFirstPart : 0;
    const int last = SendFlash.PartFileSize;
    if (o_.from) {
        if (*o_.from < first || *o_.from > last)
            throw EUsage{"--from must be " + std::to_string(first) + " to " + std::to_string(last) + " for this file"};
        first = *o_.from;
    }

    line_.Open(o_.speed);
    const int found = o_.speed;
    if (o_.fast && found != 115200) {
        const TExchangeResult r = SwitchSpeed(115200);
        if (r != TExchangeResult::Answered) {
            if (r == TExchangeResult::Interrupted)
                return Fail(r);
            out_.Error("the controller did not switch to 115200 bit/s; nothing was sent", exitNoAnswer);
            return exitNoAnswer;
        }
    }

    out_.Start(first, last - first + 1);
    TExchangeResult r;
    try {
        r = ex_.Transfer(first, last, [](int k) {
            return TPageRef{SendFlash.Part[k].adres, SendFlash.Part[k].buf};
        });
    } catch (const std::exception& e) {
        return StoppedTransfer(TExchangeResult::NoAnswer, first, last, found, e.what());
    }
    if (r != TExchangeResult::Answered)
        return StoppedTransfer(r, first, last, found);
    out_.EndProgress();

    if (cpu) {
        // Sent once: the controller programs its CPU on it and then listens at 9600.
        const TExchangeResult c3 = ex_.Command(BuildCommandFrame(cmd_UpgreadeCPU), 0);
        if (c3 == TExchangeResult::Interrupted)
            return StoppedTransfer(c3, last, last, found);
        if (c3 != TExchangeResult::Answered) {
            out_.Error(std::string(cNoAnswer) + " (command 3, after pages " + std::to_string(cCpuFirstPart) + "-" +
                           std::to_string(last) + " were all confirmed)",
                       exitNoAnswer);
            return exitNoAnswer;
        }
        line_.SetSpeed(9600);
        out_.Result("cmd_UpgradeCPU");
        return exitDone;
    }
    if (line_.Speed() != found && SwitchSpeed(found) != TExchangeResult::Answered) {
        out_.Error("Dane graficzne zostały zaktualizowane, but the controller did not switch back to " +
                       std::to_string(found) + " bit/s",
                   exitNoAnswer);
        return exitNoAnswer;
    }
    out_.Result("Dane graficzne zostały zaktualizowane.");
    return exitDone;
}

int TSession::StoppedTransfer(TExchangeResult r, int first, int last, int found, const std::string& lost)
{
    const int next = std::min(ex_.NextPage(), last);
    int speed = line_.Speed();
    if (speed != found && lost.empty()) {
        // Back to the speed the controller was found at, one try, so that the
        // line to go on with is the one given.
        ex_.StopFlag = nullptr;
        if (SwitchSpeed(found, 0) == TExchangeResult::Answered)
            speed = found;
    }
    std::string text;
    if (r == TExchangeResult::Interrupted) {
        text = "interrupted; ";
    } else if (!lost.empty()) {
        text = lost + " at page " + std::to_string(next) + "; ";
    } else {
        char address[16];
        std::snprintf(address, sizeof address, "%08X", unsigned(SendFlash.Part[next].adres));
        text = "page " + std::to_string(next) + " ($" + address + ") was not confirmed after " +
               std::to_string(1 + o_.retries) + " tries; ";
    }
    text += next > first ? "pages " + std::to_string(first) + "-" + std::to_string(next - 1) + " confirmed, "
                         : std::string("no page confirmed, ");
    text += "no CPU command sent. Go on with:\n  " + GoOnLine(o_, next, speed);
    const int code = r == TExchangeResult::Interrupted ? exitInterrupted : exitNoAnswer;
    out_.Error(text, code);
    return code;
}

} // namespace

int RunCommand(const TOptions& o, const std::atomic<bool>& stop)
{
    TOutput out(o.command, o.json);
    std::string error;
    if (!out.OpenLog(o.log, error)) {
        out.Error(error, exitUsage);
        return exitUsage;
    }
    if (o.command == "ports") {
        try {
            std::vector<std::string> ports;
            EnumComPorts(ports);
            for (const std::string& p : ports)
                out.Result(p);
            return exitDone;
        } catch (const EComPort& e) {
            out.Error(e.what(), exitNoAnswer);
            return exitNoAnswer;
        }
    }
    TSession session(o, out, stop);
    try {
        return session.Run();
    } catch (const EUsage& e) {
        out.Error(e.text, exitUsage);
        return exitUsage;
    } catch (const EComPort& e) {
        if (e.Code == CError_OpenFailed) {
            out.Error(PortFailureReason(e, o.port), exitPortFailed);
            return exitPortFailed;
        }
        out.Error(e.what(), exitNoAnswer);
        return exitNoAnswer;
    } catch (const std::exception& e) {
        out.Error(e.what(), exitNoAnswer);
        return exitNoAnswer;
    }
}
