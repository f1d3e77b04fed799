// What RegQueryValueExA hands back for what RegSetValueExA stored: sizes, buffer
// contents and result codes, including the corners where the ANSI calls add or
// keep a string terminator. Each row is stored, then read into a buffer filled
// with '~' so that untouched bytes show.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

#include "tests/platform/test_key.h"

namespace {

// The bytes handed to RegSetValueExA; the caller's buffer is `stored` with its
// literal's terminator, so `storedSize` may stop short of or before it.
struct ValueCase {
  const char* label;
  DWORD type;
  std::string stored;
  DWORD storedSize;
  DWORD bufferSize;
  bool sizeOnly;  // query with a null data pointer
  LSTATUS expectedStatus;
  DWORD expectedSize;
  std::string expectedBuffer;  // the first bytes of the buffer afterwards
};

void PrintTo(const ValueCase& c, std::ostream* out) {
  *out << c.label;
}

const std::string kTerminated("abc\0", 4);

const ValueCase kCases[] = {
    {"SzWithTerminator", REG_SZ, kTerminated, 4, 16, false, ERROR_SUCCESS, 4,
     std::string("abc\0~", 5)},
    // Counted without the terminator while one follows in memory: Windows stores it.
    {"SzCountedWithoutTerminatorReadsBackWithIt", REG_SZ, "abc", 3, 16, false, ERROR_SUCCESS, 4,
     std::string("abc\0~", 5)},
    {"SzCountedWithoutTerminatorNeedsFourBytes", REG_SZ, "abc", 3, 3, false, ERROR_MORE_DATA, 4,
     "~~~~"},
    // No terminator in memory: three bytes stored, one appended when there is room.
    {"SzCutShortGetsTerminatorInLargerBuffer", REG_SZ, "abcX", 3, 16, false, ERROR_SUCCESS, 3,
     std::string("abc\0~", 5)},
    {"SzCutShortFillsExactBufferWithoutTerminator", REG_SZ, "abcX", 3, 3, false, ERROR_SUCCESS, 3,
     "abc~"},
    {"SzCutShortTooSmallBuffer", REG_SZ, "abcX", 3, 2, false, ERROR_MORE_DATA, 3, "~~~"},
    {"EmptyStringOfSizeZeroLeavesBufferUntouched", REG_SZ, "", 0, 4, false, ERROR_SUCCESS, 0,
     "~~~~"},
    {"SzIntoZeroBuffer", REG_SZ, "hello", 6, 0, false, ERROR_MORE_DATA, 6, "~"},
    {"SzExactFit", REG_SZ, "hello", 6, 6, false, ERROR_SUCCESS, 6, std::string("hello\0~", 7)},
    {"ExpandSzCountedWithoutTerminator", REG_EXPAND_SZ, "x", 1, 16, false, ERROR_SUCCESS, 2,
     std::string("x\0~", 3)},
    {"MultiSzKeepsItsOwnTerminators", REG_MULTI_SZ, std::string("ab\0cd\0", 6), 7, 16, false,
     ERROR_SUCCESS, 7, std::string("ab\0cd\0\0~", 8)},
    {"DwordOfFourBytes", REG_DWORD, std::string("\x2a\0\0\0", 4), 4, 4, false, ERROR_SUCCESS, 4,
     std::string("\x2a\0\0\0~", 5)},
    {"DwordStoredWithEightBytesOverflowsFourByteBuffer", REG_DWORD,
     std::string("\x01\0\0\0\x02\0\0\0", 8), 8, 4, false, ERROR_MORE_DATA, 8, "~~~~~"},
    {"DwordOfThreeBytesIsAccepted", REG_DWORD, std::string("\x01\x02\x03", 3), 3, 4, false,
     ERROR_SUCCESS, 3, "\x01\x02\x03~"},
    {"DwordIntoZeroBuffer", REG_DWORD, std::string("\x05\0\0\0", 4), 4, 0, false, ERROR_MORE_DATA,
     4, "~"},
    {"BinaryTooSmallBufferIsUntouched", REG_BINARY, "\x01\x02\x03\x04\x05", 5, 2, false,
     ERROR_MORE_DATA, 5, "~~~"},
    {"NullDataPointerReportsSize", REG_BINARY, "\x01\x02\x03\x04\x05", 5, 99, true, ERROR_SUCCESS,
     5, "~"},
    {"NullDataPointerReportsStringSizeWithAddedTerminator", REG_SZ, "abc", 3, 99, true,
     ERROR_SUCCESS, 4, "~"},
};

class StoredValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(StoredValue, ReadsBackAsWindowsDoes) {
  const ValueCase& c = GetParam();
  TestKey key;
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key.key, "Value", 0, c.type,
                           reinterpret_cast<const BYTE*>(c.stored.data()), c.storedSize));
  BYTE buffer[32];
  std::memset(buffer, '~', sizeof(buffer));
  DWORD type = 0xDEAD;
  DWORD size = c.bufferSize;
  EXPECT_EQ(c.expectedStatus, RegQueryValueExA(key.key, "Value", nullptr, &type,
                                               c.sizeOnly ? nullptr : buffer, &size));
  EXPECT_EQ(c.type, type);
  EXPECT_EQ(c.expectedSize, size);
  EXPECT_EQ(c.expectedBuffer,
            std::string(reinterpret_cast<const char*>(buffer), c.expectedBuffer.size()));
}

