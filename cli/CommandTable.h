// The commands of quorvantel-cli as one table: parsing, --help and dispatch
// are made from it, so a new command is one row and one function.
#pragma once

#include "Arguments.h"

#include <atomic>
#include <string>
#include <vector>

class TOutput;
struct TFileFacts;
struct TReportEntry;

// What a command's function works with.
struct TRunContext {
    const TOptions& o;
    TOutput& out;
    const std::atomic<bool>& stop;
    const std::atomic<int>& signal; // the stop's signal number
    // The update file, in the page table already (loaded once for several ports).
    const TFileFacts* facts = nullptr;
    // Filled by an update for the report: the versions read, how it ended, the go-on line.
    TReportEntry* record = nullptr;
};

struct TOptionSpec {
    std::string name;  // without "--"
    std::string value = {}; // its value as --help names it; "" for a flag
    std::string help = {};  // for --help (the options every command takes)
};

struct TCommandSpec {
    std::string name;
    int leastArgs = 0, mostArgs = 0;
    std::string args;                 // the arguments as --help names them, e.g. "[N]"
    std::vector<TOptionSpec> options; // its own options
    std::string help;                 // what it does
    bool needsPort = true;
    int (*run)(TRunContext&) = nullptr;
};

// Every command, in the order --help lists them (cli/Commands.cpp).
const std::vector<TCommandSpec>& CommandTable();
// The options every command takes, in the order --help lists them.
const std::vector<TOptionSpec>& GlobalOptions();
const TCommandSpec* FindCommand(const std::string& name);
