// The tool's end of the line in the emulator tests: the pty slave opened raw,
// 8N1, at 9600 bit/s, and read with deadlines.
#pragma once

#include "protocol/frame.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

// Raw bytes from spaced hex text: Bytes("1B 01 0A 00").
inline std::string Bytes(const char* hex)
{
    return QByteArray::fromHex(QByteArray(hex).replace(' ', "")).toStdString();
}

// Hex text of raw bytes, for comparisons that print readably when they fail.
inline QString Hex(const std::string& bytes)
{
    return QString::fromStdString(StrToHex(bytes)).trimmed();
}

inline std::string Sealed(TBytes frame)
{
    SealFrame(frame);
    return frame;
}

// A sealed flash page frame: header, page address, two zero bytes, the page
// data (256 bytes make the 272-byte frame) and CR LF.
inline std::string PageFrame(std::uint32_t address, const std::string& data)
{
    TBytes f(14, '\0');
    f[0] = char(cBusStart);
    f[1] = char(cmd_ProgramFlashPage);
    PutLE32(reinterpret_cast<std::uint8_t*>(f.data()) + 8, address);
    f += data;
    f += "\r\n";
    PutLE16(reinterpret_cast<std::uint8_t*>(f.data()) + cOffSize, std::uint16_t(f.size()));
    return Sealed(f);
}

inline std::string PageFrame(std::uint32_t address, char fill)
{
    return PageFrame(address, std::string(256, fill));
}

class TToolSide {
public:
    explicit TToolSide(const std::string& path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return;
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        t.c_cflag &= ~tcflag_t(CSTOPB | PARENB | CRTSCTS | CSIZE);
        t.c_cflag |= CS8 | CLOCAL | CREAD;
        ::cfsetspeed(&t, B9600);
        if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~TToolSide()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TToolSide(const TToolSide&) = delete;
    TToolSide& operator=(const TToolSide&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    bool SetSpeed(int bps)
    {
        termios t{};
        if (::tcgetattr(fd_, &t) != 0)
            return false;
        ::cfsetspeed(&t, bps == 115200 ? B115200 : B9600);
        return ::tcsetattr(fd_, TCSANOW, &t) == 0;
    }

    bool Write(const std::string& bytes)
    {
        std::size_t done = 0;
        QElapsedTimer timer;
        timer.start();
        while (done < bytes.size() && timer.elapsed() < 5000) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += std::size_t(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 50);
            } else if (!(n < 0 && errno == EINTR)) {
                return false;
            }
        }
        return done == bytes.size();
    }

    // Every read() result on its own, until n bytes have come or the deadline passes.
    std::vector<std::string> ReadChunks(std::size_t n, int timeoutMs = 3000)
    {
        std::vector<std::string> chunks;
        std::size_t got = 0;
        QElapsedTimer timer;
        timer.start();
        while (got < n) {
            const qint64 left = timeoutMs - timer.elapsed();
            if (left <= 0)
                break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            if (p.revents & (POLLHUP | POLLERR))
                break;
            char buf[512];
            const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - got));
            if (r > 0) {
                chunks.emplace_back(buf, std::size_t(r));
                got += std::size_t(r);
            }
        }
        return chunks;
    }

    std::string Read(std::size_t n, int timeoutMs = 3000)
    {
        std::string all;
        for (const auto& c : ReadChunks(n, timeoutMs))
            all += c;
        return all;
    }

    // True when bytes are waiting right now.
    bool HasInput() const
    {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
    }

private:
    int fd_ = -1;
};
