// Why a port would not open or close, told to the operator in Polish.
#pragma once

#include "CPort.h"

#include <string>

// One line (UTF-8) naming the device tried and the cause behind `e`: the device
// is missing, the user lacks the permission (with the dialout advice), another
// program holds it, or otherwise the system's own error text.
std::string PortFailureReason(const EComPort& e, const std::string& portName);
