// StripInkLengthBytes on arbitrary replies. Properties:
// - it reads and writes only the counted bytes (ASan: a heap block of exactly the
//   data, and one with the caller's terminator behind it, which stays NUL);
// - replies of 22 or 38 bytes, and replies without "IQ:", come back unchanged;
// - stripping only removes bytes: the result is a string no longer than the data,
//   obtained from the data by deleting bytes;
// - the result does not depend on whether a terminator follows the data.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "printer_status/remote_commands.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsSubsequence(std::string_view part, std::string_view whole) {
  std::size_t at = 0;
  for (const char c : part) {
    at = whole.find(c, at);
    if (at == std::string_view::npos) return false;
    ++at;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view original(reinterpret_cast<const char*>(data), size);
  const DWORD length = static_cast<DWORD>(size);

  auto terminated = std::make_unique<char[]>(size + 1);
  std::memcpy(terminated.get(), data, size);
  terminated[size] = '\0';
  StripInkLengthBytes(terminated.get(), length);
  Check(terminated[size] == '\0');

  const std::string_view result(terminated.get());
  Check(result.size() <= size);
  Check(IsSubsequence(result, original));
  if (size == 22 || size == 38 || original.find("IQ:") == std::string_view::npos) {
    Check(std::memcmp(terminated.get(), data, size) == 0);
  }

  if (size > 0) {
    auto exact = std::make_unique<char[]>(size);
    std::memcpy(exact.get(), data, size);
    StripInkLengthBytes(exact.get(), length);
    Check(std::memcmp(exact.get(), terminated.get(), size) == 0);
  }
  return 0;
}
