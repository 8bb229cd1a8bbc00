// Shared pieces of the window tests: dialogs that record their texts, a raw
// pseudo-terminal whose master side tells whether the tool holds the slave
// open and at what speed, and small helpers for deadlines and choices.
#pragma once

#include "emulator/PtySpeed.h"
#include "tests/common/ScriptedDialogs.h"
#include "tests/common/Wait.h"
#include "ui/Dialogs.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

// Installs the scripted seam for one scope.
struct TDialogsScope {
    TScriptedDialogs dialogs;
    TDialogsScope() { SetDialogs(&dialogs); }
    ~TDialogsScope() { SetDialogs(nullptr); }
};

// A pseudo-terminal pair whose master side we hold.
class TPtyPair {
public:
    TPtyPair()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
            if (const char* name = ptsname(master_))
                slave_ = name;
        // Raw line, and one open and close of the slave: only after a close
        // does the master report a hang-up while nobody holds the slave.
        const int s = slave_.empty() ? -1 : ::open(slave_.c_str(), O_RDWR | O_NOCTTY);
        if (s < 0) {
            slave_.clear();
            return;
        }
        termios t{};
        ::tcgetattr(s, &t);
        ::cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(s, TCSANOW, &t);
        ::close(s);
    }
    ~TPtyPair()
    {
        if (master_ >= 0)
            ::close(master_);
    }
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    bool Ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& SlavePath() const { return slave_; }

    // True while some process holds the slave side open.
    bool SlaveOpen() const
    {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 0) < 0)
            return false;
        return (p.revents & POLLHUP) == 0;
    }
    // The output speed set on the slave side, in bit/s.
    int SlaveSpeed() const
    {
        int in = 0, out = 0;
        return ReadLineSpeeds(master_, in, out) ? out : -1;
    }
    // Bytes the tool wrote to the slave so far (drained).
    std::string ReadAll()
    {
        std::string out;
        char buf[256];
        for (;;) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, std::size_t(n));
        }
        return out;
    }

private:
    int master_ = -1;
    std::string slave_;
};

// The operator picks the item with `text` in `box` (as a click in the list does).
inline bool ChooseItem(QComboBox* box, const QString& text)
{
    const int i = box->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (i < 0)
        return false;
    box->setCurrentIndex(i);
    emit box->activated(i);
    return true;
}

#include <sys/file.h>

// Holds a device open with the exclusive lock the serial port takes, so that
// the tool cannot open it. A device that is missing cannot be opened anyway.
class TDeviceLock {
public:
    explicit TDeviceLock(const char* path)
    {
        fd_ = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~TDeviceLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TDeviceLock(const TDeviceLock&) = delete;
    TDeviceLock& operator=(const TDeviceLock&) = delete;

private:
    int fd_ = -1;
};
