// Which of the status store's values stand in a registry key: for tests that check
// the monitor wrote nothing outside the current printer's key.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"
#include "status_store/status_key.h"

namespace monitor_test {

constexpr const char* kPrintersKey = "System\\CurrentControlSet\\control\\Print\\Printers";

// Every value name the store reads or writes.
constexpr const char* kStoreValues[] = {
    VALUE_POLL_ENABLED, VALUE_POLL_INTERVAL, VALUE_STATUS_MONITOR, VALUE_STATUS_THREAD,
    VALUE_LAN_MONITOR,  VALUE_STATUS_STRING, VALUE_INK_LEVEL,      VALUE_REGISTERED_MODEL,
};

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

}  // namespace monitor_test
