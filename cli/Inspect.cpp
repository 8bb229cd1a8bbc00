#include "Inspect.h"

#include "Output.h"
#include "Report.h"
#include "update/FileFacts.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sys/stat.h>

namespace {

bool EndsWithNoCase(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() &&
           std::equal(tail.rbegin(), tail.rend(), s.rbegin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

std::string Shown(const std::string& text)
{
    return "\"" + PrintableText(text) + "\"";
}

} // namespace

bool IsCpuFileName(const std::string& path)
{
    if (EndsWithNoCase(path, ".bin"))
        return true;
    if (EndsWithNoCase(path, ".qgf"))
        return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_size == cCpuFileSize;
}

int InspectFile(const std::string& path, bool json, TOutput& out)
{
    TFileFacts f;
    try {
        f = InspectUpdateFile(path, IsCpuFileName(path));
    } catch (const EFlashFile& e) {
        out.Error(e.what(), exitFileRefused);
        return exitFileRefused;
    }
    if (json) {
        std::string warnings;
        for (const std::string& w : f.warnings)
            warnings += (warnings.empty() ? "" : ",") + JsonString(w);
        std::printf("{\"event\":\"inspect\",\"file\":%s,\"kind\":\"%s\",\"file_size\":%lld,\"sha256\":\"%s\","
                    "\"header\":%s,\"first_page\":%d,\"last_page\":%d,\"ignored_bytes\":%lld,\"warnings\":[%s]}\n",
                    JsonString(path).c_str(), f.cpu ? "cpu" : "graphics", static_cast<long long>(f.fileSize),
                    f.sha256.c_str(), HeaderJson(f).c_str(), f.firstPage, f.lastPage,
                    static_cast<long long>(f.ignoredBytes), warnings.c_str());
    } else {
        std::printf("%s: %s, %lld bytes\n", path.c_str(), f.cpu ? "CPU firmware" : "graphics data",
                    static_cast<long long>(f.fileSize));
        if (f.header) {
            std::printf("  info     %s\n  data     %s\n  version  %s\n  board    %s\n  size     %d\n",
                        Shown(f.header->info).c_str(), Shown(f.header->data).c_str(),
                        Shown(f.header->version).c_str(), Shown(f.header->board).c_str(), f.header->size);
        }
        std::printf("pages %d-%d\n", f.firstPage, f.lastPage);
        if (!f.cpu)
            std::printf("bytes beyond the image, ignored: %lld\n", static_cast<long long>(f.ignoredBytes));
        std::printf("sha256 %s\n", f.sha256.c_str());
        for (const std::string& w : f.warnings)
            std::printf("warning: %s\n", w.c_str());
    }
    std::fflush(stdout);
    return f.warnings.empty() ? exitDone : exitFileRefused;
}
