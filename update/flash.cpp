#include "flash.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The header is read by a plain copy of its bytes.
static_assert(std::endian::native == std::endian::little);

std::uint8_t FileFlash[cFlashImageSize];
tSendFlash SendFlash;
sflashrecord flashrec;
tProgramFlashPage Page;
tProgramFlashPageConfirm PageConfirm;

namespace {

[[noreturn]] void Fail(const char* what, const std::string& name, const std::string& reason)
{
    throw EFlashFile(std::string(what) + " \"" + name + "\": " + reason);
}

[[noreturn]] void Fail(const char* what, const std::string& name, int err)
{
    Fail(what, name, std::strerror(err));
}

const char* const cCannotOpen = "Nie można otworzyć pliku";
const char* const cCannotRead = "Nie można odczytać pliku";

void CopyToImage(const std::uint8_t* bytes, std::size_t length, std::int32_t at)
{
    // Bytes left by an earlier file never travel with this one.
    std::memset(FileFlash, 0, sizeof FileFlash);
    const std::size_t room = std::size_t(cFlashImageSize - at);
    if (length > 0)
        std::memcpy(FileFlash + at, bytes, std::min(length, room));
}

// Only a regular file has a length to go by; anything else (a directory,
// a pipe, /dev/zero) holds no image or never ends.
void RefuseOtherThanFile(const std::string& name, mode_t mode)
{
    if (S_ISREG(mode))
        return;
    if (S_ISDIR(mode))
        Fail(cCannotOpen, name, EISDIR);
    Fail(cCannotOpen, name,
         S_ISFIFO(mode)   ? "It is a FIFO (named pipe), not a file"
         : S_ISSOCK(mode) ? "It is a socket, not a file"
                          : "It is a device, not a file");
}

} // namespace

TUpdateFile::TUpdateFile(const std::string& name) : name_(name)
{
    // Looked at before it is opened: opening a device may already act on it
    // (a serial port raises its lines).
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0)
        Fail(cCannotOpen, name, errno);
    RefuseOtherThanFile(name, st.st_mode);
    // Not blocking: should a FIFO take the file's place meanwhile, the open
    // must not wait for a writer; it is refused below.
    fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0)
        Fail(cCannotOpen, name, errno);
    if (::fstat(fd_, &st) != 0) {
        const int err = errno;
        ::close(fd_);
        Fail(cCannotOpen, name, err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd_);
        RefuseOtherThanFile(name, st.st_mode);
    }
    // Reads wait as on any file from here on.
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    size_ = std::int64_t(st.st_size);
}

TUpdateFile::~TUpdateFile()
{
    ::close(fd_);
}

std::size_t TUpdateFile::Read(std::uint8_t* out, std::size_t limit)
{
    std::size_t got = 0;
    while (got < limit) {
        const ssize_t n = ::read(fd_, out + got, limit - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail(cCannotRead, name_, errno);
        }
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    return got;
}

std::int32_t GetFileSize(const std::string& name)
{
    // Anything beyond the 32-bit range is of the wrong length anyway.
    return std::int32_t(std::min<std::int64_t>(TUpdateFile(name).Size(), INT32_MAX));
}

void LoadFromFile(const std::string& name)
{
    TUpdateFile f(name);
    // Only what the image can hold is read, however long the file is.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(cFlashImageSize));
    const std::size_t n = f.Read(bytes.data(), bytes.size());
    CopyToImage(bytes.data(), n, 0);
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
    TUpdateFile f(name);
    if (f.Size() != cCpuFileSize)
        return false;
    // One byte more than the file should hold: a file grown since its length
    // was taken is of the wrong length too.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(cCpuFileSize) + 1);
    if (f.Read(bytes.data(), bytes.size()) != std::size_t(cCpuFileSize))
        return false;
    sflashrecord header;
    std::memcpy(&header, bytes.data(), sizeof header);
    if (!CpuSizeSound(header.size))
        return false;
    CopyToImage(bytes.data(), std::size_t(cCpuFileSize), cCpuImageOffset);
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
