// The remote-mode blocks as they go on the wire, the choice of status command for
// a registered model, and the two operations on the printer's replies.
#include "printer_status/remote_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/exact_block.h"

namespace {

using monitor_test::ExactBlock;

using Bytes = std::vector<BYTE>;

// One row of a block's layout table: the bytes expected from `offset` on.
struct Row {
  std::size_t offset;
  Bytes bytes;
  const char* meaning;
};

// Checks `block` against its layout table, row by row, and that the rows cover
// every byte exactly once.
template <std::size_t N>
void ExpectLayout(const std::array<BYTE, N>& block, const std::vector<Row>& rows) {
  std::size_t next = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.meaning);
    ASSERT_EQ(row.offset, next) << "layout rows must be contiguous";
    ASSERT_LE(row.offset + row.bytes.size(), N);
    EXPECT_EQ(Bytes(block.begin() + row.offset, block.begin() + row.offset + row.bytes.size()),
              row.bytes);
    next = row.offset + row.bytes.size();
  }
  EXPECT_EQ(next, N) << "layout rows must cover the whole block";
}

std::vector<Row> StatusLayout(BYTE stParameter) {
  return {
      {0, {0x1B, 0x40, 0x1B, 0x40}, "ESC @, twice"},
      {4, {0x1B, 0x28, 0x52}, "ESC ( R"},
      {7, {0x08, 0x00}, "length 8"},
      {9, {0x00, 0x52, 0x45, 0x4D, 0x4F, 0x54, 0x45, 0x31}, "00, REMOTE1"},
      {17, {0x53, 0x54}, "command ST"},
      {19, {0x02, 0x00}, "parameter length 2"},
      {21, {0x00, stParameter}, "ST parameter"},
      {23, {0x41, 0x50}, "command AP"},
      {25, {0x02, 0x00}, "parameter length 2"},
      {27, {0x00, 0x00}, "AP parameter"},
      {29, {0x1B, 0x00, 0x00, 0x00}, "terminator"},
  };
}

// The lengths are part of the types: a block cannot be sent with a length
// recomputed from its (zero-filled) bytes.
static_assert(std::tuple_size_v<decltype(StatusCommandA)> == 33);
static_assert(std::tuple_size_v<decltype(StatusCommandB)> == 33);
static_assert(std::tuple_size_v<decltype(InkQueryCommand)> == 22);
static_assert(StatusCommandA[0] == 0x1B && InkQueryCommand[21] == 0x00, "usable as constants");

// The two differ only in the ST parameter.
TEST(RemoteCommandBlocks, StatusCommandsAAndBMatchTheirLayoutsByteForByte) {
  ExpectLayout(StatusCommandA, StatusLayout(0x01));
  ExpectLayout(StatusCommandB, StatusLayout(0x03));
}

TEST(RemoteCommandBlocks, InkQueryMatchesItsLayoutByteForByte) {
  ExpectLayout(InkQueryCommand,
               {
                   {0, {0x1B, 0x28, 0x52}, "ESC ( R"},
                   {3, {0x08, 0x00}, "length 8"},
                   {5, {0x00, 0x52, 0x45, 0x4D, 0x4F, 0x54, 0x45, 0x31}, "00, REMOTE1"},
                   {13, {0x49, 0x51}, "command IQ"},
                   {15, {0x01, 0x00}, "parameter length 1"},
                   {17, {0x01}, "parameter"},
                   {18, {0x1B, 0x00, 0x00, 0x00}, "terminator"},
               });
}

// What a printer's command parser sees: after the optional resets, a header with
// its counted keyword, commands whose counted parameters end exactly where the
// next command or the terminator begins.
template <std::size_t N>
std::vector<std::string> WalkRemoteBlock(const std::array<BYTE, N>& sent) {
  const Bytes block(sent.begin(), sent.end());
  std::size_t at = 0;
  while (at + 1 < block.size() && block[at] == 0x1B && block[at + 1] == 0x40) at += 2;
  EXPECT_EQ(Bytes(block.begin() + at, block.begin() + at + 3), (Bytes{0x1B, 0x28, 0x52}));
  at += 3;
  const std::size_t keywordLength = block[at] | block[at + 1] << 8;
  at += 2 + keywordLength;
  std::vector<std::string> commands;
  while (at < block.size() && block[at] != 0x1B) {
    commands.emplace_back(reinterpret_cast<const char*>(&block[at]), 2);
    at += 4 + (block[at + 2] | block[at + 3] << 8);
  }
  EXPECT_EQ(Bytes(block.begin() + std::min(at, block.size()), block.end()),
            (Bytes{0x1B, 0x00, 0x00, 0x00}));
  return commands;
}

