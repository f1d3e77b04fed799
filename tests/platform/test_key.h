// A registry key of its own for one test: HKLM\Software\kovirlm-tests\platform\<test>.
//
// Under Wine every test of the executable shares one registry that outlives the
// run, so the key is cleared before use (a crashed earlier run may have left it)
// and deleted afterwards. Our layer has no key enumeration, so a test names the
// subkeys it creates, parents before children.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/win32.h"

struct TestKey {
  std::string path;
  std::vector<std::string> subkeys;
  HKEY key = nullptr;

  explicit TestKey(std::vector<std::string> declaredSubkeys = {})
      : subkeys(std::move(declaredSubkeys)) {
    path = std::string("Software\\kovirlm-tests\\platform\\") +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    Clear();
    DWORD disposition = 0;
    EXPECT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
  }

  ~TestKey() {
    if (key != nullptr) RegCloseKey(key);
    Clear();
    HKEY probe = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &probe))
        << "test key left behind";
  }

  TestKey(const TestKey&) = delete;
  TestKey& operator=(const TestKey&) = delete;

  std::string Sub(const std::string& name) const { return path + "\\" + name; }

  void Clear() const {
    for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it) {
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, Sub(*it).c_str());
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
  }
};
