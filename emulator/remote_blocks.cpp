// Incremental recognition of remote-mode blocks. The scanner keeps no state of its
// own: the caller keeps the stream and the resume offset, so a block cut anywhere,
// even inside its 16-bit length fields, is simply parsed again from its ESC once
// more bytes are there.
#include "emulator/remote_blocks.h"

#include <array>
#include <cstring>

namespace emu {
namespace {

constexpr std::array<unsigned char, 13> kIntroducer = {0x1B, 0x28, 0x52, 0x08, 0x00, 0x00, 0x52,
                                                       0x45, 0x4D, 0x4F, 0x54, 0x45, 0x31};
constexpr std::array<unsigned char, 4> kTerminator = {0x1B, 0x00, 0x00, 0x00};
constexpr std::array<unsigned char, 4> kReset = {0x1B, 0x40, 0x1B, 0x40};

enum class Parse { Complete, Incomplete, Invalid };

// Compares the bytes at `at` with `expected`; Incomplete when the stream ends
// before a difference shows.
template <std::size_t N>
Parse Expect(std::string_view s, std::size_t at, const std::array<unsigned char, N>& expected) {
  for (std::size_t i = 0; i < N; ++i) {
    if (at + i >= s.size()) return Parse::Incomplete;
    if (static_cast<unsigned char>(s[at + i]) != expected[i]) return Parse::Invalid;
  }
  return Parse::Complete;
}

bool IsCommandLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

Parse ParseBlockAt(std::string_view s, std::size_t at, RemoteBlock& block) {
  Parse p = Expect(s, at, kIntroducer);
  if (p != Parse::Complete) return p;
  std::size_t q = at + kIntroducer.size();
  block.commands.clear();
  for (;;) {
    if (q >= s.size()) return Parse::Incomplete;
    if (static_cast<unsigned char>(s[q]) == 0x1B) {
      p = Expect(s, q, kTerminator);
      if (p != Parse::Complete) return p;
      block.begin = at;
      block.end = q + kTerminator.size();
      return Parse::Complete;
    }
    if (!IsCommandLetter(s[q])) return Parse::Invalid;
    if (q + 1 >= s.size()) return Parse::Incomplete;
    if (!IsCommandLetter(s[q + 1])) return Parse::Invalid;
    if (q + 3 >= s.size()) return Parse::Incomplete;
    const std::size_t length =
        static_cast<unsigned char>(s[q + 2]) |
        (static_cast<std::size_t>(static_cast<unsigned char>(s[q + 3])) << 8);
    const std::size_t parameterAt = q + 4;
    if (parameterAt + length > s.size()) return Parse::Incomplete;
    block.commands.push_back(
        {std::string(s.substr(q, 2)), std::string(s.substr(parameterAt, length))});
    q = parameterAt + length;
  }
}

}  // namespace

std::size_t ScanRemoteBlocks(std::string_view stream, std::size_t from,
                             std::vector<RemoteBlock>& out) {
  std::size_t at = from;
  while (at < stream.size()) {
    const void* esc = std::memchr(stream.data() + at, 0x1B, stream.size() - at);
    if (esc == nullptr) return stream.size();
    at = static_cast<std::size_t>(static_cast<const char*>(esc) - stream.data());
    RemoteBlock block;
    switch (ParseBlockAt(stream, at, block)) {
      case Parse::Incomplete:
        return at;
      case Parse::Invalid:
        ++at;
        break;
      case Parse::Complete:
        if (block.begin >= kReset.size() &&
            Expect(stream, block.begin - kReset.size(), kReset) == Parse::Complete) {
          block.begin -= kReset.size();
        }
        at = block.end;
        out.push_back(std::move(block));
        break;
    }
  }
  return at;
}

}  // namespace emu
