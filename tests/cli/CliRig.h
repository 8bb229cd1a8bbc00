// The controller emulator with a frame hook the test can change while it
// runs, for the terminal program's tests.
#pragma once

#include "emulator/Emulator.h"

#include <QtGlobal>

#include <functional>
#include <mutex>
#include <string>

struct TCliRig {
    TEmulator emu;
    std::mutex mu;
    // Runs on the emulator's thread for every frame, before it is answered.
    std::function<void(const std::string& frame)> onFrame;

    explicit TCliRig(TEmulator::Options o = {}) : emu(o)
    {
        emu.OnFrame([this](const std::string& frame, bool) {
            std::lock_guard lock(mu);
            if (onFrame)
                onFrame(frame);
        });
        std::string error;
        if (!emu.Start(&error))
            qFatal("emulator: %s", error.c_str());
    }
    void SetHook(std::function<void(const std::string&)> hook)
    {
        std::lock_guard lock(mu);
        onFrame = std::move(hook);
    }
};
