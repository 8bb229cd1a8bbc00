#include "Arguments.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>

const char* const cUsage =
    "Usage: quorvantel-cli [--port PATH] [--speed 9600|115200] [--log FILE] [--json]\n"
    "                      [--retries N] [--page-gap MS] COMMAND [ARGS]\n"
    "Drives a Quorvantel display controller over a serial line without a window.\n"
    "\n"
    "Commands:\n"
    "  ports                      the serial ports present, one per line\n"
    "  test | restart | clear     connection test, restart, clear the screen\n"
    "  version                    the firmware and board versions\n"
    "  brightness [N]             print the brightness, or set it (0-15, 0 automatic)\n"
    "  text [--x N] [--y N] [--font N] [--color N] [--background N] [TEXT]\n"
    "                             the static text (x, y -1000..1000, font 0..15,\n"
    "                             colours 0 black, 1 red; at most 199 characters)\n"
    "  window N [--left N] [--top N] [--width N] [--height N] [--horiz N] [--vert N]\n"
    "           [--font N] [--color N] [--background N] [--text TEXT]\n"
    "                             text window N (1-8); defaults as in the window's table\n"
    "  logo N                     show stored logo N (1-64)\n"
    "  speed 9600|115200          switch the controller and the line\n"
    "  update-cpu FILE.BIN [--fast] [--from PAGE]\n"
    "  update-gfx FILE.QGF [--fast] [--from PAGE]\n"
    "                             CPU firmware (pages 16 on) or graphics data\n"
    "                             (pages 0-4095); --fast runs the transfer at\n"
    "                             115200 bit/s, --from starts at that page\n"
    "\n"
    "Options:\n"
    "  --port PATH       the serial port (required except for ports)\n"
    "  --speed N         the speed the controller listens at now (default 9600)\n"
    "  --log FILE        every frame sent and received, as the window logs them\n"
    "                    ('-': standard error)\n"
    "  --json            events as JSON objects, one per line, on standard output\n"
    "  --retries N       resends of an unanswered frame (default 3)\n"
    "  --page-gap MS     pause after each page confirmation (default 0)\n"
    "  --help, --version\n"
    "\n"
    "JSON events carry the keys event (start, page, retry, done, error), command,\n"
    "page (-1: none), pages (of the transfer), confirmed (pages so far), attempt\n"
    "(resend number), exit (-1 until the last event) and message, always all of\n"
    "them; page events come every 64 pages and at the last one.\n"
    "\n"
    "Exit codes: 0 done; 1 the controller did not answer or a transfer stopped;\n"
    "2 wrong usage; 3 file refused; 4 port cannot be opened; 130 interrupted.\n";

