#include "FileFacts.h"

#include "content/CodePage.h"
#include "sha256.h"

#include <algorithm>
#include <cstring>

std::string FileSha256(const std::string& path)
{
    TUpdateFile f(path);
    TSha256 sha;
    std::vector<std::uint8_t> chunk(65536);
    while (const std::size_t n = f.Read(chunk.data(), chunk.size()))
        sha.Update(chunk.data(), n);
    return sha.FinalHex();
}

namespace {
template <std::size_t N>
std::string Text(const char (&field)[N])
{
    return Windows1250ToUtf8(std::string_view(field, strnlen(field, N)));
}
} // namespace

TCpuHeaderFacts CpuHeaderFacts(const sflashrecord& header)
{
    return {Text(header.info), Text(header.data), Text(header.version), Text(header.board), header.size};
}

std::string PrintableText(const std::string& text)
{
    std::string s = text;
    std::replace_if(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; },
                    '?');
    return s;
}

std::string CpuVersionLine(const TCpuHeaderFacts& header)
{
    return "version " + PrintableText(header.version) + ", board " + PrintableText(header.board);
}

TFileFacts InspectUpdateFile(const std::string& path, bool cpu)
{
    TFileFacts facts;
    facts.cpu = cpu;
    {
        TUpdateFile f(path);
        facts.fileSize = f.Size();
        if (cpu) {
            if (f.Size() != cCpuFileSize)
                throw EFlashFile(std::string(cBadCpuFileText) + ": \"" + path + "\" has " +
                                 std::to_string(f.Size()) + " bytes, not " + std::to_string(cCpuFileSize));
            sflashrecord header;
            if (f.Read(reinterpret_cast<std::uint8_t*>(&header), sizeof header) != sizeof header)
                throw EFlashFile(std::string(cBadCpuFileText) + ": \"" + path + "\" became shorter while read");
            facts.header = CpuHeaderFacts(header);
        }
    }
    facts.sha256 = FileSha256(path);
    if (!cpu) {
        facts.firstPage = 0;
        facts.lastPage = cLastPart;
        facts.ignoredBytes = std::max<std::int64_t>(0, facts.fileSize - cFlashImageSize);
        return facts;
    }
    const std::int32_t size = facts.header->size;
    facts.firstPage = cCpuFirstPart;
    facts.lastPage = CpuLastPart(size);
    if (size < 0)
        facts.warnings.push_back("the header's size " + std::to_string(size) +
                                 " is negative; the update refuses this file");
    else if (facts.lastPage > cCpuLastPartMax)
        facts.warnings.push_back("the header's size " + std::to_string(size) + " puts the last page at " +
                                 std::to_string(facts.lastPage) + ", past the file's last page " +
                                 std::to_string(cCpuLastPartMax) + "; the update refuses this file");
    return facts;
}
