// The commands of quorvantel-cli, each run once against the controller.
#pragma once

#include "Arguments.h"

#include <atomic>
#include <string>

struct TCommandSpec;
struct TRunContext;

// Runs o.command; returns the exit code. `stop` is set by a signal that stops
// the program, `signal` holds its number.
int RunCommand(const TOptions& o, const std::atomic<bool>& stop, const std::atomic<int>& signal);
// Runs the command's function, its failures told as exit codes.
int RunGuarded(const TCommandSpec& row, TRunContext& context);
bool IsUpdate(const TCommandSpec& row);
