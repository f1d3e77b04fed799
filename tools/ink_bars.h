// The ink levels as the status application would show them: one bar per colour,
// drawn from the InkLevel value the monitor stored, read with the emulator's
// own ink format.
#pragma once

#include <string>

#include "emulator/printer_replies.h"

namespace spool {

// "  cyan     [##############......]  70%\n" per colour.
std::string InkBars(const emu::InkLevels& levels, int width = 20);

}  // namespace spool
