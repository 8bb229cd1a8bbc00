#include "Arguments.h"

#include "CommandTable.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

const char* const cUsageHead =
    "Usage: quorvantel-cli [--port PATH|serial:SN]... [--speed 9600|115200] [--log FILE] [--json]\n"
    "                      [--retries N] [--page-gap MS] [--report FILE] COMMAND [ARGS]\n"
    "Drives a Quorvantel display controller over a serial line without a window.\n";

const char* const cUsageTail =
    "JSON events carry the keys event (start, page, retry, done, error), command,\n"
    "page (-1: none), pages (of the transfer), confirmed (pages so far), attempt\n"
    "(resend number), exit (-1 until the last event) and message, always all of\n"
    "them; page events come every 64 pages and at the last one. ports gives one\n"
    "port event per port (port, by_id, vid, pid, manufacturer, product, serial,\n"
    "driver) and then done. A usage error is one error event.\n"
    "\n"
    "Several --port options run the command on every port at once, each with its\n"
    "own line, retries and result: one progress line per port on a terminal,\n"
    "otherwise lines prefixed by the port; JSON events gain port and time. The\n"
    "exit code is 0 when every port succeeded, else the largest.\n"
    "--report appends, per port, one JSON line with time, seconds, port, by_id,\n"
    "serial, command, file, file_size, sha256, header, first_page, last_page,\n"
    "pages_confirmed, resends, version_before, version_after, result (done,\n"
    "stopped, refused, interrupted), exit, message and resume.\n"
    "\n"
    "A stopped transfer (no confirmation after the retries, a lost line, a signal)\n"
    "is recorded in $XDG_STATE_HOME/quorvantel/ (~/.local/state/quorvantel/), and\n"
    "the line printed to go on with uses --resume: the same file on the same port,\n"
    "from the first page not confirmed. --from needs --force.\n"
    "\n"
    "Exit codes: 0 done; 1 the controller did not answer, refused, or a transfer\n"
    "stopped; 2 wrong usage; 3 file refused; 4 port cannot be opened; 128 + the\n"
    "signal's number when stopped by one (129 SIGHUP, 130 Ctrl+C, 143 SIGTERM).\n"
    "\n"
    "Examples:\n"
    "  quorvantel-cli --port /dev/ttyUSB0 version\n"
    "  quorvantel-cli --port /dev/ttyUSB0 update-gfx logos.QGF --fast\n"
    "  quorvantel-cli --port /dev/ttyUSB0 update-gfx logos.QGF --fast --resume\n"
    "  quorvantel-cli --port /dev/ttyUSB0 update-cpu c.BIN --from 300 --force\n"
    "  quorvantel-cli --port /dev/ttyUSB0 --port /dev/ttyUSB1 --report log.jsonl \\\n"
    "                 update-cpu QuorvantelRS_firmware.bin --fast\n";

// Column of the help texts in --help, and the width of its lines.
constexpr std::size_t cHelpColumn = 29, cWidth = 79;

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

// `words` laid out from column `indent` on, the first line going on from `line`.
void Wrap(std::string& text, std::string line, const std::string& words, std::size_t indent)
{
    std::size_t i = 0;
    while (i < words.size()) {
        // An option with its value stays on one line.
        std::size_t j = words.find(' ', i);
        if (j != std::string::npos && words[i] == '[' && words.find(']', i) > j)
            j = words.find(' ', words.find(']', i));
        const std::string word = words.substr(i, j == std::string::npos ? std::string::npos : j - i);
        i = j == std::string::npos ? words.size() : j + 1;
        const bool fresh = line.size() <= indent;
        if (!fresh && line.size() + 1 + word.size() > cWidth) {
            text += line + "\n";
            line.clear();
        }
        line.resize(std::max(line.size(), indent), ' ');
        if (line.size() > indent && line.back() != ' ')
            line += ' ';
        line += word;
    }
    text += line + "\n";
}

