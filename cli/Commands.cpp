#include "Commands.h"

#include "CommandTable.h"

#include "Inspect.h"
#include "Output.h"
#include "PortLine.h"
#include "Report.h"
#include "Station.h"
#include "content/CodePage.h"
#include "content/TextRecords.h"
#include "protocol/exchange.h"
#include "serial/OpenFailure.h"
#include "update/FileFacts.h"
#include "update/flash.h"

#include <QString>

#include <algorithm>
#include <cstdio>
#include <functional>

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

} // namespace

int LoadUpdateFile(const std::string& file, bool cpu, TOutput& out)
{
    try {
        if (!cpu) {
            LoadGraphics(file);
        } else if (!LoadCpuFirmware(file)) {
            out.Error(cBadCpuFile, exitFileRefused);
            return exitFileRefused;
        }
    } catch (const EFlashFile& e) {
        out.Error(e.what(), exitFileRefused);
        return exitFileRefused;
    }
    return exitDone;
}

namespace {

class TSession {
public:
    explicit TSession(const TRunContext& c)
        : o_(c.o), out_(c.out), fileLoaded_(c.fileLoaded), record_(c.record), line_(c.o.port), ex_(line_, c.out)
    {
        ex_.Retries = o_.retries;
        ex_.PageGapMs = o_.pageGapMs;
        ex_.StopFlag = &c.stop;
    }

    // Sends `frame` (its values checked before) and prints what `result`
    // makes of the answer.
    int Ask(const TBytes& frame, const std::function<std::string(const std::uint8_t* answer, std::size_t n)>& result);
    int Speed(int to);
    int Update(bool cpu);

private:
    // The command's answer came: its result line, exit 0. Otherwise the failure.
    int Done(TExchangeResult r, const std::string& result);
    int Fail(TExchangeResult r);
    // Controller and line to `to`; the line follows once the controller has answered.
    TExchangeResult SwitchSpeed(int to, int retries = -1);
    // Where a transfer stopped and how to go on; `lost` names a failed line.
    int StoppedTransfer(TExchangeResult r, int first, int last, int found, const std::string& lost = {});

    // The version label text, or nothing when the controller does not answer.
    std::optional<std::string> ReadVersion();

