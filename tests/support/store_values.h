// Which of the status store's values stand in a registry key: for tests that check
// the monitor wrote nothing outside the printers' own keys.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "emulator/status_app.h"
#include "platform/win32.h"
#include "status_store/status_key.h"

namespace monitor_test {

constexpr const char* kPrintersKey = "System\\CurrentControlSet\\control\\Print\\Printers";

// Every value name the store reads or writes.
constexpr const char* kStoreValues[] = {
    VALUE_POLL_ENABLED, VALUE_POLL_INTERVAL, VALUE_STATUS_MONITOR, VALUE_STATUS_THREAD,
    VALUE_LAN_MONITOR,  VALUE_STATUS_STRING, VALUE_INK_LEVEL,      VALUE_REGISTERED_MODEL,
};

// The printer's LanMonExistFlag as the status application reads it.
inline std::optional<DWORD> LanFlag(const std::string& printer) {
  return emu::status_app::ReadDword(printer, VALUE_LAN_MONITOR);
}

// The store values found in the key at `path` (relative to HKEY_LOCAL_MACHINE).
inline std::vector<std::string> StoreValuesIn(const std::string& path) {
  std::vector<std::string> found;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return found;
  }
  for (const char* value : kStoreValues) {
    DWORD size = 0;
    if (RegQueryValueExA(key, value, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
      found.push_back(value);
    }
  }
  RegCloseKey(key);
  return found;
}

// Asserts that the monitor wrote nothing outside the two printers' own StMonitor
// keys: not in the Printers key, not in either printer's key above StMonitor, and
// nothing of its own in a bystander printer's StMonitor key.
inline void ExpectStoreValuesOnlyInOwnKeys(const std::string& first, const std::string& second,
                                           const std::string& bystander) {
  const std::string printers = std::string(kPrintersKey) + "\\";
  for (const std::string& path :
       {std::string(kPrintersKey), printers + first, printers + second, printers + bystander}) {
    EXPECT_EQ(StoreValuesIn(path), std::vector<std::string>{}) << path;
  }
  for (const char* value : {VALUE_STATUS_MONITOR, VALUE_STATUS_THREAD, VALUE_LAN_MONITOR,
                            VALUE_STATUS_STRING, VALUE_INK_LEVEL}) {
    EXPECT_FALSE(emu::status_app::Describe(bystander, value).has_value()) << value;
  }
}

// Every operation of the store, run once on `key`, for tests of a key that cannot
// be used (none selected, or missing): the readers report FALSE and the model
// buffer stays as it was. What each writes to a usable key is checked elsewhere.
inline void RunEveryOperation(StatusKey& key) {
  char model[REGISTERED_MODEL_SIZE] = "untouched";
  LoadPollSettings(key);
  SetPollEnabled(key, 0);
  EXPECT_FALSE(IsStatusMonitorPresent(key));
  EXPECT_FALSE(IsStatusThreadActive(key));
  SetLanMonitorFlag(key, TRUE);
  StoreStatusString(key, "status");
  StoreInkLevel(key, "ink");
  EXPECT_FALSE(ReadRegisteredModel(key, model));
  EXPECT_STREQ(model, "untouched");
}

}  // namespace monitor_test
