// The values of the status key as the status monitor application sees them: what
// each operation reads and writes, the defaults written back, and what happens
// when the key or a value is missing or malformed. Every test uses a printer of
// its own and removes its key afterwards (Wine's registry outlives the process).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>

#include "emulator/status_app.h"
#include "status_store/status_key.h"
#include "tests/support/monitor_fixture.h"
#include "tests/support/store_values.h"

namespace {

namespace app = emu::status_app;

class StatusValuesFixture : public monitor_test::PrinterTest {
 protected:
  StatusValuesFixture() : PrinterTest("StoreTest ") {}
  // The application registered, every value present, and this printer's key selected.
  void InstallAndSelect(DWORD presentFlag = 1) {
    app::Install(printer_, "KP-210S", presentFlag, 1, 3000);
    monitor_test::SelectKey(key_, printer_.c_str(), face_);
  }
  void ExpectDword(const char* value, DWORD expected) {
    auto info = app::Describe(printer_, value);
    ASSERT_TRUE(info.has_value()) << value << " missing";
    EXPECT_EQ(info->type, static_cast<DWORD>(REG_DWORD)) << value;
    EXPECT_EQ(info->size, 4u) << value;
    EXPECT_EQ(app::ReadDword(printer_, value), expected) << value;
  }

  // Every operation on a key that cannot be used leaves the poll settings alone.
  void RunEveryOperationKeepingPollSettings() {
    key_.pollEnabled = 5;
    key_.pollInterval = 55;
    monitor_test::RunEveryOperation(key_);
    EXPECT_EQ(key_.pollEnabled.load(), 5u);
    EXPECT_EQ(key_.pollInterval.load(), 55u);
  }

