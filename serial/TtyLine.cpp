#include "TtyLine.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace qv_serial {

int TtyApplyLine(int fd, const TTtyLine& line)
{
    if (line.baud == 0 || line.dataBits < 5 || line.dataBits > 8 || line.parity < 0 || line.parity > 4)
        return EINVAL; // rate 0 would hang the line up
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;

    // Every byte passes unchanged both ways: no translation, no stripping,
    // no signals, no echo, no output processing.
    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                           ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL | IUTF8);
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT |
                           ECHOKE | IEXTEN | NOFLSH | TOSTOP);
    t.c_cflag &= ~tcflag_t(CBAUD | CIBAUD | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = line.baud;
    t.c_ospeed = line.baud;

    static const tcflag_t sizes[4] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[line.dataBits - 5];
    switch (line.parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (line.twoStopBits)
        t.c_cflag |= CSTOPB;
    if (line.rtsCts)
        t.c_cflag |= CRTSCTS;
    if (line.xonXoffOut)
        t.c_iflag |= IXON;
    if (line.xonXoffIn)
        t.c_iflag |= IXOFF;
    // Without a check a parity error is not looked at; with one, a bad byte reads as 0.
    if (line.parity != 0 && line.parityCheck)
        t.c_iflag |= INPCK;
    t.c_cc[VSTART] = cc_t(line.xonChar);
    t.c_cc[VSTOP] = cc_t(line.xoffChar);
    // Reads never wait: the descriptor is non-blocking and one byte makes it readable.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    if (ioctl(fd, TCSETS2, &t) != 0)
        return errno;
    return 0;
}

} // namespace qv_serial