TEST(RemoteCommandBlocks, EveryBlockParsesAsOneRemoteModeBlock) {
  EXPECT_EQ(WalkRemoteBlock(StatusCommandA), (std::vector<std::string>{"ST", "AP"}));
  EXPECT_EQ(WalkRemoteBlock(StatusCommandB), (std::vector<std::string>{"ST", "AP"}));
  EXPECT_EQ(WalkRemoteBlock(InkQueryCommand), (std::vector<std::string>{"IQ"}));
}

// ---------------------------------------------------------------------------

struct ModelCase {
  const char* model;
  bool expectB;
};

TEST(ChooseStatusCommand, PicksTheBlockByModelPrefix) {
  const ModelCase cases[] = {
      {"KP-6600SU", true}, {"KP-6600S", true},   {"KP-6600S-II", true}, {"KP-6600SUX", true},
      {"DL-9240", true},   {"DL-9240N", true},   {"KP-210S", false},    {"", false},
      {"KP-6600", false},  {"KP-6600U", false},  {"kp-6600s", false},   {"DL-924", false},
      {"DL-9241", false},  {" KP-6600S", false}, {"XKP-6600SU", false}, {"KP-6600s", false},
  };
  for (const ModelCase& c : cases) {
    SCOPED_TRACE(c.model);
    const StatusCommand& chosen = ChooseStatusCommand(c.model);
    EXPECT_EQ(&chosen, c.expectB ? &StatusCommandB : &StatusCommandA);
    EXPECT_EQ(chosen[22], c.expectB ? 0x03 : 0x01);
  }
}

TEST(ChooseStatusCommand, NullModelGetsStatusCommandA) {
  EXPECT_EQ(&ChooseStatusCommand(nullptr), &StatusCommandA);
}

TEST(ChooseStatusCommand, ShortModelIsNotReadPastItsTerminator) {
  // A heap block exactly as long as the string: reading on would be caught.
  for (const std::string model : {"K", "KP-6600", "DL"}) {
    EXPECT_EQ(&ChooseStatusCommand(ExactBlock(model + '\0').get()), &StatusCommandA) << model;
  }
}

// ---------------------------------------------------------------------------

struct SearchCase {
  std::string pattern;
  std::string reply;  // replyLength is its size unless `length` is given
  long length;
  bool expected;
  const char* why;
};

TEST(ReplyContains, FindsPatternBytesWithinTheCountedReply) {
  using namespace std::string_literals;
  const SearchCase cases[] = {
      {"IQ:", "xxIQ:yy", -1, true, "marker in the middle"},
      {"IQ:", "IQ:", -1, true, "reply is exactly the marker"},
      {"IQ:", "abcIQ:", -1, true, "marker at the last offset"},
      {"IQ:", "IQ", -1, false, "reply shorter than the pattern"},
      {"IQ:", "\0IQ:ab"s, -1, false, "reply starting with NUL"},
      {"IQ:", "ab\0IQ:"s, -1, true, "embedded NUL before the marker"},
      {"IQ:", "IQ\0:"s, -1, false, "NUL inside would-be marker"},
      {"IQ:", "abIQ:", 4, false, "marker only partly within replyLength"},
      {"IQ:", "iq:", -1, false, "case-sensitive"},
      {"IQ:", "IQ;IQ", -1, false, "no marker"},
      {"Q\0R"s, "xQ\0R"s, -1, true, "NUL in the pattern compares like any byte"},
      {"Q\0R"s, "xQ\0S"s, -1, false, "NUL in the pattern, different next byte"},
      {"IQ:", "IQ:", 0, false, "empty reply"},
      {"", "a", -1, true, "empty pattern in a non-empty reply"},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.why);
    const DWORD length = c.length < 0 ? static_cast<DWORD>(c.reply.size()) : c.length;
    // Exactly the counted bytes on the heap, so a read beyond them is caught.
    auto reply = ExactBlock(c.reply.substr(0, length));
    EXPECT_EQ(
        ReplyContains(c.pattern.data(), static_cast<DWORD>(c.pattern.size()), reply.get(), length),
        c.expected ? TRUE : FALSE);
  }
  // No reply, or a pattern of bytes that are not there, is found nowhere; no
  // pattern at all is found at once, like the empty one.
  EXPECT_FALSE(ReplyContains("IQ:", 3, nullptr, 5));
  EXPECT_FALSE(ReplyContains(nullptr, 3, "xxIQ:", 5));
  EXPECT_TRUE(ReplyContains(nullptr, 0, "xxIQ:", 5));
}

