// Plain parts of the command exchange: the pending-command record and the
// texts the answer handlers produce.
#pragma once

#include "frame.h"

#include <cstdint>
#include <string>

struct tAutoTimer {
    std::uint8_t cmd = 0;       // 0: nothing awaited
    std::int32_t interval = 0;  // ticks left
};

// Ticks a command waits for its answer.
inline constexpr std::int32_t TimerInterval = 100;
// One tick of Timer1: 100 ticks make the 1 to 1.5 s an answer may take.
inline constexpr int cTimer1TickMs = 12;

// Told when a command's answer does not come, by both programs.
inline constexpr const char* cNoAnswerText = "Brak potwierdzenia odebrania komendy do Quorvantela";

// "Wersja firmware %d.%2.2d. Wersja sprzętowa %d.00" for a version answer (UTF-8).
std::string VersionLabelText(const tGetVersion& v);
