#include "flashpage.h"

#include <algorithm>
#include <cstring>

void tProgramFlashPage::Build(std::uint32_t address, const std::uint8_t* data)
{
    raw.fill(0);
    tHeader h;
    h.Command = cmd_ProgramFlashPage;
    h.Size = std::uint16_t(cSize);
    h.Encode(raw.data());
    PutLE32(&raw[cOffAddress], address);
    std::memcpy(&raw[cOffFrame], data, cFlashPageSize);
    raw[cOffCR] = cCR;
    raw[cOffLF] = cLF;
    const std::uint16_t crc = GetCRC(Bytes());
    PutLE16(&raw[cOffChSum], crc);
}

bool tProgramFlashPage::Take(std::string_view bytes)
{
    if (bytes.size() != cSize)
        return false;
    std::memcpy(raw.data(), bytes.data(), cSize);
    return true;
}

bool tProgramFlashPageConfirm::Take(const std::uint8_t* bytes, std::int32_t size)
{
    const auto n = std::clamp<std::int32_t>(size, 0, std::int32_t(cSize));
    std::memcpy(raw.data(), bytes, std::size_t(n));
    return size == std::int32_t(cSize);
}

TPageAnswer ClassifyPageAnswer(tProgramFlashPageConfirm& confirm, const std::uint8_t* bytes, std::int32_t size,
                               const TTransferPages& transfer)
{
    // A frame of another length (a broken one, a page's echo) confirms nothing,
    // nor does half a record filled up by the previous confirmation.
    if (!confirm.Take(bytes, size))
        return TPageAnswer::NoConfirmation;
    const std::int64_t page = confirm.address() >> 8;
    // Never a reason to write a page the transfer does not hold.
    if (!transfer.Holds(page))
        return TPageAnswer::Outside;
    if (IsRefusal(confirm.Response()))
        return TPageAnswer::Refused;
    if (page < transfer.onLine)
        return TPageAnswer::Earlier;
    return page == transfer.onLine ? TPageAnswer::OnLine : TPageAnswer::Later;
}

TBytes tProgramFlashPageConfirm::Build(std::uint32_t address, std::uint8_t response)
{
    tProgramFlashPageConfirm c;
    tHeader h;
    h.Command = cmd_ProgramFlashPage;
    h.Size = std::uint16_t(cSize);
    h.Encode(c.raw.data());
    PutLE32(&c.raw[cOffAddress], address);
    c.raw[cOffResponse] = response;
    c.raw[cSize - 2] = cCR;
    c.raw[cSize - 1] = cLF;
    TBytes out(reinterpret_cast<const char*>(c.raw.data()), cSize);
    SealFrame(out);
    return out;
}
