// The command line of quorvantel-cli: options, the command and its own options.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

// Exit codes, as --help and the manual page list them.
enum TExitCode : int {
    exitDone = 0,
    exitNoAnswer = 1,  // the controller did not answer, or a transfer stopped
    exitUsage = 2,
    exitFileRefused = 3,
    exitPortFailed = 4,
    exitInterrupted = 130, // 128 + the signal's number: 129 SIGHUP, 130 SIGINT, 143 SIGTERM
    exitSignalBase = 128,
};

struct TOptions {
    std::string port;               // the first --port, or the one this run is on
    std::vector<std::string> ports; // every --port, in order: several run at once
    std::string report;             // --report FILE: one JSON line per port's update
    int speed = 9600;       // the speed the controller listens at now
    bool speedGiven = false;
    std::string log;        // "" none, "-" stderr
    bool json = false;
    int retries = 3;
    int pageGapMs = 0;
    bool help = false;
    bool version = false;

    std::string command;
    std::vector<std::string> args;             // after the command
    std::map<std::string, std::string> named;  // the command's own options, without "--"
    bool fast = false;
    std::optional<int> from;
    bool resume = false; // go on where the record of a stopped transfer says
    bool force = false;  // --from without a record

    std::vector<std::string> argv; // as given, for the line that goes on after a stop
};

// --help: made from the command table and the options every command takes.
std::string UsageText();

// Fills `o` (the command's row: CommandTable()); false with `error` set for
// wrong usage. o.json is set as soon as it is seen, for the error's form.
bool ParseArguments(const std::vector<std::string>& argv, TOptions& o, std::string& error);
// A whole number within [lo, hi]; false for anything else.
bool ParseInt(const std::string& text, int lo, int hi, int& out);
// The command line that goes on after a stop: as given, with --resume in
// place of --from, --force, --resume and --speed (the record holds the page
// and the speeds).
// `with` takes the place of --resume where the record could not be written.
std::string ResumeLine(const TOptions& o, const std::string& with = "--resume");
