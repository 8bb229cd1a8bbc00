#include "PortTree.h"

#include <QDir>
#include <QFile>

#include <fstream>

namespace {

bool Write(const std::string& path, const std::string& text)
{
    std::ofstream f(path);
    f << text << "\n";
    return bool(f);
}

bool Link(const std::string& target, const std::string& link)
{
    QFile::remove(QString::fromStdString(link));
    return QFile::link(QString::fromStdString(target), QString::fromStdString(link));
}

// A relative link, as sysfs and udev make them.
bool RelLink(const std::string& target, const std::string& link)
{
    const QString dir = QFileInfo(QString::fromStdString(link)).absolutePath();
    return Link(QDir(dir).relativeFilePath(QString::fromStdString(target)).toStdString(), link);
}

bool MakeDir(const std::string& path) { return QDir().mkpath(QString::fromStdString(path)); }

} // namespace

TPortTree::TPortTree()
{
    sys_ = dir_.path().toStdString() + "/sys";
    dev_ = dir_.path().toStdString() + "/dev";
    ok_ = dir_.isValid() && MakeDir(sys_ + "/class/tty") && MakeDir(dev_ + "/serial/by-id") &&
          MakeDir(sys_ + "/devices/virtual/tty");
    hadSys_ = qEnvironmentVariableIsSet("QV_SYSFS_ROOT");
    hadDev_ = qEnvironmentVariableIsSet("QV_DEV_ROOT");
    oldSys_ = qgetenv("QV_SYSFS_ROOT");
    oldDev_ = qgetenv("QV_DEV_ROOT");
    qputenv("QV_SYSFS_ROOT", QByteArray::fromStdString(sys_));
    qputenv("QV_DEV_ROOT", QByteArray::fromStdString(dev_));
}

TPortTree::~TPortTree()
{
    if (hadSys_)
        qputenv("QV_SYSFS_ROOT", oldSys_);
    else
        qunsetenv("QV_SYSFS_ROOT");
    if (hadDev_)
        qputenv("QV_DEV_ROOT", oldDev_);
    else
        qunsetenv("QV_DEV_ROOT");
}

void TPortTree::Remove(const std::string& tty)
{
    const QString cls = QString::fromStdString(sys_ + "/class/tty/" + tty);
    const QString real = QFileInfo(cls).canonicalFilePath();
    QFile::remove(cls);
    // The whole USB device goes with its port.
    if (real.contains(QLatin1String("/usb1/")))
        QDir(real.left(real.indexOf(QLatin1Char('/'), real.indexOf(QLatin1String("/usb1/")) + 6))).removeRecursively();
    for (const QString& n : QDir(QString::fromStdString(dev_ + "/serial/by-id")).entryList(QDir::System))
        if (QFileInfo(QString::fromStdString(dev_ + "/serial/by-id/") + n).symLinkTarget().endsWith(
                QLatin1Char('/') + QString::fromStdString(tty)))
            QFile::remove(QString::fromStdString(dev_ + "/serial/by-id/") + n);
}

void TPortTree::AddUsb(const TUsbAdapter& a)
{
    Remove(a.tty);
    const bool acm = a.tty.rfind("ttyACM", 0) == 0;
    const std::string port = "1-" + std::to_string(++usbCount_);
    const std::string usb = sys_ + "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
    const std::string iface = usb + "/" + port + ":1.0";
    // ttyUSB: .../1-1:1.0/ttyUSB0/tty/ttyUSB0, the device is the usb-serial port;
    // ttyACM: .../1-1:1.0/tty/ttyACM0, the device is the interface.
    const std::string device = acm ? iface : iface + "/" + a.tty;
    const std::string cls = device + "/tty/" + a.tty;
    MakeDir(cls);
    MakeDir(sys_ + "/bus/usb/drivers/" + a.driver);
    MakeDir(sys_ + "/bus/usb-serial/drivers/" + a.driver);
    const std::pair<const char*, const std::string*> attributes[] = {
        {"idVendor", &a.vid}, {"idProduct", &a.pid}, {"manufacturer", &a.manufacturer},
        {"product", &a.product}, {"serial", &a.serial}};
    for (const auto& [name, value] : attributes)
        if (!value->empty())
            Write(usb + "/" + name, *value);
    Write(cls + "/dev", "188:0");
    RelLink(device, cls + "/device");
    RelLink(sys_ + "/bus/usb/drivers/" + a.driver, iface + "/driver");
    if (!acm)
        RelLink(sys_ + "/bus/usb-serial/drivers/" + a.driver, device + "/driver");
    RelLink(cls, sys_ + "/class/tty/" + a.tty);
    if (!QFileInfo::exists(QString::fromStdString(dev_ + "/" + a.tty)) &&
        !QFileInfo(QString::fromStdString(dev_ + "/" + a.tty)).isSymLink())
        Write(dev_ + "/" + a.tty, "");
    if (!a.byId.empty())
        Link("../../" + a.tty, dev_ + "/serial/by-id/" + a.byId);
}

void TPortTree::AddUart(const std::string& tty, int type)
{
    const std::string device = sys_ + "/devices/platform/serial8250";
    const std::string cls = device + "/tty/" + tty;
    MakeDir(cls);
    MakeDir(sys_ + "/bus/platform/drivers/serial8250");
    RelLink(sys_ + "/bus/platform/drivers/serial8250", device + "/driver");
    Write(cls + "/type", std::to_string(type));
    RelLink(device, cls + "/device");
    RelLink(cls, sys_ + "/class/tty/" + tty);
    Write(dev_ + "/" + tty, "");
}

void TPortTree::AddConsole(const std::string& tty)
{
    MakeDir(sys_ + "/devices/virtual/tty/" + tty);
    RelLink(sys_ + "/devices/virtual/tty/" + tty, sys_ + "/class/tty/" + tty);
}

bool TPortTree::Plug(const std::string& tty, const std::string& target)
{
    return Link(target, dev_ + "/" + tty);
}

TUsbAdapter TPortTree::Ftdi()
{
    return {"ttyUSB0", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "ftdi_sio",
            "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"};
}

TUsbAdapter TPortTree::Prolific()
{
    return {"ttyUSB1", "067B", "2303", "Prolific Technology Inc.", "USB-Serial Controller", "", "pl2303",
            "usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0"};
}

TUsbAdapter TPortTree::Pico()
{
    return {"ttyACM0", "2e8a", "000a", "Raspberry Pi", "Pico", "E6616407E3646B2A", "cdc_acm",
            "usb-Raspberry_Pi_Pico_E6616407E3646B2A-if00"};
}

void TPortTree::AddStandardSet()
{
    AddUsb(Ftdi());
    AddUsb(Prolific());
    AddUsb(Pico());
    AddUart("ttyS0", 4);
    AddUart("ttyS1", 0);
    for (const char* c : {"tty0", "tty1", "console", "ptmx"})
        AddConsole(c);
}
