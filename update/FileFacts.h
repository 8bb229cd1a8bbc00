// What an update file holds, told before anything is sent: its SHA-256, the
// CPU firmware header's texts and the pages the update will send. One place
// for `inspect`, the station's report and the resume record. Plain C++.
#pragma once

#include "flash.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The file's SHA-256 as 64 lower-case hexadecimal digits, read in pieces
// (a regular file only, as the loads take). Raises EFlashFile.
std::string FileSha256(const std::string& path);

// The header of a CPU firmware file as an operator reads it: each text up to
// its first zero byte, read as Windows-1250, in UTF-8.
struct TCpuHeaderFacts {
    std::string info, data, version, board;
    std::int32_t size = 0;
};
TCpuHeaderFacts CpuHeaderFacts(const sflashrecord& header);
// A header text for a terminal: control characters become "?", so that a
// file's bytes cannot move the cursor or end the line.
std::string PrintableText(const std::string& text);
// "version 1.02, board QV-128 R2": the line update-cpu prints before its first page.
std::string CpuVersionLine(const TCpuHeaderFacts& header);

struct TFileFacts {
    bool cpu = false;
    std::int64_t fileSize = 0;
    std::string sha256;
    int firstPage = 0, lastPage = 0;
    std::optional<TCpuHeaderFacts> header; // CPU firmware only
    std::int64_t ignoredBytes = 0;         // graphics: bytes beyond the image
    // Why the update refuses the file (a CPU header's size negative, or its
    // last page past the file); none for a file the update takes.
    std::vector<std::string> warnings;
};

// Facts of a CPU firmware (`cpu`) or graphics file, read without loading it.
// A CPU file of the wrong length raises EFlashFile with the window's words for
// it and the length; a file that cannot be read raises EFlashFile.
TFileFacts InspectUpdateFile(const std::string& path, bool cpu);
