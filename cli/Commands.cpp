#include "Commands.h"

#include "CommandTable.h"

#include "Inspect.h"
#include "Session.h"
#include "Station.h"
#include "Update.h"
#include "content/CodePage.h"
#include "content/TextRecords.h"
#include "protocol/exchange.h"
#include "serial/OpenFailure.h"
#include "serial/PortInfo.h"
#include "update/flash.h"

#include <QString>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

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
    for (const TPortInfo& p : ListPortInfos()) {
        // The path, then what is known of the adapter.
        std::string line = p.port;
        const std::string usb = p.vid.empty() ? "" : p.vid + ":" + p.pid;
        for (const std::string& part : {p.product, p.manufacturer, usb, p.serial.empty() ? "" : "serial " + p.serial,
                                        p.driver, p.byId})
            if (!part.empty())
                line += "  " + part;
        c.out.Port(line, {{"port", p.port}, {"by_id", p.byId}, {"vid", p.vid}, {"pid", p.pid},
                          {"manufacturer", p.manufacturer}, {"product", p.product}, {"serial", p.serial},
                          {"driver", p.driver}});
    }
    c.out.Result("");
    return exitDone;
}

int Inspect(TRunContext& c) { return InspectFile(c.o.args[0], c.o.json, c.out); }

int UpdateCpu(TRunContext& c) { return RunUpdate(c, true); }
int UpdateGfx(TRunContext& c) { return RunUpdate(c, false); }

const std::vector<TOptionSpec> cUpdateOptions = {{"fast"}, {"resume"}, {"from", "PAGE"}, {"force"}};
const char* const cUpdateHelp = "; --fast runs the transfer at 115200 bit/s, --resume goes on where the "
                                "recorded stop on this port left it, --from starts at that page (with --force)";

} // namespace

const std::vector<TCommandSpec>& CommandTable()
{
    static const std::vector<TCommandSpec> table = {
        {"ports", 0, 0, "", {}, "the serial ports present, one per line, with what their adapters tell of themselves", false, Ports},
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

int RunGuarded(const TCommandSpec& row, TRunContext& context)
{
    TOutput& out = context.out;
    try {
        return row.run(context);
    } catch (const EUsage& e) {
        out.Error(e.text, exitUsage);
        return exitUsage;
    } catch (const EComPort& e) {
        if (e.Code == CError_OpenFailed) {
            out.Error(PortFailureReason(e, PortPath(context.o.port)), exitPortFailed);
            return exitPortFailed;
        }
        out.Error(e.what(), exitNoAnswer);
        return exitNoAnswer;
    } catch (const std::exception& e) {
        out.Error(e.what(), exitNoAnswer);
        return exitNoAnswer;
    }
}

bool IsUpdate(const TCommandSpec& row)
{
    return row.run == UpdateCpu || row.run == UpdateGfx;
}

// "serial:SN" names the port of the adapter with that USB serial number;
// "" when every port is known, else why not.
std::string ResolveSerialPorts(TOptions& o)
{
    for (std::string* port : [&] {
             std::vector<std::string*> all{&o.port};
             for (std::string& p : o.ports)
                 all.push_back(&p);
             return all;
         }()) {
        if (port->rfind("serial:", 0) != 0)
            continue;
        std::vector<std::string> present;
        const std::string sn = port->substr(7);
        if (const auto info = PortBySerial(sn, &present)) {
            *port = info->port;
            continue;
        }
        std::string list;
        for (const std::string& s : present)
            list += (list.empty() ? "" : ", ") + s;
        return "no single adapter has the serial number " + sn + "; serial numbers present: " +
               (list.empty() ? "none" : list);
    }
    return {};
}

int RunCommand(const TOptions& given, const std::atomic<bool>& stop, const std::atomic<int>& signal)
{
    const TCommandSpec* row = FindCommand(given.command);
    TOptions o = given;
    if (row->needsPort) {
        if (const std::string why = ResolveSerialPorts(o); !why.empty()) {
            TOutput out(o.command, o.json);
            out.Error(why, exitPortFailed);
            return exitPortFailed;
        }
    }
    if (row->needsPort && (o.ports.size() > 1 || (IsUpdate(*row) && !o.report.empty())))
        return RunStation(o, stop, signal, *row);
    TOutput out(o.command, o.json);
    std::string error;
    if (!out.OpenLog(o.log, error)) {
        out.Error(error, exitUsage);
        return exitUsage;
    }
    TRunContext context{o, out, stop, signal};
    return RunGuarded(*row, context);
}
