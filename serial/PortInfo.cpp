// The walk over the tty class folder that both the port list and the port
// details come from.
#include "serial/PortInfo.h"

#include "serial/CPort.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string EnvOr(const char* name, const char* fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

// Lexical: "." and ".." folded, no symbolic link followed (a test's node may
// be a link to a pseudo-terminal, which is not the port's name).
std::string Normalize(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= path.size()) {
        const std::size_t j = std::min(path.find('/', i), path.size());
        const std::string part = path.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out;
    for (const auto& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

std::string DirName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ReadLink(const std::string& path, std::string& target)
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return false;
    target.assign(buf, std::size_t(n));
    return true;
}

// Where a link points, as a path (relative links taken from the link's folder).
std::string LinkTarget(const std::string& link, const std::string& target)
{
    return Normalize(target[0] == '/' ? target : DirName(link) + "/" + target);
}

std::string RealPath(const std::string& path)
{
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// A sysfs attribute, one short line; "" when absent.
std::string ReadAttribute(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n <= 0)
        return {};
    std::string s(buf, std::size_t(n));
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    return s;
}

// The adapter's own words go to terminals and windows: control characters
// (C0, DEL and the C1 range in UTF-8) become '?', so that a device cannot
// send escape sequences to the operator's terminal.
std::string Printable(std::string s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7f) {
            out += '?';
        } else if (c == 0xc2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(s[i + 1]) <= 0x9f) {
            out += '?';
            ++i;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string Hex4(const std::string& s)
{
    if (s.size() != 4 || !std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit((unsigned char)c); }))
        return {};
    std::string out = s;
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool IsVirtualConsole(const std::string& name)
{
    return name.size() > 3 && name.compare(0, 3, "tty") == 0 &&
           std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A serial_core port without hardware behind it reports type 0 (PORT_UNKNOWN).
bool IsAbsentUart(const std::string& entry)
{
    const std::string type = ReadAttribute(entry + "/type");
    return !type.empty() && type[0] == '0' && std::strtol(type.c_str(), nullptr, 10) == 0;
}

struct TWalk {
    std::string classDir; // .../class/tty
    std::string sysRoot;  // the sysfs root, resolved: the walk up stops there
    std::string devRoot;  // normalized
    std::map<std::string, std::string> byId; // device path -> first by-id link

    explicit TWalk(const std::string& sysClassTty)
        : classDir(sysClassTty), sysRoot(RealPath(sysClassTty + "/../..")), devRoot(Normalize(DevRoot()))
    {
        const std::string dir = devRoot + "/serial/by-id";
        DIR* d = ::opendir(dir.c_str());
        if (!d)
            return;
        std::vector<std::string> names;
        while (const dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        ::closedir(d);
        std::sort(names.begin(), names.end());
        for (const auto& n : names) {
            const std::string link = dir + "/" + n;
            std::string target;
            if (ReadLink(link, target))
                byId.emplace(LinkTarget(link, target), link); // the first name wins
        }
    }

    std::string PortPath(std::string name) const
    {
        std::replace(name.begin(), name.end(), '!', '/'); // sysfs writes subfolders of /dev with '!'
        return devRoot == "/" ? "/" + name : devRoot + "/" + name;
    }

    // The entry `name` of the class folder, unless it is no serial port.
    std::optional<TPortInfo> Read(const std::string& name) const
    {
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
            IsVirtualConsole(name))
            return std::nullopt;
        const std::string entry = classDir + "/" + name;
        struct stat st;
        if (::lstat((entry + "/device").c_str(), &st) != 0)
            return std::nullopt; // no hardware behind it (consoles, ptys, ptmx)
        if (IsAbsentUart(entry))
            return std::nullopt;
        TPortInfo info;
        info.port = PortPath(name);
        if (const auto it = byId.find(info.port); it != byId.end())
            info.byId = it->second;
        const std::string device = RealPath(entry + "/device");
        if (device.empty())
            return info;
        std::string driver;
        if (ReadLink(device + "/driver", driver))
            info.driver = Printable(BaseName(driver));
        // The USB device is the first folder above that holds idVendor: the
        // interface's parent for a modem-class port, one more up for a
        // USB-serial converter's port.
        std::string d = device;
        for (int depth = 0; depth < 16 && d != "/" && (sysRoot.empty() || d.rfind(sysRoot + "/", 0) == 0);
             ++depth, d = DirName(d)) {
            if (!Exists(d + "/idVendor"))
                continue;
            info.vid = Hex4(ReadAttribute(d + "/idVendor"));
            info.pid = Hex4(ReadAttribute(d + "/idProduct"));
            info.manufacturer = Printable(ReadAttribute(d + "/manufacturer"));
            info.product = Printable(ReadAttribute(d + "/product"));
            info.serial = Printable(ReadAttribute(d + "/serial"));
            break;
        }
        return info;
    }
};

std::vector<TPortInfo> ListFrom(const TWalk& walk)
{
    DIR* dir = ::opendir(walk.classDir.c_str());
    if (!dir)
        throw EComPort(CError_RegError, errno, "registry read");
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(dir);
        if (!e) {
            const int err = errno;
            ::closedir(dir);
            if (err != 0)
                throw EComPort(CError_RegError, err, "registry read");
            break;
        }
        names.emplace_back(e->d_name);
    }
    std::vector<TPortInfo> out;
    for (const auto& n : names)
        if (auto info = walk.Read(n))
            out.push_back(std::move(*info));
    std::sort(out.begin(), out.end(),
              [](const TPortInfo& a, const TPortInfo& b) { return PortNameLess(a.port, b.port); });
    return out;
}

} // namespace

