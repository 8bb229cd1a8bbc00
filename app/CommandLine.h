// The program's command line, read before Qt starts so that --help and
// --version work without a display.
#pragma once

#include <string>

struct TCommandLine {
    enum TAction { Run, Help, Version, Refused } action = Run;
    std::string port;  // the optional port to select at start
    std::string error; // why the line was refused
};

TCommandLine ParseCommandLine(int argc, char* const argv[]);
extern const char* const cUsage;
