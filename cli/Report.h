// The station's record: one JSON line per port when its update ends, appended
// whole under a lock and flushed to disk, so that parallel ports and several
// processes never interleave and a power cut loses at most the line written.
#pragma once

#include "update/FileFacts.h"

#include <chrono>
#include <optional>
#include <string>

// A moment as ISO 8601 local time with milliseconds and the UTC offset,
// e.g. "2026-12-10T15:04:05.123+01:00".
std::string IsoTime(std::chrono::system_clock::time_point t);

// What one port's update came to.
struct TReportEntry {
    std::chrono::system_clock::time_point started;
    double seconds = 0;
    std::string port, byId, serial, command, file;
    std::optional<TFileFacts> facts; // none when the file could not be read
    int pagesConfirmed = 0, resends = 0;
    std::optional<std::string> versionBefore, versionAfter;
    std::string result; // done, stopped, refused, interrupted
    int exitCode = 0;
    std::string message;
    std::optional<std::string> resume; // the line that goes on
};

// The entry as one JSON object, without the line's end.
std::string ReportLine(const TReportEntry& e);
// The header's facts as the report and `inspect --json` give them; "null" for graphics.
std::string HeaderJson(const TFileFacts& facts);

// Appends to the report file `path`. Open() tells at start whether it can be
// written at all; Append() writes one whole line under an exclusive lock and
// flushes it to disk. Both false with `error` set on failure.
class TReport {
public:
    explicit TReport(std::string path) : path_(std::move(path)) {}
    bool Open(std::string& error) const;
    bool Append(const TReportEntry& e, std::string& error) const;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};
