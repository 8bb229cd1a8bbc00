// The commands of quorvantel-cli, each run once against the controller.
#pragma once

#include "Arguments.h"

#include <atomic>
#include <string>

class TOutput;
struct TCommandSpec;
struct TRunContext;

// Runs o.command; returns the exit code. `stop` is set by SIGINT.
int RunCommand(const TOptions& o, const std::atomic<bool>& stop);
// Runs the command's function, its failures told as exit codes.
int RunGuarded(const TCommandSpec& spec, TRunContext& context);
bool IsUpdate(const TCommandSpec& spec);
// The update file into the page table: 0, or exit 3 after telling why.
int LoadUpdateFile(const std::string& file, bool cpu, TOutput& out);
