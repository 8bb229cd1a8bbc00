// Update files of any contents and length, loaded as CPU firmware and as
// graphics data through the loader's own entry points; then the page table
// and the first and last pages of the transfer built as they go on the line.
//
// Input: byte 0 the file's length rule (as given, or padded with zeros to the
// firmware's exact length or past the image's end), the rest the file.
#include "FuzzCheck.h"

#include "update/flash.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string path;

void WriteFile(const std::vector<std::uint8_t>& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    std::fclose(f);
}

// Builds the page as it is sent and reads it back as the controller would.
void CheckPage(std::int32_t index)
{
    if (index < 0 || index >= cPartCount)
        return;
    const tPart& part = SendFlash.Part[index];
    FUZZ_CHECK(part.adres == std::uint32_t(index) * cFlashPageSize);
    Page.Build(part.adres, part.buf);
    tProgramFlashPage back;
    FUZZ_CHECK(back.Take(Page.Bytes()));
    FUZZ_CHECK(back.address() == part.adres);
    FUZZ_CHECK(std::memcmp(back.frame(), part.buf, cFlashPageSize) == 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char name[] = "/tmp/quorvantel-fuzz-XXXXXX";
    const int fd = mkstemp(name);
    FUZZ_CHECK(fd >= 0);
    close(fd);
    path = name;
    std::atexit([] { std::remove(path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    std::vector<std::uint8_t> file(data + 1, data + size);
    switch (data[0] % 3) {
    case 1: file.resize(std::size_t(cCpuFileSize)); break;
    case 2: file.resize(std::size_t(cFlashImageSize) + file.size() % 512); break;
    default: break;
    }
    WriteFile(file);

    try {
        const std::int32_t before = SendFlash.PartFileSize;
        const bool loaded = LoadCpuFirmware(path);
        if (loaded) {
            FUZZ_CHECK(file.size() == std::size_t(cCpuFileSize));
            FUZZ_CHECK(CpuSizeSound(flashrec.size));
            FUZZ_CHECK(SendFlash.PartFileSize >= cCpuFirstPart && SendFlash.PartFileSize <= cCpuLastPartMax);
            FUZZ_CHECK(std::memcmp(FileFlash + cCpuImageOffset, file.data(), file.size()) == 0);
            CheckPage(cCpuFirstPart);
            CheckPage(SendFlash.PartFileSize);
        } else {
            FUZZ_CHECK(SendFlash.PartFileSize == before);
        }

        LoadGraphics(path);
        FUZZ_CHECK(SendFlash.PartFileSize == cLastPart);
        const std::size_t kept = std::min(file.size(), std::size_t(cFlashImageSize));
        FUZZ_CHECK(kept == 0 || std::memcmp(FileFlash, file.data(), kept) == 0);
        for (std::int32_t i : {0, 1, 2, cLastPart})
            CheckPage(i);
    } catch (const EFlashFile&) {
        FUZZ_CHECK(false); // the file is there and readable
    }
    return 0;
}
