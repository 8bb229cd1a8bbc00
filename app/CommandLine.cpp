#include "CommandLine.h"

#include <algorithm>
#include <iterator>
#include <string_view>

const char* const cUsage =
    "Usage: quorvantel [options] [port]\n"
    "Service and test tool for the Quorvantel display controller on an RS-232 line.\n"
    "\n"
    "  port           the serial port to select at start, e.g. /dev/ttyUSB0\n"
    "  -h, --help     show this text and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are accepted as well.\n"
    "Opening a serial port needs membership of the dialout group.\n";

namespace {

// Options QApplication takes out of the command line itself.
constexpr std::string_view cQtWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
    "qwindowtitle", "session", "display", "geometry", "name", "title", "style", "stylesheet",
    "visual"};
constexpr std::string_view cQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

bool Among(std::string_view name, const std::string_view* first, const std::string_view* last)
{
    return std::find(first, last, name) != last;
}

} // namespace

TCommandLine ParseCommandLine(int argc, char* const argv[])
{
    TCommandLine cl;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options && arg == "--") {
            options = false;
            continue;
        }
        if (options && arg.size() > 1 && arg[0] == '-') {
            if (arg == "-h" || arg == "--help") {
                cl.action = TCommandLine::Help;
                return cl;
            }
            if (arg == "--version") {
                cl.action = TCommandLine::Version;
                return cl;
            }
            // Qt takes both -opt and --opt, and -opt=value.
            std::string_view name = arg.substr(arg[1] == '-' ? 2 : 1);
            const bool inlineValue = name.find('=') != std::string_view::npos;
            name = name.substr(0, name.find('='));
            if (Among(name, std::begin(cQtFlags), std::end(cQtFlags)))
                continue;
            if (Among(name, std::begin(cQtWithValue), std::end(cQtWithValue))) {
                if (!inlineValue)
                    ++i;
                continue;
            }
            cl.action = TCommandLine::Refused;
            cl.error = "unknown option '" + std::string(arg) + "'";
            return cl;
        }
        if (!cl.port.empty()) {
            cl.action = TCommandLine::Refused;
            cl.error = "only one port may be given ('" + std::string(arg) + "' is one too many)";
            return cl;
        }
        cl.port = std::string(arg);
    }
    return cl;
}
