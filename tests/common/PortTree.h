// A sysfs and /dev tree of serial ports of a test's own, laid out as the
// kernel and udev lay them out; QV_SYSFS_ROOT and QV_DEV_ROOT point at it
// while it lives. A /dev node is an empty file until Plug links it to a
// pseudo-terminal, which then really opens.
#pragma once

#include <QDir>
#include <QTemporaryDir>

#include <fstream>
#include <string>

struct TUsbAdapter {
    std::string tty, vid, pid, manufacturer, product, serial, driver, byId; // "": absent
};

class TPortTree {
public:
    TPortTree() { qputenv("QV_SYSFS_ROOT", Sys("").c_str()), qputenv("QV_DEV_ROOT", Dev("").c_str()); }
    ~TPortTree() { qunsetenv("QV_SYSFS_ROOT"), qunsetenv("QV_DEV_ROOT"); }
    bool Ok() const { return dir_.isValid(); }
    std::string Sys(const std::string& rel) const { return dir_.path().toStdString() + "/sys/" + rel; }
    std::string Dev(const std::string& rel) const { return dir_.path().toStdString() + "/dev/" + rel; }

    // A new USB device: a converter's port (ttyUSB) sits below its interface,
    // a modem-class port's device is the interface. A name already there
    // then leads to this adapter.
    void AddUsb(const TUsbAdapter& a)
    {
        const std::string usb = "devices/pci0000:00/usb1/1-" + std::to_string(++usbCount_), iface = usb + "/1-0:1.0";
        for (const auto& [name, value] : {std::pair{"idVendor", a.vid}, {"idProduct", a.pid},
                                          {"manufacturer", a.manufacturer}, {"product", a.product}, {"serial", a.serial}})
            if (!value.empty())
                File(Sys(usb + "/" + name), value);
        const std::string device = a.tty.rfind("ttyACM", 0) == 0 ? iface : iface + "/" + a.tty;
        AddTty(a.tty, device, "bus/usb-serial/drivers/" + a.driver);
        if (!a.byId.empty())
            Link(Dev(a.tty), Dev("serial/by-id/" + a.byId));
    }
    // A built-in UART (type 0: a slot without hardware), a tty without device.
    void AddUart(const std::string& tty, int type)
    {
        AddTty(tty, "devices/platform/serial8250", "bus/platform/drivers/serial8250");
        File(Sys("class/tty/" + tty + "/type"), std::to_string(type));
    }
    void AddConsole(const std::string& tty) { Link(Sys("devices/virtual/tty/" + tty + "/"), Sys("class/tty/" + tty)); }
    bool Plug(const std::string& tty, const std::string& target) { return Link(target, Dev(tty), false); }

    static TUsbAdapter Ftdi()
    {
        return {"ttyUSB0", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "ftdi_sio",
                "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"};
    }
    // Two USB-serial adapters (one without a serial number), a modem-class
    // device, a present and an absent UART, consoles.
    void AddStandardSet()
    {
        AddUsb(Ftdi());
        AddUsb({"ttyUSB1", "067B", "2303", "Prolific Technology Inc.", "USB-Serial Controller", "", "pl2303",
                "usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0"});
        AddUsb({"ttyACM0", "2e8a", "000a", "Raspberry Pi", "Pico", "E6616407E3646B2A", "cdc_acm",
                "usb-Raspberry_Pi_Pico_E6616407E3646B2A-if00"});
        AddUart("ttyS0", 4), AddUart("ttyS1", 0);
        for (const char* c : {"tty0", "tty1", "console", "ptmx"})
            AddConsole(c);
    }

private:
    void AddTty(const std::string& tty, const std::string& device, const std::string& driver)
    {
        Link(Sys(driver), Sys(device + "/driver"));
        Link(Sys(device + "/"), Sys(device + "/tty/" + tty + "/device"));
        Link(Sys(device + "/tty/" + tty), Sys("class/tty/" + tty));
        if (!QFileInfo(QString::fromStdString(Dev(tty))).isSymLink())
            File(Dev(tty), "");
    }
    // Relative, as sysfs and udev make them; a target ending in '/' is made.
    static bool Link(const std::string& target, const std::string& link, bool relative = true)
    {
        const QString t = QString::fromStdString(target), l = QString::fromStdString(link);
        const QDir dir = QFileInfo(l).absoluteDir();
        QDir().mkpath(dir.path()), QDir().mkpath(t.endsWith('/') ? t : QFileInfo(t).absolutePath());
        QFile::remove(l);
        return QFile::link(relative ? dir.relativeFilePath(t) : t, l);
    }
    static void File(const std::string& path, const std::string& text)
    {
        QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
        std::ofstream(path) << text << "\n";
    }
    QTemporaryDir dir_;
    int usbCount_ = 0;
};