bool IsFlag(const std::string& name)
{
    for (const TOptionSpec& g : GlobalOptions())
        if (g.name == name)
            return g.value.empty();
    for (const TCommandSpec& c : CommandTable())
        for (const TOptionSpec& s : c.options)
            if (s.name == name)
                return s.value.empty();
    return false;
}

bool IsKnown(const std::string& name)
{
    const auto named = [&](const TOptionSpec& s) { return s.name == name; };
    if (std::any_of(GlobalOptions().begin(), GlobalOptions().end(), named))
        return true;
    return std::any_of(CommandTable().begin(), CommandTable().end(), [&](const TCommandSpec& c) {
        return std::any_of(c.options.begin(), c.options.end(), named);
    });
}

struct TToken {
    std::string name, value;
};

// Options apart from the words (command and arguments); false for an option
// that is none or lacks its value.
bool Split(const std::vector<std::string>& argv, std::vector<TToken>& options, std::vector<std::string>& words,
           std::string& error)
{
    bool optionsEnd = false;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (!optionsEnd && a == "--") {
            optionsEnd = true;
            continue;
        }
        if (optionsEnd || a.size() < 3 || a.compare(0, 2, "--") != 0) {
            words.push_back(a);
            continue;
        }
        TToken t{a.substr(2), ""};
        const auto eq = t.name.find('=');
        const bool inlineValue = eq != std::string::npos;
        if (inlineValue) {
            t.value = t.name.substr(eq + 1);
            t.name.erase(eq);
        }
        if (!IsKnown(t.name)) {
            error = "--" + t.name + " is not an option";
            return false;
        }
        if (IsFlag(t.name)) {
            if (inlineValue) {
                error = "--" + t.name + " takes no value";
                return false;
            }
            t.value = "1";
        } else if (!inlineValue) {
            if (i + 1 >= argv.size()) {
                error = "--" + t.name + " needs a value";
                return false;
            }
            t.value = argv[++i];
        }
        options.push_back(t);
    }
    return true;
}

// One option every command takes, into `o`.
bool ApplyGlobal(const TToken& t, TOptions& o, std::string& error)
{
    if (t.name == "port") {
        if (o.ports.empty())
            o.port = t.value;
        o.ports.push_back(t.value);
    } else if (t.name == "report") {
        o.report = t.value;
    } else if (t.name == "speed") {
        if (t.value != "9600" && t.value != "115200") {
            error = "--speed must be 9600 or 115200";
            return false;
        }
        o.speed = std::stoi(t.value);
        o.speedGiven = true;
    } else if (t.name == "log") {
        o.log = t.value;
    } else if (t.name == "retries" && !ParseInt(t.value, 0, 100, o.retries)) {
        error = "--retries must be 0 to 100";
        return false;
    } else if (t.name == "page-gap" && !ParseInt(t.value, 0, 10000, o.pageGapMs)) {
        error = "--page-gap must be 0 to 10000 ms";
        return false;
    }
    return true;
}

// The command's own options, once the others are applied.
bool ApplyNamed(TOptions& o, std::string& error)
{
    o.fast = o.named.count("fast");
    o.resume = o.named.count("resume");
    o.force = o.named.count("force");
    if (o.named.count("from")) {
        int from = 0;
        if (!ParseInt(o.named["from"], 0, 4095, from)) {
            error = "--from must be a page number, 0 to 4095";
            return false;
        }
        o.from = from;
        if (o.resume) {
            error = "--from and --resume do not go together";
            return false;
        }
    }
    return true;
}

} // namespace

const std::vector<TOptionSpec>& GlobalOptions()
{
    static const std::vector<TOptionSpec> options = {
        {"port", "PATH", "the serial port, or serial:SN for the USB adapter with that serial number (required "
                         "except for ports and inspect); given several times, the command runs on every port at once"},
        {"speed", "N", "the speed the controller listens at now (default 9600)"},
        {"log", "FILE", "every frame sent and received, as the window logs them ('-': standard error)"},
        {"json", "", "events as JSON objects, one per line, on standard output"},
        {"retries", "N", "resends of an unanswered frame (default 3)"},
        {"page-gap", "MS", "pause after each page confirmation (default 0)"},
        {"report", "FILE", "appends one JSON line per port when its update ends"},
        {"help", "", ""},
        {"version", "", ""},
    };
    return options;
}

