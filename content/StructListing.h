// The layouts of the two text records as the operator log lists them, the
// offsets and sizes taken from the records themselves. Plain C++.
#pragma once

#include <string>
#include <vector>

// Title, one line per field, the length line and an empty line.
std::vector<std::string> StructListingSendText();
std::vector<std::string> StructListingSendTextFrame();
