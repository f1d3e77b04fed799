// The local heap and the lstr* string functions, including their tolerance of
// null pointers and the word-sort order of the comparisons.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

#include "platform/win32.h"

namespace {

TEST(LocalHeap, ZeroInitialisedBlocksAreZeroAndFreeReturnsNull) {
  constexpr SIZE_T kSize = 4096;
  // Dirty the heap first so that a zero-filled block is not zero by luck.
  auto* dirty = static_cast<unsigned char*>(LocalAlloc(LMEM_FIXED, kSize));
  ASSERT_NE(nullptr, dirty);
  std::memset(dirty, 0xA5, kSize);
  EXPECT_EQ(nullptr, LocalFree(dirty));

  for (int round = 0; round < 8; ++round) {
    auto* block = static_cast<unsigned char*>(LocalAlloc(LMEM_ZEROINIT, kSize));
    ASSERT_NE(nullptr, block);
    for (SIZE_T i = 0; i < kSize; ++i) ASSERT_EQ(0, block[i]) << "byte " << i;
    std::memset(block, 0x5A, kSize);
    EXPECT_EQ(nullptr, LocalFree(block));
  }
}

TEST(LocalHeap, ZeroByteBlocksAreDistinctAndFreeingNullIsHarmless) {
  HLOCAL first = LocalAlloc(LPTR, 0);
  HLOCAL second = LocalAlloc(LPTR, 0);
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_NE(first, second);
  EXPECT_EQ(nullptr, LocalFree(first));
  EXPECT_EQ(nullptr, LocalFree(second));
  SetLastError(1234);
  EXPECT_EQ(nullptr, LocalFree(nullptr));
  EXPECT_EQ(1234u, GetLastError());
}

TEST(Strings, CopyConcatenateAndLength) {
  char buffer[32] = "stale contents";
  EXPECT_EQ(buffer, lstrcpyA(buffer, "KOVIR"));
  EXPECT_STREQ("KOVIR", buffer);
  EXPECT_EQ(buffer, lstrcatA(buffer, " PX-1"));
  EXPECT_STREQ("KOVIR PX-1", buffer);
  EXPECT_EQ(10, lstrlenA(buffer));
  EXPECT_EQ(0, lstrlenA(""));
  EXPECT_EQ(buffer, lstrcatA(buffer, ""));
  EXPECT_STREQ("KOVIR PX-1", buffer);
}

TEST(Strings, NullPointersAreTolerated) {
  EXPECT_EQ(0, lstrlenA(nullptr));
  char buffer[8] = "ab";
  SetLastError(0);
  EXPECT_EQ(nullptr, lstrcpyA(buffer, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_STREQ("ab", buffer);
  SetLastError(0);
  EXPECT_EQ(nullptr, lstrcpyA(nullptr, "x"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  SetLastError(0);
  EXPECT_EQ(nullptr, lstrcatA(buffer, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_STREQ("ab", buffer);
  SetLastError(0);
  EXPECT_EQ(nullptr, lstrcatA(nullptr, "x"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

struct Comparison {
  const char* first;
  const char* second;
  int exact;    // sign of lstrcmpA
  int anyCase;  // sign of lstrcmpiA
};

// Windows' word sort, not byte order: letters ignore case and accents at first
// ("a" < "B"), lower case comes before upper case only when nothing else differs,
// and hyphens and apostrophes count only when the rest is equal.
const Comparison kComparisons[] = {
    {nullptr, nullptr, 0, 0},
    {nullptr, "", -1, -1},
    {"", nullptr, 1, 1},
    {nullptr, "a", -1, -1},
    {"", "", 0, 0},
    {"KOVIR", "KOVIR", 0, 0},
    {"KOVIR", "kovir", 1, 0},
    {"kovir", "KOVIR", -1, 0},
    {"a", "B", -1, -1},
    {"a", "A", -1, 0},
    {"ab", "aB", -1, 0},
    {"aB", "Ab", -1, 0},
    {"abc", "ABD", -1, -1},
    {"a", "a ", -1, -1},
    {"a1", "a10", -1, -1},
    {"a2", "a10", 1, 1},
    {"_", "a", -1, -1},
    {"_", "A", -1, -1},
    {"Z", "a", 1, 1},
    {"9", "a", -1, -1},
    {" ", "!", -1, -1},
    {"+", "0", -1, -1},
    {"~", "+", -1, -1},
    {"a b", "ab", -1, -1},
    {"a\tb", "ab", -1, -1},
    {"co-op", "coop", 1, 1},
    {"coop", "co-op", -1, -1},
    {"it's", "its", 1, 1},
    {"a-b", "a-c", -1, -1},
    {"-ab", "a-b", 1, 1},
    {"ab-", "a-b", -1, -1},
    {"a'b", "a-b", -1, -1},
    {"Ab", "a-b", 1, -1},
    {"a-B", "Ab", -1, 1},
    {"", "-", -1, -1},
    {"PX-100", "PX-100", 0, 0},
    {"PX-100", "px-100", 1, 0},
    {"PX-100", "PX100", 1, 1},
};

std::string Show(const char* text) {
  return text == nullptr ? "(null)" : '"' + std::string(text) + '"';
}

void PrintTo(const Comparison& c, std::ostream* out) {
  *out << Show(c.first) << " vs " << Show(c.second);
}

class StringComparison : public ::testing::TestWithParam<Comparison> {};

TEST_P(StringComparison, OrdersAsWindowsDoes) {
  const Comparison& c = GetParam();
  EXPECT_EQ(c.exact, lstrcmpA(c.first, c.second)) << Show(c.first) << " vs " << Show(c.second);
  EXPECT_EQ(c.anyCase, lstrcmpiA(c.first, c.second)) << Show(c.first) << " vs " << Show(c.second);
  // Swapping the arguments swaps the sign.
  EXPECT_EQ(-c.exact, lstrcmpA(c.second, c.first));
  EXPECT_EQ(-c.anyCase, lstrcmpiA(c.second, c.first));
}

INSTANTIATE_TEST_SUITE_P(Strings, StringComparison, ::testing::ValuesIn(kComparisons));

}  // namespace
