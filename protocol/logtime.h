// The operator log's times, as both programs write them: the date and time
// that precedes each line of a saved log and of the terminal program's
// --log file, and the time of day the window can show beside each line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Now, in milliseconds since the epoch.
std::int64_t LogNowMs();
// Local time as "YYYY-MM-DD HH:MM:SS.mmm".
std::string LogDateTime(std::int64_t ms);
// Local time of day as "HH:MM:SS.mmm".
std::string LogTimeOfDay(std::int64_t ms);
// Appends one line of a log file: its date and time, two blanks, the line and '\n'.
void AppendLogFileLine(std::string& out, std::int64_t ms, std::string_view line);