std::string SysfsRoot() { return EnvOr("QV_SYSFS_ROOT", "/sys"); }
std::string DevRoot() { return EnvOr("QV_DEV_ROOT", "/dev"); }

std::vector<TPortInfo> ListPortInfosFrom(const std::string& sysClassTty)
{
    return ListFrom(TWalk(sysClassTty));
}

std::vector<TPortInfo> ListPortInfos()
{
    return ListPortInfosFrom(SysfsRoot() + "/class/tty");
}

std::optional<TPortInfo> PortInfoFor(const std::string& path)
{
    if (path.empty())
        return std::nullopt;
    const TWalk walk(SysfsRoot() + "/class/tty");
    const std::string prefix = walk.devRoot == "/" ? "/" : walk.devRoot + "/";
    std::string p = Normalize(PortNameToDevice(path));
    // A by-id link (or any link) is followed hop by hop until it names a port.
    for (int hop = 0; hop < 8; ++hop) {
        if (p.size() > prefix.size() && p.compare(0, prefix.size(), prefix) == 0) {
            std::string name = p.substr(prefix.size());
            std::replace(name.begin(), name.end(), '/', '!');
            if (auto info = walk.Read(name))
                return info;
        }
        std::string target;
        if (!ReadLink(p, target))
            break;
        p = LinkTarget(p, target);
    }
    return std::nullopt;
}

std::optional<TPortInfo> PortBySerial(const std::string& sn, std::vector<std::string>* present)
{
    const std::string wanted = sn.rfind("serial:", 0) == 0 ? sn.substr(7) : sn;
    std::vector<TPortInfo> ports;
    try {
        ports = ListPortInfos();
    } catch (const EComPort&) {
    }
    std::optional<TPortInfo> found;
    int matches = 0;
    if (present)
        present->clear();
    for (auto& info : ports) {
        if (info.serial.empty())
            continue;
        if (present)
            present->push_back(info.serial);
        if (!wanted.empty() && info.serial == wanted && ++matches == 1)
            found = info;
    }
    // Two adapters reporting one serial number (clones do): choosing either
    // could update the wrong controller.
    if (matches > 1)
        return std::nullopt;
    return found;
}

std::string AdapterIdentity(const TPortInfo& info)
{
    if (!info.serial.empty())
        return "serial " + info.serial;
    if (!info.vid.empty() || !info.pid.empty())
        return "usb " + info.vid + ":" + info.pid;
    return {};
}

std::string AdapterWords(const TPortInfo& info)
{
    const std::string& name = info.product.empty() ? info.manufacturer : info.product;
    std::string words = name;
    if (!info.serial.empty())
        words = name.empty() ? info.serial : name + " (" + info.serial + ")";
    if (words.empty() && (!info.vid.empty() || !info.pid.empty()))
        words = "USB " + info.vid + ":" + info.pid;
    return words.empty() ? info.port : words;
}
