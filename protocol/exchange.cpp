#include "exchange.h"

#include <cstdio>

std::string VersionLabelText(const tGetVersion& v)
{
    // Wersja is unsigned 32-bit: a large value must not come out negative.
    const std::uint32_t wersja = v.Wersja();
    char text[128];
    std::snprintf(text, sizeof text, "Wersja firmware %u.%2.2u. Wersja sprzętowa %u.00",
                  unsigned(wersja / 100), unsigned(wersja % 100), unsigned(v.WersjaPCB()));
    return text;
}
