// The window's update procedures and page exchange.
#include "ui/MainUnit.h"

void TMainForm::ConnectUpdateHandlers() {}

void TMainForm::fcmd_UpgreadeCPU() { TakeAnswer(GetCommand.raw); }

void TMainForm::fcmd_ProgramFlashPage() { AutoTimer = {}; }

void TMainForm::FlashPageTimeout() {}