  StatusKey key_{};
};
using StatusValues = monitor_test::BothFaces<StatusValuesFixture>;
KOVIRLM_BOTH_FACES(StatusValues);

// The four values the monitor reads as flags or settings, with the operation that
// reads each and the default it writes back when the value cannot be read.
struct FlagCase {
  const char* value;
  DWORD fallback;
  std::function<void(StatusKey&)> read;
};

const FlagCase kFlagCases[] = {
    {VALUE_POLL_ENABLED, 1,
     [](StatusKey& key) {
       key.pollEnabled = 0;
       LoadPollSettings(key);
       EXPECT_EQ(key.pollEnabled.load(), DEFAULT_POLL_ENABLED);
     }},
    {VALUE_POLL_INTERVAL, 3000,
     [](StatusKey& key) {
       key.pollInterval = 0;
       LoadPollSettings(key);
       EXPECT_EQ(key.pollInterval.load(), DEFAULT_POLL_INTERVAL_MS);
     }},
    {VALUE_STATUS_MONITOR, 0, [](StatusKey& key) { EXPECT_FALSE(IsStatusMonitorPresent(key)); }},
    {VALUE_STATUS_THREAD, 0, [](StatusKey& key) { EXPECT_FALSE(IsStatusThreadActive(key)); }},
};

TEST_P(StatusValues, MissingFlagsAreRecreatedWithTheirDefaults) {
  InstallAndSelect();
  for (const FlagCase& flag : kFlagCases) {
    SCOPED_TRACE(flag.value);
    app::DeleteValue(printer_, flag.value);
    flag.read(key_);
    ExpectDword(flag.value, flag.fallback);
  }
}

TEST_P(StatusValues, FlagsStoredWithMoreThanFourBytesAreOverwrittenWithTheirDefaults) {
  InstallAndSelect();
  for (const FlagCase& flag : kFlagCases) {
    SCOPED_TRACE(flag.value);
    app::SetRaw(printer_, flag.value, REG_DWORD, std::string(8, '\x07'));
    flag.read(key_);
    ExpectDword(flag.value, flag.fallback);
  }
}

TEST_P(StatusValues, LoadPollSettingsTakesTheStoredValuesAndLeavesThemAlone) {
  InstallAndSelect();
  app::SetDword(printer_, VALUE_POLL_ENABLED, 0);
  app::SetDword(printer_, VALUE_POLL_INTERVAL, 1234);
  key_.pollEnabled = 99;
  key_.pollInterval = 99;
  LoadPollSettings(key_);
  EXPECT_EQ(key_.pollEnabled.load(), 0u);
  EXPECT_EQ(key_.pollInterval.load(), 1234u);
  ExpectDword(VALUE_POLL_ENABLED, 0);
  ExpectDword(VALUE_POLL_INTERVAL, 1234);

  // A change by the application is seen by the next load: nothing is cached.
  app::SetDword(printer_, VALUE_POLL_INTERVAL, 250);
  LoadPollSettings(key_);
  EXPECT_EQ(key_.pollInterval.load(), 250u);
  // A shorter value is its own number, zero-extended, not merged with 3000's bytes.
  app::SetRaw(printer_, VALUE_POLL_INTERVAL, REG_DWORD, "\x64");
  LoadPollSettings(key_);
  EXPECT_EQ(key_.pollInterval.load(), 100u);
}

TEST_P(StatusValues, SetPollEnabledWritesTheFlagAndItsMirror) {
  InstallAndSelect();
  SetPollEnabled(key_, 0);
  EXPECT_EQ(key_.pollEnabled.load(), 0u);
  ExpectDword(VALUE_POLL_ENABLED, 0);
  SetPollEnabled(key_, 1);
  EXPECT_EQ(key_.pollEnabled.load(), 1u);
  ExpectDword(VALUE_POLL_ENABLED, 1);
}

TEST_P(StatusValues, StatusMonitorIsPresentUnlessItsFlagIsZeroOrSixteen) {
  InstallAndSelect();
  const struct {
    DWORD flag;
    BOOL present;
  } cases[] = {{0, FALSE}, {16, FALSE}, {1, TRUE}, {2, TRUE}, {17, TRUE}};
  for (const auto& c : cases) {
    app::SetDword(printer_, VALUE_STATUS_MONITOR, c.flag);
    EXPECT_EQ(IsStatusMonitorPresent(key_), c.present) << "StMonExistFlag = " << c.flag;
    ExpectDword(VALUE_STATUS_MONITOR, c.flag);
  }
}

TEST_P(StatusValues, StatusThreadIsActiveWhileItsFlagIsNotZero) {
  InstallAndSelect();
  const struct {
    DWORD flag;
    BOOL active;
  } cases[] = {{0, FALSE}, {1, TRUE}, {2, TRUE}, {0xFFFFFFFF, TRUE}};
  for (const auto& c : cases) {
    app::SetDword(printer_, VALUE_STATUS_THREAD, c.flag);
    EXPECT_EQ(IsStatusThreadActive(key_), c.active) << "StRealThreadExistFlag = " << c.flag;
  }
}

TEST_P(StatusValues, LanMonitorFlagIsWrittenAsOneOrZero) {
  InstallAndSelect();
  EXPECT_FALSE(app::Describe(printer_, VALUE_LAN_MONITOR).has_value());
  SetLanMonitorFlag(key_, TRUE);
  ExpectDword(VALUE_LAN_MONITOR, 1);
  SetLanMonitorFlag(key_, FALSE);
  ExpectDword(VALUE_LAN_MONITOR, 0);
  SetLanMonitorFlag(key_, 7);
  ExpectDword(VALUE_LAN_MONITOR, 1);
}

struct StringCase {
  const char* value;
  void (*store)(const StatusKey&, LPCSTR);
};
const StringCase kStringCases[] = {
    {VALUE_STATUS_STRING, StoreStatusString},
    {VALUE_INK_LEVEL, StoreInkLevel},
};

TEST_P(StatusValues, StringsAreWrittenAsRegSzWithTheirText) {
  InstallAndSelect();
  for (const StringCase& s : kStringCases) {
    SCOPED_TRACE(s.value);
    s.store(key_, "@BDC ST2\r\nIQ:K50C40");
    auto info = app::Describe(printer_, s.value);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(app::ReadString(printer_, s.value), "@BDC ST2\r\nIQ:K50C40");
    s.store(key_, "newer");
    EXPECT_EQ(app::ReadString(printer_, s.value), "newer");
  }
}

TEST_P(StatusValues, EmptyStringIsWrittenAsRegSzOfSizeZero) {
  InstallAndSelect();
  for (const StringCase& s : kStringCases) {
    SCOPED_TRACE(s.value);
    s.store(key_, nullptr);  // no text at all is stored as the empty one
    EXPECT_EQ(app::Describe(printer_, s.value).value_or(app::ValueInfo{REG_NONE, 1}).size, 0u);
    s.store(key_, "");
    auto info = app::Describe(printer_, s.value);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(info->size, 0u);
  }
}

TEST_P(StatusValues, RegisteredModelIsReadAsStored) {
  InstallAndSelect();
  char model[REGISTERED_MODEL_SIZE] = {};
  ASSERT_TRUE(ReadRegisteredModel(key_, model));
  EXPECT_STREQ(model, "KP-210S");

  // Stored without a terminator, or with a type other than REG_SZ: still the text.
  app::SetRaw(printer_, VALUE_REGISTERED_MODEL, REG_SZ, "KP-99");
  ASSERT_TRUE(ReadRegisteredModel(key_, model));
  EXPECT_STREQ(model, "KP-99");
  app::SetRaw(printer_, VALUE_REGISTERED_MODEL, REG_BINARY, "KP-7");
  ASSERT_TRUE(ReadRegisteredModel(key_, model));
  EXPECT_STREQ(model, "KP-7");
}

TEST_P(StatusValues, RegisteredModelUpToItsBufferIsRead) {
  InstallAndSelect();
  std::string longest(REGISTERED_MODEL_SIZE - 1, 'M');  // 511 bytes and the terminator
  app::SetString(printer_, VALUE_REGISTERED_MODEL, longest);
  char model[REGISTERED_MODEL_SIZE] = {};
  ASSERT_TRUE(ReadRegisteredModel(key_, model));
  EXPECT_EQ(std::string(model), longest);

  app::SetRaw(printer_, VALUE_REGISTERED_MODEL, REG_BINARY, longest);
  std::fill(std::begin(model), std::end(model), 'x');
  ASSERT_TRUE(ReadRegisteredModel(key_, model));
  EXPECT_EQ(std::string(model), longest);
}

TEST_P(StatusValues, RegisteredModelThatDoesNotFitFailsAndLeavesTheOutputAlone) {
  InstallAndSelect();
  const struct {
    const char* what;
    DWORD type;
    std::string bytes;
  } cases[] = {
      {"600-byte string", REG_SZ, std::string(600, 'M')},
      {"513 bytes with terminator", REG_SZ, std::string(512, 'M') + '\0'},
      {"512 bytes, no terminator", REG_BINARY, std::string(512, 'M')},
      {"512-byte string, no terminator", REG_SZ, std::string(512, 'M')},
  };
  for (const auto& c : cases) {
    app::SetRaw(printer_, VALUE_REGISTERED_MODEL, c.type, c.bytes);
    char model[REGISTERED_MODEL_SIZE] = "previous";
    EXPECT_FALSE(ReadRegisteredModel(key_, model)) << c.what;
    EXPECT_STREQ(model, "previous") << c.what;
  }
}

TEST_P(StatusValues, MissingRegisteredModelFails) {
  InstallAndSelect();
  app::DeleteValue(printer_, VALUE_REGISTERED_MODEL);
  char model[REGISTERED_MODEL_SIZE] = "previous";
  EXPECT_FALSE(ReadRegisteredModel(key_, model));
  EXPECT_STREQ(model, "previous");
  EXPECT_FALSE(app::Describe(printer_, VALUE_REGISTERED_MODEL).has_value());
}

// The application is not installed for this printer: no operation may create its
// key, and the readers report FALSE.
TEST_P(StatusValues, MissingKeyMakesEveryOperationDoNothing) {
  SelectStatusKey(key_, AnsiText(printer_.c_str()));
  RunEveryOperationKeepingPollSettings();
  EXPECT_FALSE(app::KeyExists(printer_));
}

// The key exists but is not selected (no document): nothing is read or written.
TEST_P(StatusValues, NoSelectedKeyLeavesTheKeyAsItIs) {
  app::Install(printer_, "KP-210S", 1, 1, 3000);
  app::DeleteValue(printer_, VALUE_STATUS_MONITOR);
  app::DeleteValue(printer_, VALUE_POLL_INTERVAL);
  RunEveryOperationKeepingPollSettings();
  ExpectDword(VALUE_POLL_ENABLED, 1);
  for (const char* value : {VALUE_STATUS_MONITOR, VALUE_POLL_INTERVAL, VALUE_LAN_MONITOR,
                            VALUE_STATUS_STRING, VALUE_INK_LEVEL}) {
    EXPECT_FALSE(app::Describe(printer_, value).has_value()) << value;
  }
}

// The path is exactly the documented one under HKEY_LOCAL_MACHINE: a value the
// monitor writes can be read there with plain registry calls.
TEST_P(StatusValues, KeyLivesAtTheDocumentedPathUnderLocalMachine) {
  InstallAndSelect();
  SetLanMonitorFlag(key_, TRUE);
  std::string path =
      "System\\CurrentControlSet\\control\\Print\\Printers\\" + printer_ + "\\StMonitor";
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD value = 0, type = 0, size = sizeof value;
  EXPECT_EQ(RegQueryValueExA(key, VALUE_LAN_MONITOR, nullptr, &type,
                             reinterpret_cast<LPBYTE>(&value), &size),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 1u);
}

}  // namespace
