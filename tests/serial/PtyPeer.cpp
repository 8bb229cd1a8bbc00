#include "PtyPeer.h"

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

TPtyPeer::TPtyPeer()
{
    const int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0)
        return;
    char name[128];
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
        ::close(m);
        return;
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    FMaster = m;
    FSlave = name;
}

TPtyPeer::~TPtyPeer()
{
    unplug();
}

void TPtyPeer::unplug()
{
    if (FMaster >= 0)
        ::close(FMaster);
    FMaster = -1;
}

bool TPtyPeer::send(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(FMaster, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{FMaster, POLLOUT, 0};
            if (poll(&p, 1, 5000) <= 0)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

std::string TPtyPeer::receive(std::size_t count, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string out;
    char buf[4096];
    while (out.size() < count) {
        const ssize_t n = ::read(FMaster, buf, std::min(sizeof buf, count - out.size()));
        if (n > 0) {
            out.append(buf, std::size_t(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{FMaster, POLLIN, 0};
        poll(&p, 1, int(left));
    }
    return out;
}

std::string TPtyPeer::drain()
{
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(FMaster, buf, sizeof buf)) > 0)
        out.append(buf, std::size_t(n));
    return out;
}

bool TPtyPeer::line(TLine& out) const
{
    termios2 t{};
    if (ioctl(FMaster, TCGETS2, &t) != 0)
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

bool TPtyPeer::setSpeed(std::uint32_t rate)
{
    termios2 t{};
    if (ioctl(FMaster, TCGETS2, &t) != 0)
        return false;
    t.c_cflag = (t.c_cflag & ~tcflag_t(CBAUD | CIBAUD)) | BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    return ioctl(FMaster, TCSETS2, &t) == 0;
}
