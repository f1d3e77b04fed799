// Naming the monitor's commands as they cross the port. The name comes from the
// commands found inside the block (read with the emulated printer's own block
// reader), not from a copy of the monitor's bytes, so a wrong byte in the
// monitor shows up on the timeline as a wrong or unknown name.
#pragma once

#include <string>

namespace spool {

// "StatusCommandA", "StatusCommandB", "InkQueryCommand", "remote-mode block (XX YY)"
// for other blocks, or "unrecognised bytes".
std::string NameCommand(const std::string& bytes);

}  // namespace spool