const TCommandSpec* FindCommand(const std::string& name)
{
    for (const TCommandSpec& c : CommandTable())
        if (c.name == name)
            return &c;
    return nullptr;
}

std::string UsageText()
{
    std::string text = cUsageHead;
    text += "\nCommands:\n";
    for (const TCommandSpec& c : CommandTable()) {
        std::string synopsis = c.args;
        for (const TOptionSpec& s : c.options)
            synopsis += (synopsis.empty() ? "[--" : " [--") + s.name + (s.value.empty() ? "" : " " + s.value) + "]";
        std::string head;
        Wrap(head, "  " + c.name, synopsis, c.name.size() + 3);
        head.pop_back();
        if (head.find('\n') == std::string::npos && head.size() + 1 < cHelpColumn) {
            Wrap(text, head, c.help, cHelpColumn);
        } else {
            text += head + "\n";
            Wrap(text, "", c.help, cHelpColumn);
        }
    }
    text += "\nOptions:\n";
    for (const TOptionSpec& s : GlobalOptions()) {
        if (s.help.empty())
            continue;
        std::string head = "  --" + s.name + " " + s.value;
        Wrap(text, head, s.help, 20);
    }
    text += "  --help, --version\n\n";
    return text + cUsageTail;
}

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
    // Known before anything can go wrong, so that the error comes as JSON too.
    for (const std::string& a : argv) {
        if (a == "--")
            break;
        o.json = o.json || a == "--json";
    }
    std::vector<TToken> options;
    std::vector<std::string> words;
    if (!Split(argv, options, words, error))
        return false;
    const auto given = [&](const char* name) {
        return std::any_of(options.begin(), options.end(), [&](const TToken& t) { return t.name == name; });
    };
    o.help = given("help");
    o.version = given("version");
    if (o.help || o.version)
        return true;

    if (words.empty()) {
        error = "no command given";
        return false;
    }
    o.command = words[0];
    o.args.assign(words.begin() + 1, words.end());
    const TCommandSpec* row = FindCommand(o.command);
    if (!row) {
        error = "unknown command: " + o.command;
        return false;
    }
    std::vector<TToken> global;
    for (const TToken& t : options) {
        const auto own = [&](const TOptionSpec& s) { return s.name == t.name; };
        if (std::any_of(row->options.begin(), row->options.end(), own))
            o.named[t.name] = t.value;
        else if (std::any_of(GlobalOptions().begin(), GlobalOptions().end(), own))
            global.push_back(t);
        else {
            error = "--" + t.name + " is not an option of " + o.command;
            return false;
        }
    }
    if (int(o.args.size()) < row->leastArgs || int(o.args.size()) > row->mostArgs) {
        error = "wrong number of arguments for " + o.command;
        return false;
    }
    for (const TToken& t : global)
        if (!ApplyGlobal(t, o, error))
            return false;
    if (o.port.empty() && row->needsPort) {
        error = "--port is required";
        return false;
    }
    return ApplyNamed(o, error);
}

std::string ResumeLine(const TOptions& o, const std::string& with)
{
    std::string line = "quorvantel-cli", rest;
    for (std::size_t i = 0; i < o.argv.size(); ++i) {
        const std::string& a = o.argv[i];
        if (a == "--") { // the options go before it
            for (; i < o.argv.size(); ++i)
                rest += " " + Quoted(o.argv[i]);
            break;
        }
        if (a == "--from" || a == "--speed") {
            ++i;
            continue;
        }
        if (a == "--force" || a == "--resume" || a.rfind("--from=", 0) == 0 || a.rfind("--speed=", 0) == 0)
            continue;
        line += " " + Quoted(a);
    }
    return line + " " + with + rest;
}
