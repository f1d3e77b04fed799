// The benchmarks' printers: the test rig's device monitor, its printers in
// compact mode (a count and a digest of what they receive, no bytes kept), each
// with a status to give on every read (an update falls due every millisecond). A
// hook on the rig's call log notes when each read reaches a printer; the log
// itself is off, so millions of writes leave nothing behind.
//
// The rig serialises each port's calls under the port's own lock and digests every
// byte, so every figure includes its cost: equal on both paths of a ratio, and
// part of the CPU time the scale probe counts.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/device_monitor.h"
#include "port/monitor_table.h"

namespace bench {

// The rig's device monitor: the Windows 95 table, and the same port monitor
// through the NT family's MONITOR2, whose pfnOpenPort wants kSinkInstance as the
// port monitor's instance handle. Both reach the same printers.
MONITOR* SinkMonitor();
MONITOR2* SinkMonitor2();
inline const HANDLE kSinkInstance = emu::kPortMonitorInstance;

// Makes a printer with this device ID available on `portName`; reattaching a
// name replaces the printer.
void AttachSink(const std::string& portName, const std::string& deviceId);

// What the port's printer received since its last StartSinkDocument: the bytes
// and their digest (emu::Digest from emu::kDigestStart over them).
struct SinkTotals {
  std::uint64_t bytes = 0;
  std::uint64_t digest = 0;
};
SinkTotals Totals(const std::string& portName);
// Starts the count afresh, for a document about to start.
void StartSinkDocument(const std::string& portName);

// Byte blocks as the digest takes them.
inline const char* AsChars(const BYTE* bytes) {
  return reinterpret_cast<const char*>(bytes);
}

// When each read of the port's current document (since the device monitor's
// StartDocPort) reached the printer.
std::vector<std::chrono::steady_clock::time_point> ReadTimes(const std::string& portName);

}  // namespace bench
