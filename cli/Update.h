// update-cpu and update-gfx: the file, the record of a stopped transfer, the
// pages, command 3, and the speed the controller is left at.
#pragma once

#include "CommandTable.h"

int RunUpdate(TRunContext& c, bool cpu);
