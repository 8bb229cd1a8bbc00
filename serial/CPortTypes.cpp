// The component's plain parts: the settings groups' re-apply, error texts and
// speed names.
#include "CPort.h"

#include <cstring>
#include <iterator>

#include <strings.h>

void ComApply(TComPortAbstract& port, TComApply group)
{
    switch (group) {
    case TComApply::Buffer:
        port.ApplyBuffer();
        break;
    case TComApply::DCB:
        port.ApplyDCB();
        break;
    case TComApply::Timeouts:
        port.ApplyTimeouts();
        break;
    }
}

// ---------------------------------------------------------------------------
// Errors

namespace {

const char* const kErrorTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};
static_assert(std::size(kErrorTexts) == CError_RegError);

} // namespace

std::string ComErrorMessage(std::int32_t index)
{
    if (index >= 1 && index <= CError_RegError)
        return kErrorTexts[index - 1];
    return "Unknown Error #" + std::to_string(index);
}

EComPort::EComPort(std::int32_t code, std::int32_t winCode, const std::string& portText)
    : std::runtime_error("COM Port Error: " + ComErrorMessage(code) + " on " + portText),
      WinCode(winCode), Code(code)
{
}

EComPort::EComPort(std::int32_t code)
    : std::runtime_error("COM Port Error: " + ComErrorMessage(code)), WinCode(-1), Code(code)
{
}

// ---------------------------------------------------------------------------
// Speeds

const char* const BaudRateStrings[16] = {
    "Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400",
    "19200", "38400", "56000", "57600", "115200", "128000", "256000",
};

std::string BaudRateToStr(TBaudRate value)
{
    if (value < brCustom || value > br256000)
        return std::string();
    return BaudRateStrings[value];
}

TBaudRate StrToBaudRate(const std::string& str)
{
    for (int i = 0; i < 16; ++i)
        if (strcasecmp(str.c_str(), BaudRateStrings[i]) == 0 && std::strlen(BaudRateStrings[i]) == str.size())
            return TBaudRate(i);
    return br9600;
}

std::int32_t BaudRateToInt(TBaudRate value, std::int32_t customRate)
{
    static const std::int32_t rates[16] = {0, 110, 300, 600, 1200, 2400, 4800, 9600, 14400,
                                           19200, 38400, 56000, 57600, 115200, 128000, 256000};
    if (value == brCustom || value < brCustom || value > br256000)
        return customRate;
    return rates[value];
}