INSTANTIATE_TEST_SUITE_P(Registry, StoredValue, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ValueCase>& info) {
                           return std::string(info.param.label);
                         });

TEST(RegistryValue, MissingValueIsFileNotFoundAndLeavesBufferAlone) {
  TestKey key;
  BYTE buffer[4] = {9, 9, 9, 9};
  DWORD size = sizeof(buffer);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegQueryValueExA(key.key, "NoSuchValue", nullptr, nullptr, buffer, &size));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(9, buffer[0]);
}

TEST(RegistryValue, NamesIgnoreCaseAndRewritingReplacesTypeAndData) {
  TestKey key;
  const char text[] = "AbC";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.key, "CaseName", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(text), sizeof(text)));
  char read[8] = {};
  DWORD size = sizeof(read);
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.key, "casename", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(read), &size));
  EXPECT_STREQ("AbC", read);

  const DWORD number = 7;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.key, "CASENAME", 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&number), sizeof(number)));
  DWORD type = 0, value = 0;
  size = sizeof(value);
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.key, "CaseName", nullptr, &type,
                                            reinterpret_cast<BYTE*>(&value), &size));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(7u, value);
}

TEST(RegistryValue, NullAndEmptyNamesBothMeanTheDefaultValue) {
  TestKey key;
  const char text[] = "xyz";
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key.key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 4));
  char read[8] = {};
  DWORD size = sizeof(read);
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.key, nullptr, nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(read), &size));
  EXPECT_STREQ("xyz", read);
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key.key, nullptr));
  size = sizeof(read);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegQueryValueExA(key.key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(read), &size));
}

TEST(RegistryValue, DeleteRemovesOnlyThatValue) {
  TestKey key;
  const DWORD one = 1, two = 2;
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key.key, "One", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4));
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key.key, "Two", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key.key, "ONE"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key.key, "One"));
  DWORD value = 0, size = 4;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key.key, "One", nullptr, nullptr,
                                                   reinterpret_cast<BYTE*>(&value), &size));
  size = 4;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.key, "Two", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(&value), &size));
  EXPECT_EQ(2u, value);
}

TEST(RegistryValue, ArgumentChecks) {
  TestKey key;
  BYTE buffer[4];
  DWORD reserved = 0, size = sizeof(buffer);
  // A data buffer without a size, and a non-null reserved pointer, are refused.
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegQueryValueExA(key.key, "Value", nullptr, nullptr, buffer, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegQueryValueExA(key.key, "Value", &reserved, nullptr, buffer, &size));
  // Data promised but not given.
  EXPECT_EQ(ERROR_NOACCESS, RegSetValueExA(key.key, "Value", 0, REG_BINARY, nullptr, 4));
  // No data at all is an empty value.
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key.key, "Value", 0, REG_BINARY, nullptr, 0));
  size = sizeof(buffer);
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.key, "Value", nullptr, nullptr, buffer, &size));
  EXPECT_EQ(0u, size);
}

}  // namespace
