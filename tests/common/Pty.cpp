#include "Pty.h"

#include <asm/termbits.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace pty_bits {
const std::uint32_t CSIZE_ = CSIZE, CS5_ = CS5, CS6_ = CS6, CS7_ = CS7, CS8_ = CS8, CSTOPB_ = CSTOPB,
                    PARENB_ = PARENB, PARODD_ = PARODD, CMSPAR_ = CMSPAR, CRTSCTS_ = CRTSCTS,
                    CLOCAL_ = CLOCAL, CREAD_ = CREAD, CBAUD_ = CBAUD, BOTHER_ = BOTHER;
const std::uint32_t IXON_ = IXON, IXOFF_ = IXOFF, ICRNL_ = ICRNL, INLCR_ = INLCR, IGNCR_ = IGNCR,
                    ISTRIP_ = ISTRIP, INPCK_ = INPCK, PARMRK_ = PARMRK, BRKINT_ = BRKINT;
const std::uint32_t OPOST_ = OPOST;
const std::uint32_t ICANON_ = ICANON, ECHO_ = ECHO, ISIG_ = ISIG, IEXTEN_ = IEXTEN;
} // namespace pty_bits

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline)
{
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
}

// A named rate where the kernel has one, so the line reads as a program
// using cfsetspeed would leave it; any other rate as BOTHER.
tcflag_t BaudBits(std::uint32_t rate)
{
    switch (rate) {
    case 1200: return B1200;
    case 9600: return B9600;
    case 19200: return B19200;
    case 115200: return B115200;
    default: return BOTHER;
    }
}

void SetRate(termios2& t, std::uint32_t rate)
{
    t.c_cflag = (t.c_cflag & ~tcflag_t(CBAUD | CIBAUD)) | BaudBits(rate);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
}

// As cfmakeraw, plus receiver on and modem lines ignored; `rate` 0 keeps the speed.
bool MakeRaw(int fd, bool eightNoneOne, std::uint32_t rate)
{
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | (eightNoneOne ? CSTOPB | CRTSCTS : 0));
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (rate)
        SetRate(t, rate);
    return ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace

TPty::TPty(EPtyEnd end)
{
    const int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m < 0)
        return;
    char name[128];
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
        ::close(m);
        return;
    }
    if (end == EPtyEnd::WatchedMaster) {
        const int s = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        const bool raw = s >= 0 && MakeRaw(s, false, 0);
        if (s >= 0)
            ::close(s);
        if (!raw) {
            ::close(m);
            return;
        }
    }
    FFd = m;
    FSlave = name;
}

TPty::TPty(const std::string& slavePath)
{
    FFd = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FFd >= 0 && !MakeRaw(FFd, true, 9600))
        Unplug();
}

TPty::~TPty()
{
    Unplug();
}

void TPty::Unplug()
{
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

bool TPty::Send(const std::string& bytes)
{
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    std::size_t done = 0;
    while (done < bytes.size() && Clock::now() < deadline) {
        const ssize_t n = ::write(FFd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{FFd, POLLOUT, 0};
            ::poll(&p, 1, 50);
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    return done == bytes.size();
}

std::vector<std::string> TPty::ReceiveChunks(std::size_t count, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::string> chunks;
    std::size_t got = 0;
    while (got < count) {
        const int left = MsLeft(deadline);
        if (left <= 0)
            break;
        pollfd p{FFd, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0)
            continue;
        if (!(p.revents & POLLIN)) {
            if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
                break;
            continue;
        }
        char buf[512];
        const ssize_t r = ::read(FFd, buf, std::min(sizeof buf, count - got));
        if (r > 0) {
            chunks.emplace_back(buf, std::size_t(r));
            got += std::size_t(r);
        } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return chunks;
}

std::string TPty::Receive(std::size_t count, int timeoutMs)
{
    std::string all;
    for (const auto& c : ReceiveChunks(count, timeoutMs))
        all += c;
    return all;
}

std::string TPty::Drain()
{
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(FFd, buf, sizeof buf)) > 0)
        out.append(buf, std::size_t(n));
    return out;
}

bool TPty::HasInput() const
{
    pollfd p{FFd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

bool TPty::Line(TLine& out) const
{
    termios2 t{};
    if (ioctl(FFd, TCGETS2, &t) != 0)
        return false;
    out.iflag = t.c_iflag;
    out.oflag = t.c_oflag;
    out.cflag = t.c_cflag;
    out.lflag = t.c_lflag;
    out.ispeed = t.c_ispeed;
    out.ospeed = t.c_ospeed;
    out.vmin = t.c_cc[VMIN];
    out.vtime = t.c_cc[VTIME];
    out.vstart = t.c_cc[VSTART];
    out.vstop = t.c_cc[VSTOP];
    return true;
}

bool TPty::SetSpeed(std::uint32_t rate)
{
    termios2 t{};
    if (ioctl(FFd, TCGETS2, &t) != 0)
        return false;
    SetRate(t, rate);
    return ioctl(FFd, TCSETS2, &t) == 0;
}

bool TPty::SlaveOpen() const
{
    pollfd p{FFd, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & POLLHUP) == 0;
}

int TPty::SlaveSpeed() const
{
    TLine l;
    return Line(l) ? int(l.ospeed) : -1;
}