    const TOptions& o_;
    TOutput& out_;
    const bool fileLoaded_;
    TReportEntry* const record_;
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

int TSession::Ask(const TBytes& frame,
                  const std::function<std::string(const std::uint8_t* answer, std::size_t n)>& result)
{
    line_.Open(o_.speed);
    const TExchangeResult r = ex_.Command(frame);
    if (r != TExchangeResult::Answered)
        return Fail(r);
    const auto* a = reinterpret_cast<const std::uint8_t*>(ex_.Answer().data());
    return Done(r, result(a, std::min(ex_.Answer().size(), cAnswerSize)));
}

int TSession::Speed(int to)
{
    line_.Open(o_.speed);
    return Done(SwitchSpeed(to), std::to_string(to));
}

std::optional<std::string> TSession::ReadVersion()
{
    if (ex_.Command(BuildCommandFrame(cmd_GetVersion)) != TExchangeResult::Answered)
        return std::nullopt;
    tGetVersion v;
    std::copy_n(reinterpret_cast<const std::uint8_t*>(ex_.Answer().data()),
                std::min(ex_.Answer().size(), cAnswerSize), v.raw.begin());
    return VersionLabelText(v);
}

int TSession::Update(bool cpu)
{
    // Loaded once for every port when several run; the table is only read
    // from here on.
    if (!fileLoaded_)
        if (const int code = LoadUpdateFile(o_.args[0], cpu, out_))
            return code;
    int first = cpu ? cCpuFirstPart : 0;
    const int last = SendFlash.PartFileSize;
    if (o_.from) {
        if (*o_.from < first || *o_.from > last)
            throw EUsage{"--from must be " + std::to_string(first) + " to " + std::to_string(last) + " for this file"};
        first = *o_.from;
    }

    line_.Open(o_.speed);
    const int found = o_.speed;
    if (record_) {
        // On record: the update starts only once the controller has told its version.
        record_->versionBefore = ReadVersion();
        if (!record_->versionBefore)
            return Fail(ex_.Command(BuildCommandFrame(cmd_TestConnect), 0) == TExchangeResult::Interrupted
                            ? TExchangeResult::Interrupted
                            : TExchangeResult::NoAnswer);
    }
    if (o_.fast && found != 115200) {
        const TExchangeResult r = SwitchSpeed(115200);
        if (r != TExchangeResult::Answered) {
            if (r == TExchangeResult::Interrupted)
                return Fail(r);
            out_.Error("the controller did not switch to 115200 bit/s; nothing was sent", exitNoAnswer);
            return exitNoAnswer;
        }
    }

    if (cpu)
        out_.Note(CpuVersionLine(CpuHeaderFacts(flashrec)));
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
        if (record_) {
            // The controller restarts on its new firmware: a patient wait, and
            // no answer is no failure.
            ex_.AnswerWaitMs = 3000;
            record_->versionAfter = ReadVersion();
        }
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
    const std::string goOn = GoOnLine(o_, next, speed);
    text += "no CPU command sent. Go on with:\n  " + goOn;
    if (record_)
        record_->resume = goOn;
    const int code = r == TExchangeResult::Interrupted ? exitInterrupted : exitNoAnswer;
    out_.Error(text, code);
    return code;
}

std::string Ok(const std::uint8_t*, std::size_t) { return "OK"; }

// A command without values whose answer means done.
template <std::uint8_t code>
int Plain(TRunContext& c)
{
    return TSession(c).Ask(BuildCommandFrame(code), Ok);
}

int Version(TRunContext& c)
{
    return TSession(c).Ask(BuildCommandFrame(cmd_GetVersion), [](const std::uint8_t* a, std::size_t n) {
        tGetVersion v;
        std::copy_n(a, n, v.raw.begin());
        return VersionLabelText(v);
    });
}

int Brightness(TRunContext& c)
{
    const TBytes frame = c.o.args.empty() ? BuildCommandFrame(cmd_getJasnosc)
                                          : BuildJasnoscFrame(std::uint8_t(ArgInt(c.o, "the brightness", 0, 15)));
    return TSession(c).Ask(frame, [](const std::uint8_t* a, std::size_t n) {
        tGetCommand g;
        std::copy_n(a, n, g.raw.begin());
        return std::to_string(g.Jasnosc());
    });
}

int Text(TRunContext& c)
{
    const TOptions& o = c.o;
    const std::u16string text = DisplayText(o.args.empty() ? "Przykładowy tekst statyczny" : o.args[0]);
    tStaticText s;
    s.Text = text;
    s.X = NamedInt(o, "x", -1000, 1000, 0);
    s.Y = NamedInt(o, "y", -1000, 1000, 0);
    s.Font = NamedInt(o, "font", 0, 15, 0);
    s.Color = std::uint32_t(NamedInt(o, "color", 0, 1, 1));
    s.ColorBack = std::uint32_t(NamedInt(o, "background", 0, 1, 0));
    tSendText rec;
    return TSession(c).Ask(BuildSendText(rec, s), Ok);
}

int Window(TRunContext& c)
{
    const TOptions& o = c.o;
    const int k = ArgInt(o, "the window", 1, 8) - 1;
    TWindowTextFrames table;
    table.SetDefaults();
    tWindowTextFrame& e = table[k];
    e.Left = std::int16_t(NamedInt(o, "left", -1000, 1000, e.Left));
    e.Top = std::int16_t(NamedInt(o, "top", -1000, 1000, e.Top));
    e.Width = std::int16_t(NamedInt(o, "width", 1, 128, e.Width));
    e.Height = std::int16_t(NamedInt(o, "height", 1, 32, e.Height));
    e.StepHoriz = std::int8_t(NamedInt(o, "horiz", -100, 100, e.StepHoriz));
    e.StepVert = std::int8_t(NamedInt(o, "vert", -100, 100, e.StepVert));
    e.Font = std::uint16_t(NamedInt(o, "font", 0, 15, e.Font));
    e.Color = std::uint32_t(NamedInt(o, "color", 0, 1, int(e.Color)));
    e.ColorBack = std::uint32_t(NamedInt(o, "background", 0, 1, int(e.ColorBack)));
    // Kept in Windows-1250 as the window keeps it, so the same letters survive.
    if (const auto t = o.named.find("text"); t != o.named.end())
        e.Text = ToWindows1250(DisplayText(t->second), cMaxStoredText);
    tSendTextFrame rec;
    return TSession(c).Ask(BuildSendTextFrame(rec, k, e), Ok);
}

int Logo(TRunContext& c)
{
    return TSession(c).Ask(BuildLogoFrame(std::uint8_t(ArgInt(c.o, "the logo", 1, 64))), Ok);
}

int SpeedCommand(TRunContext& c)
{
    const std::string& to = c.o.args[0];
    if (to != "9600" && to != "115200")
        throw EUsage{"the speed must be 9600 or 115200"};
    return TSession(c).Speed(std::stoi(to));
}

int Ports(TRunContext& c)
{
    std::vector<std::string> ports;
    EnumComPorts(ports);
    for (const std::string& p : ports)
        c.out.Result(p);
    return exitDone;
}

int Inspect(TRunContext& c) { return InspectFile(c.o.args[0], c.o.json, c.out); }

int UpdateCpu(TRunContext& c) { return TSession(c).Update(true); }
int UpdateGfx(TRunContext& c) { return TSession(c).Update(false); }

const std::vector<TOptionSpec> cUpdateOptions = {{"fast", "", ""}, {"from", "PAGE", ""}};
const char* const cUpdateHelp = "; --fast runs the transfer at 115200 bit/s, --from starts at that page";

} // namespace

const std::vector<TCommandSpec>& CommandTable()
{
    static const std::vector<TCommandSpec> table = {
        {"ports", 0, 0, "", {}, "the serial ports present, one per line", false, Ports},
        {"test", 0, 0, "", {}, "connection test", true, Plain<cmd_TestConnect>},
        {"restart", 0, 0, "", {}, "restart the controller", true, Plain<cmd_Restart>},
        {"clear", 0, 0, "", {}, "clear the screen", true, Plain<cmd_FillScreen>},
        {"version", 0, 0, "", {}, "the firmware and board versions", true, Version},
        {"brightness", 0, 1, "[N]", {}, "print the brightness, or set it (0-15, 0 automatic)", true, Brightness},
        {"text", 0, 1, "[TEXT]", {{"x", "N"}, {"y", "N"}, {"font", "N"}, {"color", "N"}, {"background", "N"}},
         "the static text (x, y -1000..1000, font 0..15, colours 0 black, 1 red; at most 199 characters)", true,
         Text},
        {"window", 1, 1, "N",
         {{"left", "N"}, {"top", "N"}, {"width", "N"}, {"height", "N"}, {"horiz", "N"}, {"vert", "N"},
          {"font", "N"}, {"color", "N"}, {"background", "N"}, {"text", "TEXT"}},
         "text window N (1-8); defaults as in the window's table", true, Window},
        {"logo", 1, 1, "N", {}, "show stored logo N (1-64)", true, Logo},
        {"speed", 1, 1, "9600|115200", {}, "switch the controller and the line", true, SpeedCommand},
        {"inspect", 1, 1, "FILE", {},
         "what an update file holds, before anything is sent: a CPU file's header, its pages, its SHA-256",
         false, Inspect},
        {"update-cpu", 1, 1, "FILE.BIN", cUpdateOptions, std::string("CPU firmware (pages 16 on)") + cUpdateHelp,
         true, UpdateCpu},
        {"update-gfx", 1, 1, "FILE.QGF", cUpdateOptions, std::string("graphics data (pages 0-4095)") + cUpdateHelp,
         true, UpdateGfx},
    };
    return table;
}

int RunGuarded(const TCommandSpec& spec, TRunContext& context)
{
    TOutput& out = context.out;
    try {
        return spec.run(context);
    } catch (const EUsage& e) {
        out.Error(e.text, exitUsage);
        return exitUsage;
    } catch (const EComPort& e) {
        if (e.Code == CError_OpenFailed) {
            out.Error(PortFailureReason(e, context.o.port), exitPortFailed);
            return exitPortFailed;
        }
        out.Error(e.what(), exitNoAnswer);
        return exitNoAnswer;
    } catch (const std::exception& e) {
        out.Error(e.what(), exitNoAnswer);
        return exitNoAnswer;
    }
}

bool IsUpdate(const TCommandSpec& spec)
{
    return spec.run == UpdateCpu || spec.run == UpdateGfx;
}

int RunCommand(const TOptions& o, const std::atomic<bool>& stop)
{
    const TCommandSpec* spec = FindCommand(o.command);
    if (spec->needsPort && (o.ports.size() > 1 || (IsUpdate(*spec) && !o.report.empty())))
        return RunStation(o, stop, *spec);
    TOutput out(o.command, o.json);
    std::string error;
    if (!out.OpenLog(o.log, error)) {
        out.Error(error, exitUsage);
        return exitUsage;
    }
    TRunContext context{o, out, stop};
    return RunGuarded(*spec, context);
}
