// The emulator started on a new pseudo-terminal, and the tool's end of that
// line open; a test that cannot have them cannot go on.
#pragma once

#include "emulator/Emulator.h"
#include "tests/common/Hex.h"
#include "tests/common/Pty.h"

#include <QtGlobal>

#include <memory>

inline std::unique_ptr<TEmulator> Started(TEmulator::Options o = {})
{
    auto emu = std::make_unique<TEmulator>(o);
    std::string error;
    if (!emu->Start(&error))
        qFatal("emulator: %s", error.c_str());
    return emu;
}

struct TEmulatorLine {
    std::unique_ptr<TEmulator> emu;
    std::unique_ptr<TPty> tool;

    explicit TEmulatorLine(TEmulator::Options o = {})
        : emu(Started(o)), tool(std::make_unique<TPty>(emu->SlavePath()))
    {
        if (!tool->Ok())
            qFatal("cannot open %s", emu->SlavePath().c_str());
    }
};
