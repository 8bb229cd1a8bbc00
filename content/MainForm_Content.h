// Small helpers shared by the window's display-content files.
#pragma once

#include "ui/SpinEdit.h"

#include <QString>

#include <string_view>

// A QString's UTF-16 code units, as the transliteration reads them.
inline std::u16string_view Utf16(const QString& s)
{
    return {reinterpret_cast<const char16_t*>(s.utf16()), std::size_t(s.size())};
}

// A spin edit's value for a send, with whatever was typed brought into range
// first. While the operator types in it the value already follows the text
// (clamped), and interpreting would rewrite the text under the cursor.
inline int SpinValue(TSpinEdit* box)
{
    if (!box->hasFocus())
        box->interpretText();
    return box->value();
}
