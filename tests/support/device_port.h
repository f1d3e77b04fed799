// Writes and reads straight on a port of the emulated device monitor, below the
// language monitor: for the tests of the emulator itself.
#pragma once

#include <string>

#include "emulator/device_monitor.h"

namespace monitor_test {

inline BOOL DeviceWrite(HANDLE port, const std::string& bytes, DWORD* written) {
  return emu::DeviceMonitor()->pfnWritePort(
      port, reinterpret_cast<LPBYTE>(const_cast<char*>(bytes.data())),
      static_cast<DWORD>(bytes.size()), written);
}

// What one read of up to `size` bytes returned; `result`, if given, gets the
// call's own result. The buffer and the count start as garbage, so a read that
// claims more than it filled shows.
inline std::string DeviceRead(HANDLE port, DWORD size, BOOL* result = nullptr) {
  std::string buffer(size, '\xEE');
  DWORD got = 12345;
  const BOOL ok =
      emu::DeviceMonitor()->pfnReadPort(port, reinterpret_cast<LPBYTE>(buffer.data()), size, &got);
  if (result != nullptr) *result = ok;
  buffer.resize(got);
  return buffer;
}

}  // namespace monitor_test
