// Bytes on the heap in a block of exactly their length, no terminator behind
// them: a parser or search that reads past the end is caught by the sanitizers
// (and by the heap checks of the Windows build).
#pragma once

#include <cstring>
#include <memory>
#include <string>

namespace monitor_test {

inline std::unique_ptr<char[]> ExactBlock(const std::string& bytes) {
  auto block = std::make_unique<char[]>(bytes.size());
  std::memcpy(block.get(), bytes.data(), bytes.size());
  return block;
}

}  // namespace monitor_test
