// Small helpers shared by the serial tests: a watchdog that turns a hang into
// a failure, and CPU time of the process.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

// Ends the test program with a message if the guarded block does not finish in time.
class TWatchdog {
public:
    TWatchdog(int timeoutMs, std::string what)
        : FWhat(std::move(what)), FThread([this, timeoutMs] {
              std::unique_lock lk(FMx);
              if (!FCv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [this] { return FDone; })) {
                  std::fprintf(stderr, "FAIL! watchdog: '%s' still running after %d ms (hang)\n",
                               FWhat.c_str(), timeoutMs);
                  std::fflush(stderr);
                  std::_Exit(3);
              }
          })
    {
    }
    ~TWatchdog()
    {
        {
            std::lock_guard lk(FMx);
            FDone = true;
        }
        FCv.notify_all();
        FThread.join();
    }

private:
    std::string FWhat;
    std::mutex FMx;
    std::condition_variable FCv;
    bool FDone = false;
    std::thread FThread;
};

inline double ProcessCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Waits (without serving the event loop) until `pred` holds or the time is up.
template <class Pred>
bool WaitBlocked(Pred pred, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

#include "serial/CPort.h"
#include "tests/common/Pty.h"

#include <QObject>

#include <dirent.h>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

// The EComPort a call raises, if any.
template <class F>
std::optional<EComPort> Raised(F f)
{
    try {
        f();
    } catch (const EComPort& e) {
        return e;
    }
    return std::nullopt;
}

// Thread ids of the event threads of this process (the port names its thread).
inline std::vector<std::string> EventThreadIds()
{
    std::vector<std::string> ids;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
            std::string name;
            std::getline(comm, name);
            if (name == "qv-comevents")
                ids.push_back(e->d_name);
        }
        closedir(d);
    }
    return ids;
}

// Whether another component can open `path` now, i.e. nobody holds it.
inline bool OpensElsewhere(const std::string& path)
{
    TComPort other(nullptr);
    other.SetPort(path);
    other.Open();
    return other.Connected();
}

inline int EventThreadCount()
{
    return int(EventThreadIds().size());
}

// The count once it is `expected`, or after 2 s. A joined thread leaves the
// process's task list a moment after the join, later on a loaded machine.
inline int EventThreadCountSettled(int expected)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int n = EventThreadCount();
    while (n != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        n = EventThreadCount();
    }
    return n;
}

// Base of the tests that talk to a port over a pseudo-terminal.
class TPortOnPtyTest : public QObject {
protected:
    // A fresh pseudo-terminal and a closed port set to its slave; false when
    // no pseudo-terminal could be made.
    bool NewPortOnPty()
    {
        peer = std::make_unique<TPty>();
        port = std::make_unique<TComPort>(nullptr);
        port->SetPort(peer->SlavePath());
        return peer->Ok();
    }
    // The port goes before the line it uses.
    void ReleasePortOnPty()
    {
        port.reset();
        peer.reset();
    }

    std::unique_ptr<TPty> peer;
    std::unique_ptr<TComPort> port;
};