namespace {

// Options every command takes, and those that need no value.
const std::set<std::string> cGlobal = {"port", "speed", "log", "json", "retries", "page-gap", "help",
                                       "version"};
const std::set<std::string> cFlags = {"json", "help", "version", "fast"};

const std::map<std::string, std::set<std::string>> cCommandOptions = {
    {"ports", {}},
    {"test", {}},
    {"restart", {}},
    {"clear", {}},
    {"version", {}},
    {"brightness", {}},
    {"text", {"x", "y", "font", "color", "background"}},
    {"window", {"left", "top", "width", "height", "horiz", "vert", "font", "color", "background", "text"}},
    {"logo", {}},
    {"speed", {}},
    {"update-cpu", {"fast", "from"}},
    {"update-gfx", {"fast", "from"}},
};

// Positional arguments each command takes: at least, at most.
const std::map<std::string, std::pair<int, int>> cCommandArgs = {
    {"ports", {0, 0}},  {"test", {0, 0}},       {"restart", {0, 0}},    {"clear", {0, 0}},
    {"version", {0, 0}}, {"brightness", {0, 1}}, {"text", {0, 1}},       {"window", {1, 1}},
    {"logo", {1, 1}},   {"speed", {1, 1}},      {"update-cpu", {1, 1}}, {"update-gfx", {1, 1}},
};

std::string Quoted(const std::string& a)
{
    const bool plain = !a.empty() && std::all_of(a.begin(), a.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("-_./=:+,").find(c) != std::string_view::npos;
    });
    if (plain)
        return a;
    std::string q = "'";
    for (char c : a)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace

bool ParseInt(const std::string& text, int lo, int hi, int& out)
{
    int v = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || p != end || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool ParseArguments(const std::vector<std::string>& argv, TOptions& o, std::string& error)
{
    o.argv = argv;
    std::map<std::string, std::string> options;
    bool optionsEnd = false;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (!optionsEnd && a == "--") {
            optionsEnd = true;
            continue;
        }
        if (optionsEnd || a.size() < 3 || a.compare(0, 2, "--") != 0) {
            if (o.command.empty())
                o.command = a;
            else
                o.args.push_back(a);
            continue;
        }
        std::string name = a.substr(2), value;
        const auto eq = name.find('=');
        const bool inlineValue = eq != std::string::npos;
        if (inlineValue) {
            value = name.substr(eq + 1);
            name.erase(eq);
        }
        if (cFlags.count(name)) {
            if (inlineValue) {
                error = "--" + name + " takes no value";
                return false;
            }
            value = "1";
        } else if (!inlineValue) {
            if (i + 1 >= argv.size()) {
                error = "--" + name + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        options[name] = value;
    }
    o.help = options.count("help");
    o.version = options.count("version");
    if (o.help || o.version)
        return true;

    if (o.command.empty()) {
        error = "no command given";
        return false;
    }
    const auto allowed = cCommandOptions.find(o.command);
    if (allowed == cCommandOptions.end()) {
        error = "unknown command: " + o.command;
        return false;
    }
    for (const auto& [name, value] : options) {
        if (cGlobal.count(name))
            continue;
        if (!allowed->second.count(name)) {
            error = "--" + name + " is not an option of " + o.command;
            return false;
        }
        o.named[name] = value;
    }
    const auto [least, most] = cCommandArgs.at(o.command);
    if (int(o.args.size()) < least || int(o.args.size()) > most) {
        error = "wrong number of arguments for " + o.command;
        return false;
    }

    if (options.count("port"))
        o.port = options["port"];
    if (o.port.empty() && o.command != "ports") {
        error = "--port is required";
        return false;
    }
    if (options.count("speed")) {
        const std::string& s = options["speed"];
        if (s != "9600" && s != "115200") {
            error = "--speed must be 9600 or 115200";
            return false;
        }
        o.speed = std::stoi(s);
    }
    if (options.count("log"))
        o.log = options["log"];
    o.json = options.count("json");
    if (options.count("retries") && !ParseInt(options["retries"], 0, 100, o.retries)) {
        error = "--retries must be 0 to 100";
        return false;
    }
    if (options.count("page-gap") && !ParseInt(options["page-gap"], 0, 10000, o.pageGapMs)) {
        error = "--page-gap must be 0 to 10000 ms";
        return false;
    }
    o.fast = o.named.count("fast");
    if (o.named.count("from")) {
        int from = 0;
        if (!ParseInt(o.named["from"], 0, 4095, from)) {
            error = "--from must be a page number, 0 to 4095";
            return false;
        }
        o.from = from;
    }
    return true;
}

std::string GoOnLine(const TOptions& o, int page, int speed)
{
    std::string line = "quorvantel-cli", rest;
    for (std::size_t i = 0; i < o.argv.size(); ++i) {
        const std::string& a = o.argv[i];
        if (a == "--") { // the options go before it
            for (; i < o.argv.size(); ++i)
                rest += " " + Quoted(o.argv[i]);
            break;
        }
        // Dropped here, set anew below.
        if (a == "--from" || a == "--speed") {
            ++i;
            continue;
        }
        if (a.rfind("--from=", 0) == 0 || a.rfind("--speed=", 0) == 0)
            continue;
        line += " " + Quoted(a);
    }
    return line + " --speed " + std::to_string(speed) + " --from " + std::to_string(page) + rest;
}
