// Line settings through Linux's termios2 (any bit rate, set at once). Kept in a
// file of its own: <asm/termbits.h> cannot live beside <termios.h>.
#pragma once

#include <cstdint>

namespace qv_serial {

struct TTtyLine {
    std::uint32_t baud = 9600;
    int dataBits = 8;   // 5..8
    int parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    bool twoStopBits = false;
    bool rtsCts = false;     // hardware output flow control
    bool xonXoffOut = false; // software flow control of what we send
    bool xonXoffIn = false;  // software flow control of what we receive
    bool parityCheck = false;
    unsigned char xonChar = 17;
    unsigned char xoffChar = 19;
};

// Raw binary mode with the given format, applied with immediate effect.
// Returns 0 or the errno of the failure.
int TtyApplyLine(int fd, const TTtyLine& line);

} // namespace qv_serial
