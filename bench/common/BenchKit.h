// What the benchmarks share: the process's own figures read from /proc,
// whole files as bytes, and a line channel to another process over pipes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// A field of /proc/self/status in KiB (VmRSS, VmHWM); -1 if missing.
long StatusKiB(const char* field);
// Starts the peak (VmHWM) afresh.
void ResetPeak();
int OpenFds();      // entries of /proc/self/fd
int Threads();      // entries of /proc/self/task
double CpuSeconds(); // user + system time of the whole process

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& path);

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

private:
    int in_ = -1, out_ = -1;
    std::string buffered_;
};

} // namespace bench
