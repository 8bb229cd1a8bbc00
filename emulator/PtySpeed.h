// Line speeds of a terminal as the kernel keeps them (termios2). Kept apart
// because <asm/termbits.h> cannot share a translation unit with <termios.h>.
#pragma once

// Reads the input and output speeds in bit/s. On a pty master this gives the
// slave's settings, i.e. what the program on the other side has set.
// An input speed of 0 means "same as output". Returns false on failure.
bool ReadLineSpeeds(int fd, int& inSpeed, int& outSpeed);
