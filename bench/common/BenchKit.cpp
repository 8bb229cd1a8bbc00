#include "BenchKit.h"

#include "update/flash.h"

#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

namespace bench {

long StatusKiB(const char* field)
{
    std::ifstream f("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(f, line))
        if (line.rfind(key, 0) == 0)
            return std::strtol(line.c_str() + key.size(), nullptr, 10);
    return -1;
}

void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

namespace {
int CountEntries(const char* dir)
{
    std::error_code ec;
    int n = 0;
    for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++n;
    return n;
}
} // namespace

int OpenFds()
{
    // The listing's own descriptor is among the entries, the same each time.
    return CountEntries("/proc/self/fd");
}

int Threads()
{
    return CountEntries("/proc/self/task");
}

double CpuSeconds(bool children)
{
    rusage u{};
    getrusage(children ? RUSAGE_CHILDREN : RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long long StatCpuTicks(const std::string& statPath)
{
    std::ifstream f(statPath);
    std::string line;
    std::getline(f, line);
    // The name in parentheses may hold blanks: the fields are counted after it.
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(line.substr(close + 1));
    std::string field;
    long long utime = -1, stime = -1;
    // state is field 3; utime and stime are 14 and 15.
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoll(field);
        if (i == 15)
            stime = std::stoll(field);
    }
    return utime < 0 || stime < 0 ? -1 : utime + stime;
}

double TicksToMs(long long ticks)
{
    return double(ticks) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(f);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

std::vector<std::uint8_t> CpuUpdateFile(unsigned variant)
{
    std::vector<std::uint8_t> f(static_cast<std::size_t>(cCpuFileSize));
    for (std::size_t i = 0; i < f.size(); ++i)
        f[i] = std::uint8_t(i * (11 + 2 * variant) + i / 256 + variant);
    std::memcpy(f.data() + offsetof(sflashrecord, size), &cCpuWholeFileSize, sizeof cCpuWholeFileSize);
    return f;
}

bool TLineChannel::Send(const std::string& line)
{
    const std::string bytes = line + "\n";
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(out_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

int TLineChannel::ReadLine(std::string& line, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto nl = buffered_.find('\n');
        if (nl != std::string::npos) {
            line = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return 1;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (timeoutMs >= 0 && left <= 0)
            return 0;
        pollfd p{in_, POLLIN, 0};
        const int r = ::poll(&p, 1, timeoutMs < 0 ? -1 : int(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::read(in_, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        buffered_.append(buf, std::size_t(n));
    }
}

std::string TLineChannel::Ask(const std::string& line)
{
    std::string reply;
    if (!Send(line) || ReadLine(reply, -1) != 1)
        return {};
    return reply;
}

void TLineChannel::Close()
{
    if (in_ >= 0)
        ::close(in_);
    if (out_ >= 0)
        ::close(out_);
    in_ = out_ = -1;
}

pid_t ForkChild(TLineChannel& channel, const std::function<int(TLineChannel&)>& body)
{
    int down[2], up[2];
    if (pipe(down) != 0)
        return -1;
    if (pipe(up) != 0) {
        ::close(down[0]);
        ::close(down[1]);
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(down[1]);
        ::close(up[0]);
        TLineChannel own(down[0], up[1]);
        std::_Exit(body(own));
    }
    ::close(down[0]);
    ::close(up[1]);
    channel = TLineChannel(up[0], down[1]);
    if (pid < 0)
        channel.Close();
    return pid;
}

} // namespace bench
