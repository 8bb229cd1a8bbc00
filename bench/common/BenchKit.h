// What the benchmarks share: the process's own figures read from /proc,
// whole files as bytes, a CPU firmware file to update with, and a line
// channel to a forked child process over pipes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

// A field of /proc/self/status in KiB (VmRSS, VmHWM); -1 if missing.
long StatusKiB(const char* field);
// Starts the peak (VmHWM) afresh.
void ResetPeak();
int OpenFds();      // entries of /proc/self/fd
int Threads();      // entries of /proc/self/task
// User + system time of the whole process, or of its waited-for children.
double CpuSeconds(bool children = false);
// User + system time in clock ticks from a /proc .../stat file; -1 if unreadable.
long long StatCpuTicks(const std::string& statPath);
double TicksToMs(long long ticks);

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& path);

// The header's size field of a CPU firmware file that names all its pages
// (16..783), and such a file; `variant` makes the contents differ.
inline constexpr std::int32_t cCpuWholeFileSize = 192511;
std::vector<std::uint8_t> CpuUpdateFile(unsigned variant);

// One side of a request/reply conversation in lines over two descriptors.
class TLineChannel {
public:
    TLineChannel() = default;
    TLineChannel(int readFd, int writeFd) : in_(readFd), out_(writeFd) {}
    // Sends a line and waits for the reply line (empty on end of file).
    std::string Ask(const std::string& line);
    bool Send(const std::string& line);
    // The next line within timeoutMs: 1 got one, 0 timed out, -1 end of file.
    int ReadLine(std::string& line, int timeoutMs);
    int ReadFd() const { return in_; }
    // Closes both descriptors; the other side then reads end of file.
    void Close();

private:
    int in_ = -1, out_ = -1;
    std::string buffered_;
};

// Forks a child joined by a line channel (call it before any thread exists);
// the child runs `body` with its end and exits with the result. Returns the
// child's pid, -1 on failure, and this side's end in `channel`.
pid_t ForkChild(TLineChannel& channel, const std::function<int(TLineChannel&)>& body);

} // namespace bench
