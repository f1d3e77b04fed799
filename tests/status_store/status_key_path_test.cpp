// Which key a port has selected: the path SelectStatusKey forms, each port's key
// its own, ClearStatusKey, and names that cannot be turned into a key path.
#include <gtest/gtest.h>

#include <string>

#include "emulator/status_app.h"
#include "platform/diagnostics.h"
#include "status_store/status_key.h"
#include "tests/support/monitor_fixture.h"
#include "tests/support/printer_text.h"
#include "tests/support/store_values.h"

namespace {

namespace app = emu::status_app;

using emu::status_app::KeyPath;
using monitor_test::RunEveryOperation;
using monitor_test::SelectedPath;

// The name comes in the form of the face the suite runs through.
class StatusKeyPath : public testing::TestWithParam<monitor_test::Face> {
 protected:
  void Select(StatusKey& key, const char* printer) {
    monitor_test::SelectKey(key, printer, GetParam());
  }
};
KOVIRLM_BOTH_FACES(StatusKeyPath);

TEST_P(StatusKeyPath, NoKeyIsSelectedUntilOneIsSelected) {
  StatusKey key{};
  EXPECT_FALSE(IsStatusKeySelected(key));
}

TEST_P(StatusKeyPath, SelectedPathIsPrinterKeyFollowedByStMonitor) {
  StatusKey key{};
  Select(key, "KOVIR KP-210S");
  EXPECT_EQ(SelectedPath(key), KeyPath("KOVIR KP-210S"));
}

// Each port's key is its own: selecting or clearing one leaves the other as it
// was, and a port's latest selection replaces its earlier one.
TEST_P(StatusKeyPath, EachKeyKeepsItsOwnSelectionAndClearLeavesNone) {
  StatusKey first{}, second{};
  Select(first, "First printer");
  Select(second, "Second");
  EXPECT_EQ(SelectedPath(first), KeyPath("First printer"));
  EXPECT_EQ(SelectedPath(second), KeyPath("Second"));
  Select(first, "Renamed");
  EXPECT_EQ(SelectedPath(first), KeyPath("Renamed"));
  EXPECT_EQ(SelectedPath(second), KeyPath("Second"));
  ClearStatusKey(first);
  EXPECT_EQ(SelectedPath(first), "<none>");
  EXPECT_EQ(SelectedPath(second), KeyPath("Second"));
}

TEST_P(StatusKeyPath, LongestNameThatFitsIsKeptWhole) {
  StatusKey key{};
  std::string name(MAX_STATUS_PRINTER_NAME, 'n');
  Select(key, name.c_str());
  std::string path = SelectedPath(key);
  EXPECT_EQ(path, KeyPath(name));
  EXPECT_EQ(path.size() + 1, STATUS_KEY_BUFFER_SIZE);
}

// A name one byte too long must not be truncated into some other printer's key;
// it also replaces the key the port's earlier document selected.
TEST_P(StatusKeyPath, NameTooLongSelectsNoKey) {
  StatusKey key{};
  Select(key, "Earlier printer");
  std::string name(MAX_STATUS_PRINTER_NAME + 1, 'n');
  Select(key, name.c_str());
  EXPECT_EQ(SelectedPath(key), "<none>");

  Select(key, std::string(4000, 'x').c_str());
  EXPECT_EQ(SelectedPath(key), "<none>");
}

TEST_P(StatusKeyPath, NullNameSelectsNoKey) {
  StatusKey key{};
  Select(key, "Earlier printer");
  Select(key, nullptr);
  EXPECT_EQ(SelectedPath(key), "<none>");
}

// The printer whose key the port selected before the long name must not receive
// the long name's values, and nothing may be opened at all.
TEST_P(StatusKeyPath, NameTooLongWritesNothingAnywhere) {
  const std::string earlier = "StoreTest.TooLong.Earlier";
  app::Uninstall(earlier);
  app::Install(earlier, "KP-210S", 1);
  app::DeleteValue(earlier, VALUE_STATUS_MONITOR);
  app::DeleteValue(earlier, VALUE_POLL_ENABLED);

  StatusKey key{};
  Select(key, earlier.c_str());
  Select(key, std::string(MAX_STATUS_PRINTER_NAME + 1, 'L').c_str());
  long long opensBefore = diag::RegistryKeyOpens();
  RunEveryOperation(key);

  if (opensBefore != diag::kUnknown) {
    EXPECT_EQ(diag::RegistryKeyOpens(), opensBefore);
  }
  for (const char* value : {VALUE_LAN_MONITOR, VALUE_STATUS_STRING, VALUE_INK_LEVEL,
                            VALUE_STATUS_MONITOR, VALUE_POLL_ENABLED}) {
    EXPECT_FALSE(app::Describe(earlier, value).has_value()) << value;
  }
  app::Uninstall(earlier);
}

TEST_P(StatusKeyPath, NoKeySelectedMeansNoOperationOpensAKey) {
  StatusKey key{};
  long long opensBefore = diag::RegistryKeyOpens();
  RunEveryOperation(key);
  if (opensBefore == diag::kUnknown) GTEST_SKIP() << "key opens are counted by our layer only";
  EXPECT_EQ(diag::RegistryKeyOpens(), opensBefore);
}

}  // namespace
