#include "flash.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

// The header is read by a plain copy of its bytes.
static_assert(std::endian::native == std::endian::little);

std::uint8_t FileFlash[cFlashImageSize];
tSendFlash SendFlash;
sflashrecord flashrec;
tProgramFlashPage Page;
tProgramFlashPageConfirm PageConfirm;

namespace {

[[noreturn]] void Fail(const char* what, const std::string& name, int err)
{
    throw EFlashFile(std::string(what) + " \"" + name + "\": " + std::strerror(err));
}

struct TFileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using TFile = std::unique_ptr<std::FILE, TFileCloser>;

TFile OpenForReading(const std::string& name)
{
    TFile f(std::fopen(name.c_str(), "rb"));
    if (!f)
        Fail("Nie można otworzyć pliku", name, errno);
    return f;
}

// The file whole, as the temporary copy the load works from.
std::vector<std::uint8_t> ReadWhole(const std::string& name)
{
    TFile f = OpenForReading(name);
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, f.get());
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (n < sizeof chunk) {
            if (std::ferror(f.get()))
                Fail("Nie można odczytać pliku", name, errno ? errno : EIO);
            return bytes;
        }
    }
}

void CopyToImage(const std::vector<std::uint8_t>& bytes, std::int32_t at)
{
    // Bytes left by an earlier file never travel with this one.
    std::memset(FileFlash, 0, sizeof FileFlash);
    const std::size_t room = std::size_t(cFlashImageSize - at);
    // An empty file has no data pointer to copy from.
    if (!bytes.empty())
        std::memcpy(FileFlash + at, bytes.data(), std::min(bytes.size(), room));
}

} // namespace

std::int32_t GetFileSize(const std::string& name)
{
    TFile f = OpenForReading(name);
    if (std::fseek(f.get(), 0, SEEK_END) != 0)
        Fail("Nie można odczytać pliku", name, errno);
    const long n = std::ftell(f.get());
    if (n < 0)
        Fail("Nie można odczytać pliku", name, errno);
    // Anything beyond the 32-bit range is of the wrong length anyway.
    return std::int32_t(std::min<long>(n, INT32_MAX));
}

void LoadFromFile(const std::string& name)
{
    CopyToImage(ReadWhole(name), 0);
}

void PrepareToFlash()
{
    SendFlash.PartSendCount = 0;
    SendFlash.PartSendTry = 0;
    std::int32_t ff = 0;
    std::uint32_t adr = 0;
    for (tPart& part : SendFlash.Part) {
        part.status = false;
        part.adres = adr;
        adr += cFlashPageSize;
        const std::int32_t n = std::clamp<std::int32_t>(cFlashImageSize - ff, 0, cFlashPageSize);
        std::memcpy(part.buf, FileFlash + ff, std::size_t(n));
        std::memset(part.buf + n, 0, cFlashPageSize - std::size_t(n));
        ff += std::int32_t(cFlashPageSize);
    }
}

std::int32_t CpuLastPart(std::int32_t size)
{
    return size / 256 + 32;
}

bool CpuSizeSound(std::int32_t size)
{
    return size >= 0 && CpuLastPart(size) <= cCpuLastPartMax;
}

bool LoadCpuFirmware(const std::string& name)
{
    if (GetFileSize(name) != cCpuFileSize)
        return false;
    const auto bytes = ReadWhole(name);
    // The file may have changed since its length was taken.
    if (bytes.size() != std::size_t(cCpuFileSize))
        return false;
    sflashrecord header;
    std::memcpy(&header, bytes.data(), sizeof header);
    if (!CpuSizeSound(header.size))
        return false;
    CopyToImage(bytes, cCpuImageOffset);
    flashrec = header;
    PrepareToFlash();
    SendFlash.PartFileSize = CpuLastPart(header.size);
    SendFlash.PartSendCount = 0;
    return true;
}

void LoadGraphics(const std::string& name)
{
    LoadFromFile(name);
    PrepareToFlash();
    SendFlash.PartFileSize = cLastPart;
}
