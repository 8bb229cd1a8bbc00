// A sysfs and /dev tree of serial ports of its own, laid out as the kernel and
// udev lay them out, with QV_SYSFS_ROOT and QV_DEV_ROOT pointing at it while
// it lives. A port's /dev node is an empty file, or a link to a
// pseudo-terminal (Plug) so that it really opens.
#pragma once

#include <QTemporaryDir>

#include <string>

struct TUsbAdapter {
    std::string tty;  // "ttyUSB0", "ttyACM0"
    std::string vid, pid, manufacturer, product, serial; // "" : attribute absent
    std::string driver; // "ftdi_sio", "cdc_acm"
    std::string byId;   // name under /dev/serial/by-id, "" for none
};

class TPortTree {
public:
    TPortTree();
    ~TPortTree(); // the environment as it was
    TPortTree(const TPortTree&) = delete;
    TPortTree& operator=(const TPortTree&) = delete;

    bool Ok() const { return ok_; }
    // A USB-serial converter's port (ttyUSB: the interface between device and
    // port) or a modem-class port (ttyACM: the port is the interface). Adding
    // a port already there replaces it, as another adapter under the name.
    void AddUsb(const TUsbAdapter& a);
    // A built-in UART; type 0 is a slot without hardware.
    void AddUart(const std::string& tty, int type);
    // A virtual console or another tty without a device (console, ptmx).
    void AddConsole(const std::string& tty);
    // Makes the port's /dev node a link to `target`.
    bool Plug(const std::string& tty, const std::string& target);

    // Two USB-serial adapters (ttyUSB0 with a serial number, ttyUSB1
    // without), a modem-class device (ttyACM0), a present and an absent UART
    // (ttyS0, ttyS1) and consoles.
    static TUsbAdapter Ftdi();
    static TUsbAdapter Prolific();
    static TUsbAdapter Pico();
    void AddStandardSet();

    std::string Dev(const std::string& rel) const { return dev_ + "/" + rel; }
    std::string Sys(const std::string& rel) const { return sys_ + "/" + rel; }

private:
    void Remove(const std::string& tty);
    QTemporaryDir dir_;
    std::string sys_, dev_;
    QByteArray oldSys_, oldDev_;
    bool hadSys_ = false, hadDev_ = false, ok_ = false;
    int usbCount_ = 0;
};
