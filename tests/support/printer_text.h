// Texts many tests build: a command block's bytes as a string, the device ID of
// one of the maker's printers, the status key a port has selected, and a name the
// monitor keeps in either face's form, as UTF-8.
#pragma once

#include <array>
#include <cstddef>
#include <ostream>
#include <string>

#include "emulator/device_monitor.h"
#include "emulator/wide_text.h"
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
  if (!IsStatusKeySelected(key)) return "<none>";
  return key.widePath[0] != 0 ? emu::Utf8(key.widePath) : std::string(key.path);
}

// A name as the monitor keeps it (ANSI from the Windows 95 face, UTF-16 from the
// NT face), in UTF-8; "<null>" for none.
inline std::string Text(SpoolerText text) {
  if (text.ansi != nullptr) return text.ansi;
  if (text.wide != nullptr) return emu::Utf8(text.wide);
  return "<null>";
}

}  // namespace monitor_test

inline std::ostream& operator<<(std::ostream& out, SpoolerText text) {
  return out << monitor_test::Text(text);
}
