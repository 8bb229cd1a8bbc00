// Port names and the port list: the serial devices present in sysfs.
#include "CPort.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

std::string PortNameToDevice(const std::string& name)
{
    if (!name.empty() && name[0] == '/')
        return name;
    if (name.size() > 3 && name.size() <= 12 && strncasecmp(name.c_str(), "COM", 3) == 0 &&
        std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const unsigned long n = std::stoul(name.substr(3));
        if (n >= 1)
            return "/dev/ttyS" + std::to_string(n - 1);
    }
    return "/dev/" + name;
}

namespace {

bool IsVirtualConsole(const std::string& name)
{
    return name.size() > 3 && name.compare(0, 3, "tty") == 0 &&
           std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A serial_core port without hardware behind it reports type 0 (PORT_UNKNOWN).
bool IsAbsentUart(const std::string& entry)
{
    const int fd = ::open((entry + "/type").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[32];
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    buf[n] = 0;
    return std::strtol(buf, nullptr, 10) == 0 && buf[0] == '0';
}

bool LessNoCase(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

void SortPortNames(std::vector<std::string>& ports)
{
    // Names equal but for case keep a fixed order between them.
    std::sort(ports.begin(), ports.end());
    std::stable_sort(ports.begin(), ports.end(), LessNoCase);
}

void EnumComPortsFrom(const std::string& sysClassTty, std::vector<std::string>& ports)
{
    DIR* dir = opendir(sysClassTty.c_str());
    if (!dir)
        throw EComPort(CError_RegError, errno, "registry read");
    std::vector<std::string> found;
    for (;;) {
        errno = 0;
        const dirent* e = readdir(dir);
        if (!e) {
            const int err = errno;
            closedir(dir);
            if (err != 0)
                throw EComPort(CError_RegError, err, "registry read");
            break;
        }
        const std::string name = e->d_name;
        if (name == "." || name == ".." || IsVirtualConsole(name))
            continue;
        const std::string entry = sysClassTty + "/" + name;
        struct stat st;
        if (lstat((entry + "/device").c_str(), &st) != 0)
            continue; // no hardware behind it (consoles, ptys, ptmx)
        if (IsAbsentUart(entry))
            continue;
        std::string dev = name;
        std::replace(dev.begin(), dev.end(), '!', '/'); // sysfs writes subfolders of /dev with '!'
        found.push_back("/dev/" + dev);
    }
    SortPortNames(found);
    ports = std::move(found);
}

void EnumComPorts(std::vector<std::string>& ports)
{
    EnumComPortsFrom("/sys/class/tty", ports);
}
