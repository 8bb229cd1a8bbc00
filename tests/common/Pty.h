// Either end of a pseudo-terminal pair, for the tests that talk over a real
// line: a new pair whose master the test holds (the controller's side, which
// also sees the slave's settings), or the slave of an existing pair opened as
// the tool would (raw, 8N1, 9600 bit/s).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class EPtyEnd {
    Master,        // a new pair; the slave is left as the kernel made it
    WatchedMaster, // likewise, but the slave opened and closed once (raw), so
                   // that the master reports a hang-up while nobody holds it
};

class TPty {
public:
    explicit TPty(EPtyEnd end = EPtyEnd::Master);
    explicit TPty(const std::string& slavePath);
    ~TPty();
    TPty(const TPty&) = delete;
    TPty& operator=(const TPty&) = delete;

    bool Ok() const { return FFd >= 0; }
    int Fd() const { return FFd; }
    const std::string& SlavePath() const { return FSlave; }

    // Writes all bytes (waits for room, 5 s at the most).
    bool Send(const std::string& bytes);
    // Every read() result on its own, until `count` bytes came, the deadline
    // passed or the line hung up.
    std::vector<std::string> ReceiveChunks(std::size_t count, int timeoutMs = 3000);
    std::string Receive(std::size_t count, int timeoutMs = 3000);
    // Whatever is waiting now.
    std::string Drain();
    bool HasInput() const;
    // Closes this end, as if the adapter were pulled out.
    void Unplug();

    // The line's settings as the kernel holds them (termios2).
    struct TLine {
        std::uint32_t iflag = 0, oflag = 0, cflag = 0, lflag = 0;
        std::uint32_t ispeed = 0, ospeed = 0;
        unsigned char vmin = 0, vtime = 0, vstart = 0, vstop = 0;
    };
    bool Line(TLine& out) const;
    // Sets the line's speed (on a master: behind the slave's user's back).
    bool SetSpeed(std::uint32_t rate);

    // Master only: whether some process holds the slave open, and its output speed.
    bool SlaveOpen() const;
    int SlaveSpeed() const;

private:
    int FFd = -1;
    std::string FSlave;
};

// Bits of termios2 flags, taken from the kernel's headers in Pty.cpp.
namespace pty_bits {
extern const std::uint32_t CSIZE_, CS5_, CS6_, CS7_, CS8_, CSTOPB_, PARENB_, PARODD_, CMSPAR_,
    CRTSCTS_, CLOCAL_, CREAD_, CBAUD_, BOTHER_;
extern const std::uint32_t IXON_, IXOFF_, ICRNL_, INLCR_, IGNCR_, ISTRIP_, INPCK_, PARMRK_, BRKINT_;
extern const std::uint32_t OPOST_;
extern const std::uint32_t ICANON_, ECHO_, ISIG_, IEXTEN_;
} // namespace pty_bits
