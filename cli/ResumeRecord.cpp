#include "ResumeRecord.h"

#include "serial/PortInfo.h"

#include <cctype>
#include <dirent.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file name for the port: what a name may not hold becomes '_'; the file
// also names the port whole, and Find compares it.
std::string RecordPath(const std::string& port)
{
    std::string name;
    for (const char c : port)
        name += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ? c : '_';
    return ResumeFolder() + "/" + name + ".resume";
}

bool MakeFolders(const std::string& path, std::string& error)
{
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/')
            continue;
        const std::string part = path.substr(0, i);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot make the folder " + part + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

} // namespace

std::string ResumeFolder()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::string(state) + "/quorvantel";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.local/state/quorvantel";
}

std::string PortIdentity(const std::string& port)
{
    // A USB adapter's serial number follows it to another name.
    const auto info = port.rfind("serial:", 0) == 0 ? PortBySerial(port.substr(7)) : PortInfoFor(port);
    if (info && !info->serial.empty())
        return AdapterIdentity(*info);
    char resolved[PATH_MAX];
    if (::realpath(port.c_str(), resolved))
        return resolved;
    return port;
}

bool TResumeRecord::Save(std::string& error) const
{
    const std::string folder = ResumeFolder();
    if (!MakeFolders(folder, error))
        return false;
    const std::string target = RecordPath(port), temp = target + ".new";
    const std::string text = "port=" + port + "\npath=" + path + "\ncommand=" + command + "\nfile=" + file +
                             "\nsha256=" + sha256 + "\nnext_page=" + std::to_string(nextPage) +
                             "\nall_confirmed=" + std::to_string(int(allConfirmed)) +
                             "\ncommand3_sent=" + std::to_string(int(command3Sent)) +
                             "\nspeed_found=" + std::to_string(speedFound) +
                             "\nspeed_left=" + std::to_string(speedLeft) + "\nadapter=" + adapter +
                             "\nadapter_words=" + adapterWords + "\n";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size()) && ::fsync(fd) == 0;
    const int writeErrno = errno;
    if (fd >= 0)
        ::close(fd);
    if (ok)
        ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        error = "cannot write " + target + ": " + std::strerror(fd >= 0 ? errno : writeErrno);
        ::unlink(temp.c_str());
    }
    return ok;
}

namespace {

std::optional<TResumeRecord> ReadRecord(const std::string& recordFile)
{
    std::ifstream in(recordFile);
    std::map<std::string, std::string> v;
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            v[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (v["port"].empty() || v["sha256"].size() != 64)
        return std::nullopt;
    const auto number = [&](const char* key) { return std::atoi(v[key].c_str()); };
    TResumeRecord r;
    r.port = v["port"];
    r.path = v["path"];
    r.command = v["command"];
    r.file = v["file"];
    r.sha256 = v["sha256"];
    r.nextPage = number("next_page");
    r.allConfirmed = number("all_confirmed") != 0;
    r.command3Sent = number("command3_sent") != 0;
    r.speedFound = number("speed_found") == 115200 ? 115200 : 9600;
    r.speedLeft = number("speed_left") == 115200 ? 115200 : 9600;
    r.adapter = v["adapter"];
    r.adapterWords = v["adapter_words"];
    return r;
}

} // namespace

std::optional<TResumeRecord> TResumeRecord::Find(const std::string& port)
{
    auto r = ReadRecord(RecordPath(port));
    if (!r || r->port != port)
        return std::nullopt;
    return r;
}

std::optional<TResumeRecord> TResumeRecord::FindGiven(const std::string& given)
{
    // Keyed by another adapter's serial number, a record is found only by
    // the name it was given under.
    DIR* dir = ::opendir(ResumeFolder().c_str());
    if (!dir)
        return std::nullopt;
    std::optional<TResumeRecord> found;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() < 8 || name.compare(name.size() - 7, 7, ".resume") != 0)
            continue;
        auto r = ReadRecord(ResumeFolder() + "/" + name);
        if (r && r->path == given) {
            found = std::move(r);
            break;
        }
    }
    ::closedir(dir);
    return found;
}

void TResumeRecord::Remove(const std::string& port) { ::unlink(RecordPath(port).c_str()); }
