// What is known of each serial port: its path, its stable by-id name and, for
// a USB adapter, what the adapter reports of itself and its kernel driver.
// Read from sysfs as the kernel lays it out; the port list (EnumComPorts) is
// made from the same walk, so the two always agree.
//
// Roots: QV_SYSFS_ROOT (default "/sys") and QV_DEV_ROOT (default "/dev"),
// read from the environment at each call, so that tests lay out a tree of
// adapters of their own. Port paths are then under QV_DEV_ROOT.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct TPortInfo {
    std::string port;          // device path, under QV_DEV_ROOT when that is set
    std::string byId;          // its /dev/serial/by-id/... link, or ""
    std::string vid, pid;      // four lower-case hex digits each, or ""
    std::string manufacturer, product, serial, driver; // "" where unknown

    bool operator==(const TPortInfo&) const = default;
};

// Every serial port present, in the port list's order. Raises EComPort
// (CError_RegError) when the tty class folder cannot be read.
std::vector<TPortInfo> ListPortInfos();
// A path, a COMn name or a by-id link, resolved to its device; nullopt when
// no serial port present stands behind it (a pseudo-terminal, say). Never raises.
std::optional<TPortInfo> PortInfoFor(const std::string& path);
// "serial:SN" -> the port whose USB serial number is SN; nullopt when none
// (then `present` lists the serial numbers present, in the port list's order).
// Never raises.
std::optional<TPortInfo> PortBySerial(const std::string& sn, std::vector<std::string>* present = nullptr);
// What tells one adapter from another: "serial A50285BI", else "usb 0403:6001",
// else "" (no USB adapter).
std::string AdapterIdentity(const TPortInfo& info);
// Words for the operator: product and serial where known, e.g.
// "FT232R USB UART (A50285BI)"; without either "USB 0403:6001" for a USB
// adapter; else the path.
std::string AdapterWords(const TPortInfo& info);

// The same walk over another tty class folder (the port list of a test or of
// an automation hook); ports are named under QV_DEV_ROOT.
std::vector<TPortInfo> ListPortInfosFrom(const std::string& sysClassTty);
// The roots in force now.
std::string SysfsRoot();
std::string DevRoot();
