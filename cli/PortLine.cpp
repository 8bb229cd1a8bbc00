#include "PortLine.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

std::string PortPath(const std::string& port)
{
    if (port.find('/') == std::string::npos || port[0] == '/')
        return port;
    char* cwd = ::getcwd(nullptr, 0);
    std::string_view rest = port;
    while (rest.rfind("./", 0) == 0)
        rest.remove_prefix(2);
    const std::string path = cwd ? std::string(cwd) + "/" + std::string(rest) : port;
    std::free(cwd);
    return path;
}

TPortLine::TPortLine(const std::string& port) : name_(port)
{
    port_.SetPort(PortPath(port));
    port_.Parity().SetBits(prNone);
    port_.SetStopBits(sbOneStopBit);
    port_.SetDataBits(dbEight);
    // No event thread: reads are made here, with a deadline.
    port_.SetEvents({});
    TComFlowControl& fc = port_.FlowControl();
    fc.SetOutCTSFlow(false);
    fc.SetOutDSRFlow(false);
    fc.SetControlDTR(dtrDisable);
    fc.SetControlRTS(rtsDisable);
    fc.SetXonXoffOut(false);
    fc.SetXonXoffIn(false);
}

void TPortLine::Open(int speed)
{
    SetSpeed(speed);
    port_.Open();
}

void TPortLine::SetSpeed(int speed)
{
    port_.SetBaudRate(speed == 115200 ? br115200 : br9600);
    speed_ = speed;
}

void TPortLine::Write(std::string_view bytes)
{
    const auto n = port_.Write(bytes.data(), std::int32_t(bytes.size()));
    if (n != std::int32_t(bytes.size()))
        throw ELineLost("the frame could not be written to " + name_ + " in time");
}

std::size_t TPortLine::Read(std::string& out, int timeoutMs)
{
    pollfd pfd{port_.Fd(), POLLIN, 0};
    const int r = poll(&pfd, 1, timeoutMs);
    if (r < 0) {
        if (errno == EINTR) // a signal: the caller looks at its flag and its deadline
            return 0;
        throw ELineLost(std::string("waiting on ") + name_ + " failed: " + std::strerror(errno));
    }
    if (r == 0)
        return 0;
    if (pfd.revents & POLLIN) {
        char buf[4096];
        const auto n = port_.Read(buf, sizeof buf);
        if (n > 0) {
            out.append(buf, std::size_t(n));
            return std::size_t(n);
        }
    }
    // Readable with nothing to read, or a hang-up: the line is gone, and
    // polling again would only spin.
    if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL | POLLIN))
        throw ELineLost("the line " + name_ + " hung up");
    return 0;
}
