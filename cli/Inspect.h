// `quorvantel-cli inspect FILE`: what an update file holds, before anything is
// sent and without a port.
#pragma once

#include "Arguments.h"

#include <string>

class TOutput;

// A file named .BIN is CPU firmware and .QGF graphics data (as the window's
// dialogs filter them); any other name goes by its length.
bool IsCpuFileName(const std::string& path);
// Prints the facts (plain, or one JSON object); exit 0, 3 when the update
// would refuse the file or it cannot be read.
int InspectFile(const std::string& path, bool json, TOutput& out);
