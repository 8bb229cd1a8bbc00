#include "Report.h"

#include "Output.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

std::string IsoTime(std::chrono::system_clock::time_point t)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t s = std::time_t(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
    std::tm tm{};
    localtime_r(&s, &tm);
    const long offset = tm.tm_gmtoff / 60; // minutes east of UTC
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, int((ms % 1000 + 1000) % 1000),
                  offset < 0 ? '-' : '+', std::labs(offset) / 60, std::labs(offset) % 60);
    return text;
}

namespace {
std::string OrNull(const std::optional<std::string>& s)
{
    return s ? JsonString(*s) : "null";
}
} // namespace

std::string HeaderJson(const TFileFacts& facts)
{
    if (!facts.header)
        return "null";
    const TCpuHeaderFacts& h = *facts.header;
    return "{\"info\":" + JsonString(h.info) + ",\"data\":" + JsonString(h.data) + ",\"version\":" +
           JsonString(h.version) + ",\"board\":" + JsonString(h.board) + ",\"size\":" + std::to_string(h.size) +
           "}";
}

std::string ReportLine(const TReportEntry& e)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", e.seconds);
    const TFileFacts* f = e.facts ? &*e.facts : nullptr;
    return "{\"time\":" + JsonString(IsoTime(e.started)) + ",\"seconds\":" + seconds +
           ",\"port\":" + JsonString(e.port) + ",\"by_id\":" + JsonString(e.byId) +
           ",\"serial\":" + JsonString(e.serial) + ",\"command\":" + JsonString(e.command) +
           ",\"file\":" + JsonString(e.file) + ",\"file_size\":" + (f ? std::to_string(f->fileSize) : "null") +
           ",\"sha256\":" + (f ? JsonString(f->sha256) : "null") + ",\"header\":" + (f ? HeaderJson(*f) : "null") +
           ",\"first_page\":" + (f ? std::to_string(f->firstPage) : "null") +
           ",\"last_page\":" + (f ? std::to_string(f->lastPage) : "null") +
           ",\"pages_confirmed\":" + std::to_string(e.pagesConfirmed) + ",\"resends\":" + std::to_string(e.resends) +
           ",\"version_before\":" + OrNull(e.versionBefore) + ",\"version_after\":" + OrNull(e.versionAfter) +
           ",\"result\":" + JsonString(e.result) + ",\"exit\":" + std::to_string(e.exitCode) +
           ",\"message\":" + JsonString(e.message) + ",\"resume\":" + OrNull(e.resume) + "}";
}

namespace {
int OpenReport(const std::string& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0)
        error = "cannot open the report file " + path + ": " + std::strerror(errno);
    return fd;
}
} // namespace

bool TReport::Open(std::string& error) const
{
    const int fd = OpenReport(path_, error);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool TReport::Append(const TReportEntry& e, std::string& error) const
{
    std::string line = ReportLine(e) + "\n";
    const int fd = OpenReport(path_, error);
    if (fd < 0)
        return false;
    // Each writer opens the file afresh, so the lock holds between the
    // threads of one process as between processes.
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = "cannot lock the report file " + path_ + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
    }
    // A line torn by a power cut stays alone on its line; a failed write is
    // taken back, so the next writer starts on a line of its own.
    struct stat st {};
    const off_t size = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    char lastByte = '\n';
    if (size > 0 && ::pread(fd, &lastByte, 1, size - 1) == 1 && lastByte != '\n')
        line.insert(0, 1, '\n');
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = "cannot write the report file " + path_ + ": " + std::strerror(n < 0 ? errno : ENOSPC);
            if (size >= 0 && done > 0 && ::ftruncate(fd, size) != 0)
                error += " (a part of the line is left in it)";
            ::close(fd);
            return false;
        }
        done += std::size_t(n);
    }
    const bool synced = ::fsync(fd) == 0;
    if (!synced)
        error = "cannot flush the report file " + path_ + ": " + std::strerror(errno);
    ::close(fd); // lets the lock go
    return synced;
}
