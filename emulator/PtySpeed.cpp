#include "PtySpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool ReadLineSpeeds(int fd, int& inSpeed, int& outSpeed)
{
    struct termios2 t {};
    if (fd < 0 || ioctl(fd, TCGETS2, &t) != 0)
        return false;
    outSpeed = static_cast<int>(t.c_ospeed);
    inSpeed = t.c_ispeed != 0 ? static_cast<int>(t.c_ispeed) : outSpeed;
    return true;
}
