// update-cpu and update-gfx: the file, the record of a stopped transfer, the
// pages, command 3, and the speed the controller is left at.
#pragma once

#include "CommandTable.h"

int RunUpdate(TRunContext& c, bool cpu);
// The update file into the page table: 0, or exit 3 after telling why.
int LoadUpdateFile(const std::string& file, bool cpu, TOutput& out);
