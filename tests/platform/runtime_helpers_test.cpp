// The memory and string helpers that kovirlm.dll carries instead of a C runtime
// (platform/windows/runtime_helpers.cpp), compiled into this test under other
// names so that they run beside this build's C library, which serves as the
// reference: every case must leave the same bytes and give the same result.
// Odd offsets keep blocks off word alignment; windows overlap both ways.
#include <gtest/gtest.h>

#include <cstring>

#define KOVIRLM_HELPER(name) helper_##name
#include "platform/windows/runtime_helpers.cpp"

namespace {

constexpr int kSize = 64;

struct Window {
  int to, from, length;
};
constexpr Window kWindows[] = {{0, 0, 0},   {1, 6, 0},  {3, 7, 1},  {1, 2, 13},
                               {2, 1, 13},  {5, 0, 31}, {0, 5, 31}, {3, 40, 17},
                               {40, 3, 17}, {1, 1, 9},  {7, 8, 56}, {8, 7, 56}};

void Fill(unsigned char (&block)[kSize]) {
  for (int i = 0; i < kSize; ++i) block[i] = static_cast<unsigned char>(i * 37 + 11);
}

int Sign(int value) {
  return (value > 0) - (value < 0);
}

TEST(RuntimeHelpers, CopiesMatchTheCLibraryOverlappingOrNot) {
  for (const Window& w : kWindows) {
    SCOPED_TRACE(testing::Message() << "to " << w.to << ", from " << w.from << ", " << w.length);
    unsigned char mine[kSize], theirs[kSize];
    Fill(mine);
    Fill(theirs);
    EXPECT_EQ(mine + w.to, helper_memmove(mine + w.to, mine + w.from, w.length));
    std::memmove(theirs + w.to, theirs + w.from, w.length);
    EXPECT_EQ(0, std::memcmp(mine, theirs, kSize));
    if (w.to + w.length <= w.from || w.from + w.length <= w.to) {  // memcpy needs no overlap
      Fill(mine);
      Fill(theirs);
      EXPECT_EQ(mine + w.to, helper_memcpy(mine + w.to, mine + w.from, w.length));
      std::memcpy(theirs + w.to, theirs + w.from, w.length);
      EXPECT_EQ(0, std::memcmp(mine, theirs, kSize));
    }
    Fill(mine);
    Fill(theirs);
    const int value = 0x100 + w.from;  // only the low byte is stored
    EXPECT_EQ(mine + w.to, helper_memset(mine + w.to, value, w.length));
    std::memset(theirs + w.to, value, w.length);
    EXPECT_EQ(0, std::memcmp(mine, theirs, kSize));
  }
}

TEST(RuntimeHelpers, ComparesAndSearchesMatchTheCLibrary) {
  for (const Window& w : kWindows) {
    SCOPED_TRACE(testing::Message() << "at " << w.to << " and " << w.from << ", " << w.length);
    unsigned char block[kSize];
    Fill(block);
    EXPECT_EQ(Sign(std::memcmp(block + w.to, block + w.from, w.length)),
              Sign(helper_memcmp(block + w.to, block + w.from, w.length)));
    // Equal up to the last byte, which differs above and below 0x80 (unsigned order).
    unsigned char other[kSize];
    std::memcpy(other, block, kSize);
    if (w.length > 0) other[w.to + w.length - 1] ^= 0x80;
    EXPECT_EQ(Sign(std::memcmp(block + w.to, other + w.to, w.length)),
              Sign(helper_memcmp(block + w.to, other + w.to, w.length)));
    EXPECT_EQ(Sign(std::memcmp(other + w.to, block + w.to, w.length)),
              Sign(helper_memcmp(other + w.to, block + w.to, w.length)));
    // A byte of the block (passed as an int above 255), and one Fill never writes
    // (it would write it at kSize; 37 is odd, so no two offsets share a byte).
    const int wanted = 0x100 | block[w.from];
    const int absent = 0x100 | ((kSize * 37 + 11) & 0xFF);
    EXPECT_EQ(std::memchr(block + w.to, wanted, w.length),
              helper_memchr(block + w.to, wanted, w.length));
    EXPECT_EQ(nullptr, helper_memchr(block, absent, kSize));
  }
}

TEST(RuntimeHelpers, StringLengthMatchesTheCLibraryAtEveryOffset) {
  const char text[] = "MFG:KOVIR;MDL:KP-210S;";
  for (std::size_t at = 0; at < sizeof text; ++at) {
    EXPECT_EQ(std::strlen(text + at), helper_strlen(text + at)) << "at " << at;
  }
}

}  // namespace