// ---------------------------------------------------------------------------

struct StripCase {
  std::string data;      // `length` is its size
  std::string expected;  // the resulting string, up to its terminator
  const char* why;
};

// Runs StripInkLengthBytes on a buffer of exactly the data plus the caller's
// terminator, and returns the resulting string. The terminator behind the data
// must be left alone.
std::string Strip(const std::string& data) {
  auto buffer = ExactBlock(data + '\0');
  StripInkLengthBytes(buffer.get(), static_cast<DWORD>(data.size()));
  EXPECT_EQ(buffer[data.size()], '\0');
  return std::string(buffer.get());
}

TEST(StripInkLengthBytes, RemovesTheTwoBytesBehindEachMarker) {
  using namespace std::string_literals;
  const StripCase cases[] = {
      {"IQ:xy50", "IQ:50", "one marker: the two bytes after it go"},
      {"IQ:ab12IQ:cd34", "IQ:12IQ:34", "two markers, two characters after each"},
      {"IQ:\x00\x02xyIQ:\x00\x01z"s,
       "IQ:xyIQ:", "raw removal, then the reply ends at its first NUL"},
      {"IQ::xIIQ:Q", "IQ:IIQ:Q", "a later marker followed by one character keeps it"},
      {"abcIQ:", "abcIQ:", "marker as the last three bytes"},
      {"abIQ:z", "abIQ:", "one byte after the first marker: removed"},
      {"IQ:00IQ:ab", "IQ:IQ:", "later marker followed by exactly two characters"},
      {"IQ:00IQ:", "IQ:IQ:", "later marker at the end of the string"},
      {"status 0123", "status 0123", "no marker: unchanged"},
      {"IQ", "IQ", "shorter than a marker"},
      {"", "", "empty"},
      {"iq:xy", "iq:xy", "marker is case-sensitive"},
      {"\0\0IQ:ab"s, "", "first marker found in raw bytes behind NULs"},
      {"ab\0IQ:xy"s, "ab", "first marker behind an embedded NUL"},
      {"IQ:\0\0x\0IQ:ab"s, "IQ:x", "a marker behind the string's end plays no part"},
      {"IQ:\0\0"s, "IQ:", "length bytes that are both zero"},
      {"IQ:12IQ:34IQ:56IQ:78", "IQ:IQ:IQ:IQ:", "every marker loses its two bytes"},
  };
  for (const StripCase& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(Strip(c.data), c.expected);
  }
  // Only replies of 22 and 38 bytes keep theirs; their neighbours are stripped.
  for (const std::size_t size : {21u, 23u, 37u, 39u}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(Strip("IQ:12" + std::string(size - 5, 'a')), "IQ:" + std::string(size - 5, 'a'));
  }
}

TEST(StripInkLengthBytes, RepliesOf22And38BytesKeepTheirLengthBytes) {
  StripInkLengthBytes(nullptr, 30);  // no reply: nothing to strip, nothing touched

  for (const std::size_t size : {22u, 38u}) {
    SCOPED_TRACE(size);
    std::string data = "IQ:12" + std::string(size - 5, 'a');
    data[10] = '\0';  // even bytes after a NUL stay where they are
    auto buffer = ExactBlock(data + '\0');
    StripInkLengthBytes(buffer.get(), static_cast<DWORD>(size));
    EXPECT_EQ(std::string(buffer.get(), size), data);
  }
}

TEST(StripInkLengthBytes, StaysWithinTheGivenLength) {
  // No terminator behind the data, so any access beyond it is caught. Removals
  // leave the terminator inside the data.
  const std::string data = "xyzIQ:12abcdefIQ:34ghij";
  auto exact = ExactBlock(data);
  StripInkLengthBytes(exact.get(), static_cast<DWORD>(data.size()));
  EXPECT_EQ(std::string(exact.get()), "xyzIQ:abcdefIQ:ghij");

  // Nothing removed and no NUL: the data is left exactly as it was.
  const std::string plain = "abcdefIQ:";
  auto exactPlain = ExactBlock(plain);
  StripInkLengthBytes(exactPlain.get(), static_cast<DWORD>(plain.size()));
  EXPECT_EQ(std::string(exactPlain.get(), plain.size()), plain);
}

}  // namespace
