// quorvantel-emulator: a Quorvantel display controller on a pseudo-terminal,
// for trying the service tool without the hardware.
#include "emulator/Emulator.h"
#include "protocol/frame.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char* const cUsage =
    "Usage: quorvantel-emulator [options]\n"
    "Emulates the Quorvantel display controller on a pseudo-terminal. The first line\n"
    "printed names the terminal to open as the serial port; every frame received is\n"
    "then printed in hex. Runs until SIGINT or SIGTERM.\n"
    "\n"
    "Controller:\n"
    "  --firmware N        firmware version times 100 (default 102)\n"
    "  --board N           board version (default 2)\n"
    "  --brightness N      brightness at start, 0 = automatic (default 0)\n"
    "  --no-pace           answer at once instead of at the line rate\n"
    "  --delay-ms N        wait N ms before every answer\n"
    "Faults:\n"
    "  --drop N            give no answer to the next N good frames\n"
    "  --corrupt N         send the next N answers with a wrong checksum\n"
    "  --split A,B,...     write the next answer in chunks of A, B, ... bytes\n"
    "  --split-gap-ms N    pause between those chunks (default 20)\n"
    "  --noise HEX         write these bytes just before the next answer\n"
    "  --glue              write the next two answers together\n"
    "  --code N            give the next answer this command code\n"
    "  --confirm-addr N    name this address in the next page confirmation\n"
    "  --response N        send Response N (2 or 3) in every answer\n"
    "  --loopback          be a wiring test plug: echo every byte at once, answer nothing\n"
    "Output:\n"
    "  --link PATH         make PATH a symlink to the terminal while running\n"
    "  --flash-out FILE    write the flash image (1 MiB, erased = FF) to FILE on exit\n"
    "  --quiet             do not print the frames\n"
    "  --help              show this text\n"
    "  --version           show the version\n";

bool ParseUnsigned(std::string_view text, unsigned long long max, unsigned long long& out)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty())
        return false;
    unsigned long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc() || end != text.data() + text.size() || v > max)
        return false;
    out = v;
    return true;
}

std::optional<std::string> ParseHex(std::string_view text)
{
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == ',')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        digits.push_back(c);
    }
    if (digits.empty() || digits.size() % 2 != 0)
        return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(char(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

struct TArgs {
    TEmulator::Options options;
    std::optional<int> drop, corrupt, code, response;
    std::optional<std::uint32_t> confirmAddr;
    std::vector<std::size_t> split;
    int splitGapMs = 20;
    std::string noise;
    bool glue = false;
    bool quiet = false;
    std::string flashOut;
};

int Fail(const std::string& message)
{
    std::cerr << "quorvantel-emulator: " << message << "\nTry --help.\n";
    return 2;
}

// Returns -1 to go on, otherwise the exit code.
int ParseArgs(int argc, char** argv, TArgs& a)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::cout << cUsage;
            return 0;
        }
        if (opt == "--version") {
            std::cout << "quorvantel-emulator " QV_VERSION "\n";
            return 0;
        }
        if (opt == "--no-pace") {
            a.options.pace = false;
            continue;
        }
        if (opt == "--glue") {
            a.glue = true;
            continue;
        }
        if (opt == "--loopback") {
            a.options.loopback = true;
            continue;
        }
        if (opt == "--quiet") {
            a.quiet = true;
            continue;
        }
        if (i + 1 >= argc)
            return Fail("unknown option or missing value: " + std::string(opt));
        const std::string_view val = argv[++i];
        unsigned long long n = 0;
        auto number = [&](unsigned long long max) {
            if (!ParseUnsigned(val, max, n))
                throw std::string("bad value for ") + std::string(opt) + ": " + std::string(val);
        };
        try {
            if (opt == "--firmware") {
                number(UINT32_MAX);
                a.options.firmwareVersion = std::uint32_t(n);
            } else if (opt == "--board") {
                number(255);
                a.options.boardVersion = std::uint8_t(n);
            } else if (opt == "--brightness") {
                number(255);
                a.options.brightness = std::uint8_t(n);
            } else if (opt == "--delay-ms") {
                number(INT_MAX);
                a.options.answerDelayMs = int(n);
            } else if (opt == "--drop") {
                number(INT_MAX);
                a.drop = int(n);
            } else if (opt == "--corrupt") {
                number(INT_MAX);
                a.corrupt = int(n);
            } else if (opt == "--code") {
                number(255);
                a.code = int(n);
            } else if (opt == "--response") {
                number(255);
                a.response = int(n);
            } else if (opt == "--confirm-addr") {
                number(UINT32_MAX);
                a.confirmAddr = std::uint32_t(n);
            } else if (opt == "--split-gap-ms") {
                number(INT_MAX);
                a.splitGapMs = int(n);
            } else if (opt == "--split") {
                std::string_view rest = val;
                while (!rest.empty()) {
                    const auto comma = rest.find(',');
                    const auto part = rest.substr(0, comma);
                    if (!ParseUnsigned(part, 65535, n) || n == 0)
                        throw std::string("bad value for --split: ") + std::string(val);
                    a.split.push_back(std::size_t(n));
                    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
                }
            } else if (opt == "--noise") {
                auto bytes = ParseHex(val);
                if (!bytes)
                    throw std::string("bad value for --noise: ") + std::string(val);
                a.noise = *bytes;
            } else if (opt == "--link") {
                a.options.symlink = std::string(val);
            } else if (opt == "--flash-out") {
                a.flashOut = std::string(val);
            } else {
                return Fail("unknown option: " + std::string(opt));
            }
        } catch (const std::string& message) {
            return Fail(message);
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    TArgs args;
    if (const int rc = ParseArgs(argc, argv, args); rc >= 0)
        return rc;

    // The signals are taken by sigwait below; block them before any thread
    // starts so that the worker inherits the mask.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

    // Frames may come in (through the link) before the first line is out;
    // their lines wait for it.
    std::mutex out;
    std::unique_lock firstLine(out);

    TEmulator emulator(args.options);
    if (!args.quiet) {
        emulator.OnFrame([&out](const std::string& frame, bool good) {
            std::lock_guard lock(out);
            std::string line = StrToHex(frame);
            if (!good)
                line += " (bad checksum)";
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fflush(stdout);
        });
    }
    if (args.drop)
        emulator.DropAnswers(*args.drop);
    if (args.corrupt)
        emulator.CorruptChecksum(*args.corrupt);
    if (!args.split.empty())
        emulator.SplitAnswer(args.split, args.splitGapMs);
    if (!args.noise.empty())
        emulator.NoiseBeforeAnswer(args.noise);
    if (args.glue)
        emulator.GlueAnswers();
    if (args.code)
        emulator.AnswerWithCode(std::uint8_t(*args.code));
    if (args.confirmAddr)
        emulator.ConfirmPageAt(*args.confirmAddr);
    if (args.response)
        emulator.SetResponse(std::uint8_t(*args.response), INT_MAX);

    std::string error;
    if (!emulator.Start(&error)) {
        std::cerr << "quorvantel-emulator: " << error << '\n';
        return 1;
    }
    std::printf("Quorvantel emulator on %s\n", emulator.SlavePath().c_str());
    std::fflush(stdout);
    firstLine.unlock();

    int sig = 0;
    sigwait(&sigs, &sig);

    emulator.Stop();
    if (!args.flashOut.empty() && !emulator.WriteFlashImage(args.flashOut, &error)) {
        std::cerr << "quorvantel-emulator: " << error << '\n';
        return 1;
    }
    return 0;
}
