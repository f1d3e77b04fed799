// ReplyContains on arbitrary patterns and replies, each in a heap block of exactly
// its counted length (ASan catches any read beyond), against a naive search:
// a reply that is empty or starts with NUL never contains anything; otherwise the
// answer is whether std::search finds the pattern bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "printer_status/remote_commands.h"

namespace {

std::unique_ptr<char[]> Exact(const std::uint8_t* bytes, std::size_t size) {
  auto block = std::make_unique<char[]>(size);
  if (size > 0) std::memcpy(block.get(), bytes, size);
  return block;
}

void CheckAgainstNaiveSearch(const char* pattern, std::size_t patternLength, const char* reply,
                             std::size_t replyLength) {
  const BOOL found = ReplyContains(pattern, static_cast<DWORD>(patternLength), reply,
                                   static_cast<DWORD>(replyLength));
  bool expected = false;
  if (replyLength > 0 && reply[0] != '\0') {
    expected = std::search(reply, reply + replyLength, pattern, pattern + patternLength) !=
               reply + replyLength;
  }
  if ((found != FALSE) != expected) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // First byte: the pattern's length (0-15); then the pattern; the rest is the reply.
  const std::size_t patternLength = std::min<std::size_t>(data[0] % 16, size - 1);
  const auto pattern = Exact(data + 1, patternLength);
  const std::size_t replyLength = size - 1 - patternLength;
  const auto reply = Exact(data + 1 + patternLength, replyLength);
  CheckAgainstNaiveSearch(pattern.get(), patternLength, reply.get(), replyLength);

  // The one pattern the monitor uses, over the whole input.
  const auto whole = Exact(data, size);
  CheckAgainstNaiveSearch(INK_REPLY_MARKER, INK_REPLY_MARKER_LENGTH, whole.get(), size);
  return 0;
}
