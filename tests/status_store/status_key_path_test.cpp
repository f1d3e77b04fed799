// Which key is current: the path SelectStatusKey forms, the latest selection
// deciding, ClearStatusKey, and names that cannot be turned into a key path.
#include <gtest/gtest.h>

#include <string>

#include "emulator/status_app.h"
#include "platform/diagnostics.h"
#include "status_store/status_key.h"

namespace {

namespace app = emu::status_app;

std::string CurrentPath() {
  char path[STATUS_KEY_BUFFER_SIZE];
  return CopyStatusKeyPath(path) ? std::string(path) : std::string("<none>");
}

std::string ExpectedPath(const std::string& printer) {
  return "System\\CurrentControlSet\\control\\Print\\Printers\\" + printer + "\\StMonitor";
}

// Every operation of the store, run once; what each writes when a key is current
// is checked by the value tests.
void RunEveryOperation() {
  char model[REGISTERED_MODEL_SIZE] = "untouched";
  LoadPollSettings();
  SetPollEnabled(0);
  EXPECT_FALSE(IsStatusMonitorPresent());
  EXPECT_FALSE(IsStatusThreadActive());
  SetLanMonitorFlag(TRUE);
  StoreStatusString("status");
  StoreInkLevel("ink");
  EXPECT_FALSE(ReadRegisteredModel(model));
  EXPECT_STREQ(model, "untouched");
}

class StatusKeyPath : public ::testing::Test {
 protected:
  void SetUp() override { ClearStatusKey(); }
  void TearDown() override { ClearStatusKey(); }
};

TEST_F(StatusKeyPath, NoKeyIsCurrentUntilOneIsSelected) {
  char path[STATUS_KEY_BUFFER_SIZE] = "stale";
  EXPECT_FALSE(CopyStatusKeyPath(path));
  EXPECT_STREQ(path, "");
}

TEST_F(StatusKeyPath, SelectedPathIsPrinterKeyFollowedByStMonitor) {
  SelectStatusKey("KOVIR KP-210S");
  EXPECT_EQ(CurrentPath(), ExpectedPath("KOVIR KP-210S"));
}

TEST_F(StatusKeyPath, LatestSelectionDecidesAndClearLeavesNone) {
  SelectStatusKey("First printer");
  SelectStatusKey("Second");
  EXPECT_EQ(CurrentPath(), ExpectedPath("Second"));
  ClearStatusKey();
  EXPECT_EQ(CurrentPath(), "<none>");
}

TEST_F(StatusKeyPath, LongestNameThatFitsIsKeptWhole) {
  std::string name(MAX_STATUS_PRINTER_NAME, 'n');
  SelectStatusKey(name.c_str());
  std::string path = CurrentPath();
  EXPECT_EQ(path, ExpectedPath(name));
  EXPECT_EQ(path.size() + 1, STATUS_KEY_BUFFER_SIZE);
}

// A name one byte too long must not be truncated into some other printer's key;
// it also replaces the key an earlier document made current.
TEST_F(StatusKeyPath, NameTooLongMakesNoKeyCurrent) {
  SelectStatusKey("Earlier printer");
  std::string name(MAX_STATUS_PRINTER_NAME + 1, 'n');
  SelectStatusKey(name.c_str());
  EXPECT_EQ(CurrentPath(), "<none>");

  SelectStatusKey(std::string(4000, 'x').c_str());
  EXPECT_EQ(CurrentPath(), "<none>");
}

TEST_F(StatusKeyPath, NullNameMakesNoKeyCurrent) {
  SelectStatusKey("Earlier printer");
  SelectStatusKey(nullptr);
  EXPECT_EQ(CurrentPath(), "<none>");
}

// The printer whose key was current before the long name must not receive the
// long name's values, and nothing may be opened at all.
TEST_F(StatusKeyPath, NameTooLongWritesNothingAnywhere) {
  const std::string earlier = "StoreTest.TooLong.Earlier";
  app::Uninstall(earlier);
  app::Install(earlier, "KP-210S", 1);
  app::DeleteValue(earlier, VALUE_STATUS_MONITOR);
  app::DeleteValue(earlier, VALUE_POLL_ENABLED);

  SelectStatusKey(earlier.c_str());
  SelectStatusKey(std::string(MAX_STATUS_PRINTER_NAME + 1, 'L').c_str());
  long long opensBefore = diag::RegistryKeyOpens();
  RunEveryOperation();

  if (opensBefore != diag::kUnknown) {
    EXPECT_EQ(diag::RegistryKeyOpens(), opensBefore);
  }
  for (const char* value : {VALUE_LAN_MONITOR, VALUE_STATUS_STRING, VALUE_INK_LEVEL,
                            VALUE_STATUS_MONITOR, VALUE_POLL_ENABLED}) {
    EXPECT_FALSE(app::Describe(earlier, value).has_value()) << value;
  }
  app::Uninstall(earlier);
}

TEST_F(StatusKeyPath, NoKeyCurrentMeansNoOperationOpensAKey) {
  long long opensBefore = diag::RegistryKeyOpens();
  RunEveryOperation();
  if (opensBefore == diag::kUnknown) GTEST_SKIP() << "key opens are counted by our layer only";
  EXPECT_EQ(diag::RegistryKeyOpens(), opensBefore);
}

}  // namespace
