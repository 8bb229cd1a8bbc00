// The far end of a pseudo-terminal pair, opened by the test itself: it plays
// the controller's side of the line, reads the slave's line settings and can
// be "unplugged".
#pragma once

#include <cstdint>
#include <string>

class TPtyPeer {
public:
    TPtyPeer();  // fails the calling test (QVERIFY) when no pty can be had
    ~TPtyPeer(); // closes the master if still open
    TPtyPeer(const TPtyPeer&) = delete;
    TPtyPeer& operator=(const TPtyPeer&) = delete;

    bool ok() const { return FMaster >= 0; }
    const std::string& slavePath() const { return FSlave; }
    int master() const { return FMaster; }

    // Writes all bytes (waits for room; false on error).
    bool send(const std::string& bytes);
    // Reads until `count` bytes have come or `timeoutMs` passed.
    std::string receive(std::size_t count, int timeoutMs);
    // Reads whatever is waiting now.
    std::string drain();
    // Closes the master side, as if the adapter were pulled out.
    void unplug();

    // The slave's settings as the kernel holds them (termios2, seen from the master).
    struct TLine {
        std::uint32_t iflag = 0, oflag = 0, cflag = 0, lflag = 0;
        std::uint32_t ispeed = 0, ospeed = 0;
        unsigned char vmin = 0, vtime = 0, vstart = 0, vstop = 0;
    };
    bool line(TLine& out) const;
    // Sets the slave's speed behind the port's back (to see whether the port re-applies).
    bool setSpeed(std::uint32_t rate);

private:
    int FMaster = -1;
    std::string FSlave;
};

// Bits of termios2 flags, taken from the kernel's headers in PtyPeer.cpp.
namespace pty_bits {
extern const std::uint32_t CSIZE_, CS5_, CS6_, CS7_, CS8_, CSTOPB_, PARENB_, PARODD_, CMSPAR_,
    CRTSCTS_, CLOCAL_, CREAD_, CBAUD_, BOTHER_;
extern const std::uint32_t IXON_, IXOFF_, ICRNL_, INLCR_, IGNCR_, ISTRIP_, INPCK_, PARMRK_, BRKINT_;
extern const std::uint32_t OPOST_;
extern const std::uint32_t ICANON_, ECHO_, ISIG_, IEXTEN_;
} // namespace pty_bits
