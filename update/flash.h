// The update image, its page table and the two update files. Plain C++, no Qt:
// the storage exists once for the whole run, as module-level records.
#pragma once

#include "protocol/flashpage.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

// The image: 248 bytes short of 1 MiB, so page 4095 carries 8 image bytes.
inline constexpr std::int32_t cFlashImageSize = 1048328;
inline constexpr int cPartCount = 4096;
inline constexpr std::int32_t cLastPart = cPartCount - 1;

// The CPU firmware file: exactly 192 KiB, programmed from address 4096 on.
inline constexpr std::int32_t cCpuFileSize = 196608;
inline constexpr std::int32_t cCpuImageOffset = 4096;
inline constexpr std::int32_t cCpuFirstPart = cCpuImageOffset / std::int32_t(cFlashPageSize);
// The file's own last page; a header pointing beyond it is refused.
inline constexpr std::int32_t cCpuLastPartMax = (cCpuImageOffset + cCpuFileSize) / 256 - 1;

struct tPart {
    std::uint8_t buf[cFlashPageSize];
    bool status;
    std::uint32_t adres;
};

struct tSendFlash {
    tPart Part[cPartCount];
    std::int32_t PartSendCount;
    std::int32_t PartSendTry;
    std::int32_t PartFileSize;
};

// The CPU firmware file's 4096-byte header, byte for byte (little-endian).
struct sflashrecord {
    char info[64];
    std::int32_t size;
    char data[8];
    char version[8];
    char board[256];
    std::uint8_t key[256];
    std::uint8_t empty[3496];
    std::int32_t checksum;
};
static_assert(sizeof(sflashrecord) == 4096);
static_assert(offsetof(sflashrecord, size) == 64 && offsetof(sflashrecord, data) == 68);
static_assert(offsetof(sflashrecord, version) == 76 && offsetof(sflashrecord, board) == 84);
static_assert(offsetof(sflashrecord, key) == 340 && offsetof(sflashrecord, empty) == 596);
static_assert(offsetof(sflashrecord, checksum) == 4092);

extern std::uint8_t FileFlash[cFlashImageSize];
extern tSendFlash SendFlash;
extern sflashrecord flashrec;
extern tProgramFlashPage Page;
extern tProgramFlashPageConfirm PageConfirm;

// What the operator is told of a CPU firmware file that is not one.
inline constexpr const char* cBadCpuFileText = "Wybrano zły plik do upgreadu CPU";

// A file that cannot be opened or read; the message names the file and the reason.
class EFlashFile : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An update file opened for reading: a regular file only. A directory, a FIFO
// or a device is refused with the reason. Raises EFlashFile.
class TUpdateFile {
public:
    explicit TUpdateFile(const std::string& name);
    ~TUpdateFile();
    TUpdateFile(const TUpdateFile&) = delete;
    TUpdateFile& operator=(const TUpdateFile&) = delete;
    // Reads up to `limit` bytes on from where the last read ended; returns
    // how many came before the file's end. Raises EFlashFile.
    std::size_t Read(std::uint8_t* out, std::size_t limit);
    // Its length when opened.
    std::int64_t Size() const { return size_; }

private:
    std::string name_;
    int fd_ = -1;
    std::int64_t size_ = 0;
};

// Length of the named file in bytes. Raises EFlashFile.
std::int32_t GetFileSize(const std::string& name);
// Clears the image, then reads the file's first 1,048,328 bytes into it
// from index 0; nothing beyond them is read. Raises EFlashFile.
void LoadFromFile(const std::string& name);
// Cuts the whole image into the 4096 pages; PartSendCount and PartSendTry 0.
void PrepareToFlash();

// Last page of a CPU firmware transfer for the header's `size`
// (truncating division, pages of body start at 32).
std::int32_t CpuLastPart(std::int32_t size);
// A `size` whose pages all lie within the file.
bool CpuSizeSound(std::int32_t size);

// Loads a CPU firmware file, its length taken from the open file: false
// (nothing changed) for a file of the wrong length or a header `size` that is negative or points beyond the file.
// Otherwise the image holds the file from index 4096 on, flashrec its header,
// and the page table is ready with PartFileSize the last page. Raises EFlashFile.
bool LoadCpuFirmware(const std::string& name);
// Loads a graphics data file from index 0 and prepares all pages for sending
// (PartFileSize 4095). Raises EFlashFile.
void LoadGraphics(const std::string& name);
