// The emulated printer's reader for remote-mode blocks. It works on the whole
// byte stream the printer has received so far, so a block split over several
// WritePort calls is recognised once its last byte arrives.
//
// A block: ESC ( R, a 16-bit little-endian length that must be 8, a zero byte and
// "REMOTE1", two-letter commands (16-bit little-endian parameter length, then the
// parameter), and the terminator ESC 00 00 00. The reset ESC @ ESC @ that status
// commands carry in front is counted as part of the block when it immediately
// precedes it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace emu {

struct RemoteCommand {
  std::string name;       // two letters, e.g. "ST"
  std::string parameter;  // raw parameter bytes
};

struct RemoteBlock {
  std::size_t begin = 0;  // offset in the stream, at the reset prefix if there is one
  std::size_t end = 0;    // one past the terminator
  std::vector<RemoteCommand> commands;
};

// Scans `stream` from `from` and appends every complete block to `out`. Returns the
// offset to resume from once more bytes have arrived: the end of the stream, or the
// start of a block that is not complete yet. A malformed block is skipped (the scan
// goes on at the byte after its ESC), as a printer drops out of remote mode on a
// byte it does not understand.
std::size_t ScanRemoteBlocks(std::string_view stream, std::size_t from,
                             std::vector<RemoteBlock>& out);

}  // namespace emu
