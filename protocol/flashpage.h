// The flash page frame and its confirmation, as they travel on the line.
// The tool builds pages and reads confirmations through these records; the
// controller emulator reads pages and builds confirmations through them too.
#pragma once

#include "frame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr std::size_t cFlashPageSize = 256;

// tProgramFlashPage, 272 bytes: header, address (LE32), ForFuture (LE16),
// 256 bytes of page data, CR LF. Kept as its wire bytes.
struct tProgramFlashPage {
    static constexpr std::size_t cSize = 272;
    static constexpr std::size_t cOffAddress = 8;
    static constexpr std::size_t cOffForFuture = 12;
    static constexpr std::size_t cOffFrame = 14;
    static constexpr std::size_t cOffCR = cOffFrame + cFlashPageSize;
    static constexpr std::size_t cOffLF = cOffCR + 1;

    std::array<std::uint8_t, cSize> raw{};

    // Clears the record, then fills header, address, data and trailer and
    // seals it: the complete frame of one page.
    void Build(std::uint32_t address, const std::uint8_t* data);

    std::uint32_t address() const { return GetLE32(&raw[cOffAddress]); }
    const std::uint8_t* frame() const { return &raw[cOffFrame]; }
    std::string_view Bytes() const
    {
        return {reinterpret_cast<const char*>(raw.data()), raw.size()};
    }
    // Reads a received frame; false unless it is a whole page frame.
    bool Take(std::string_view bytes);
};
static_assert(tProgramFlashPage::cOffLF + 1 == tProgramFlashPage::cSize);
static_assert(sizeof(tProgramFlashPage) == tProgramFlashPage::cSize);

// tProgramFlashPageConfirm, 16 bytes: header, address (LE32), Response,
// ForFuture1, CR LF.
struct tProgramFlashPageConfirm {
    static constexpr std::size_t cSize = 16;
    static constexpr std::size_t cOffAddress = 8;
    static constexpr std::size_t cOffResponse = 12;
    static constexpr std::size_t cOffForFuture1 = 13;

    std::array<std::uint8_t, cSize> raw{};

    std::uint32_t address() const { return GetLE32(&raw[cOffAddress]); }
    std::uint8_t Response() const { return raw[cOffResponse]; }
    // Copies a received frame: a longer one by its first 16 bytes, a shorter
    // one over its own length only (the rest keeps the previous confirmation).
    // True when the frame is a confirmation at all: exactly 16 bytes.
    bool Take(const std::uint8_t* bytes, std::int32_t size);
    // The sealed confirmation of the page at `address`.
    static TBytes Build(std::uint32_t address, std::uint8_t response);
};
static_assert(sizeof(tProgramFlashPageConfirm) == tProgramFlashPageConfirm::cSize);

// The kind of transfer decides its closing step: a CPU firmware transfer ends
// with the CPU command, a graphics transfer with its message.
enum class TTransferKind { Cpu, Graphics };

// The pages of the transfer under way and the one on the line.
struct TTransferPages {
    int first = 0;
    int last = -1; // below first: no transfer
    int onLine = -1;
    bool Holds(std::int64_t page) const { return page >= first && page <= last; }
};

// What a received command-11 frame means for the page on the line. Each
// program acts on it by its own rules; the decision is made here only.
enum class TPageAnswer {
    NoConfirmation, // not 16 bytes long
    Outside,        // names a page outside the transfer (or no transfer runs)
    Refused,        // Response Wrong or Repeat: the page was not taken
    Earlier,        // confirms a page of the transfer before the one on the line
    OnLine,         // confirms the page on the line
    Later,          // names a page of the transfer not sent yet
};

// The Response codes that say a command or page was not taken.
inline bool IsRefusal(std::uint8_t response)
{
    return response == rec_ResponseWrong || response == rec_ResponseRepeat;
}

// Classifies the received frame (taken into `confirm`) against the transfer.
TPageAnswer ClassifyPageAnswer(tProgramFlashPageConfirm& confirm, const std::uint8_t* bytes, std::int32_t size,
                               const TTransferPages& transfer);

// The texts both programs show at a transfer's closing step.
inline constexpr const char* cGraphicsDoneText = "Dane graficzne zostały zaktualizowane.";
inline constexpr const char* cProgramCpuText = "Po naciśnięciu OK nastapi zaprogramowanie procesora?";
