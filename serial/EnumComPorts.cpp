// Port names and the port list: the serial devices present in sysfs, from
// the same walk as their details (PortInfo).
#include "CPort.h"
#include "PortInfo.h"

#include <algorithm>
#include <cctype>
#include <string>

#include <strings.h>

std::string PortNameToDevice(const std::string& name)
{
    if (!name.empty() && name[0] == '/')
        return name;
    const std::string dev = DevRoot();
    if (name.size() > 3 && name.size() <= 12 && strncasecmp(name.c_str(), "COM", 3) == 0 &&
        std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const unsigned long n = std::stoul(name.substr(3));
        if (n >= 1)
            return dev + "/ttyS" + std::to_string(n - 1);
    }
    return dev + "/" + name;
}

namespace {

bool LessNoCase(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

bool PortNameLess(const std::string& a, const std::string& b)
{
    // Names equal but for case keep a fixed order between them.
    if (LessNoCase(a, b))
        return true;
    return !LessNoCase(b, a) && a < b;
}

void SortPortNames(std::vector<std::string>& ports)
{
    std::sort(ports.begin(), ports.end(), PortNameLess);
}

namespace {

void Names(const std::vector<TPortInfo>& infos, std::vector<std::string>& ports)
{
    std::vector<std::string> found;
    found.reserve(infos.size());
    for (const auto& i : infos)
        found.push_back(i.port);
    ports = std::move(found);
}

} // namespace

void EnumComPortsFrom(const std::string& sysClassTty, std::vector<std::string>& ports)
{
    Names(ListPortInfosFrom(sysClassTty), ports);
}

void EnumComPorts(std::vector<std::string>& ports)
{
    Names(ListPortInfos(), ports);
}
