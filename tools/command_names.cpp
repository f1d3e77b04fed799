#include "tools/command_names.h"

#include <vector>

#include "emulator/remote_blocks.h"

namespace spool {

std::string NameCommand(const std::string& bytes) {
  std::vector<emu::RemoteBlock> blocks;
  emu::ScanRemoteBlocks(bytes, 0, blocks);
  // A command is one whole block: nothing in front of it, nothing behind.
  if (blocks.size() != 1 || blocks[0].begin != 0 || blocks[0].end != bytes.size()) {
    return "unrecognised bytes";
  }
  const std::vector<emu::RemoteCommand>& c = blocks[0].commands;
  const bool reset = bytes.compare(0, 4, "\x1b@\x1b@") == 0;
  if (reset && c.size() == 2 && c[0].name == "ST" && c[1].name == "AP" &&
      c[1].parameter == std::string("\0\0", 2)) {
    if (c[0].parameter == std::string("\0\x01", 2)) return "StatusCommandA";
    if (c[0].parameter == std::string("\0\x03", 2)) return "StatusCommandB";
  }
  if (!reset && c.size() == 1 && c[0].name == "IQ" && c[0].parameter == "\x01") {
    return "InkQueryCommand";
  }
  std::string names;
  for (const emu::RemoteCommand& command : c) names += (names.empty() ? "" : " ") + command.name;
  return "remote-mode block (" + names + ")";
}

}  // namespace spool
