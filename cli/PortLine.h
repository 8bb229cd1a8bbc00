// The line of quorvantel-cli: our serial port component without its event
// thread (nothing to hand over to: the program waits for answers itself).
#pragma once

#include "protocol/lineexchange.h"
#include "serial/CPort.h"

#include <stdexcept>
#include <string>

// The line hung up (adapter pulled out) or failed while in use.
class ELineLost : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The port as the serial component opens it: a relative path ("./qv") is the
// file it names, not one under /dev; a bare name is left to the component.
std::string PortPath(const std::string& port);

class TPortLine : public ILine {
public:
    explicit TPortLine(const std::string& port);
    // 8N1, no flow control, DTR and RTS off, as the window opens it. Raises EComPort.
    void Open(int speed);
    // Applies the new speed at once. Raises EComPort.
    void SetSpeed(int speed);
    int Speed() const { return speed_; }

    void Write(std::string_view bytes) override;
    std::size_t Read(std::string& out, int timeoutMs) override;

private:
    class TPort : public TCustomComPort {
    public:
        using TCustomComPort::TCustomComPort;
        int Fd() const { return FHandle; }
    };
    TPort port_{nullptr};
    std::string name_;
    int speed_ = 9600;
};
