// Texts many tests build: a command block's bytes as a string, the device ID of
// one of the maker's printers, and the status key a port has selected.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "emulator/device_monitor.h"
#include "platform/win32.h"
#include "status_store/status_key.h"

namespace monitor_test {

template <std::size_t N>
std::string Bytes(const std::array<BYTE, N>& block) {
  return std::string(reinterpret_cast<const char*>(block.data()), N);
}

using emu::DeviceIdFor;

// The path `key` has selected, or "<none>". The caller makes sure no poller
// selects or clears it meanwhile.
inline std::string SelectedPath(const StatusKey& key) {
  return IsStatusKeySelected(key) ? std::string(key.path) : std::string("<none>");
}

}  // namespace monitor_test
