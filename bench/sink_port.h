// A device monitor for measurements: every port is a printer that reads each byte
// it is given (folding it into a checksum), answers every read with a short status
// reply, and gives out its IEEE 1284 device ID on control code 17.
//
// The test rig's device monitor logs every call and copies every byte under one
// process-wide mutex; that is right for tests and wrong for timing, where its own
// cost would hide the monitor's. Here the write path takes no lock and allocates
// nothing: a port is written by one spooler thread at a time (the monitor's own
// status command goes out on that same thread, inside StartDocPort), and the
// totals are read only after the writer is done. Reads come from the poller
// thread; they are rare and take the port's own lock to note their time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "port/monitor_table.h"
#include "platform/win32.h"

namespace bench {

// The checksum: a multiply-xor fold over 8-byte words, then the tail bytes one by
// one. It depends on every byte and its position within the call; two runs that
// hand over the same buffers in the same order get the same value.
constexpr std::uint64_t kFoldStart = 0xcbf29ce484222325ull;
std::uint64_t Fold(std::uint64_t state, const BYTE* bytes, DWORD count);

// The sink's table: OpenPort, StartDocPort, WritePort, ReadPort, EndDocPort,
// ClosePort and GetPrinterDataFromPort are filled, the rest is null.
MONITOR* SinkMonitor();

// Makes a printer with this device ID available on `portName` (names ignore
// case). Reattaching a name replaces its device ID and forgets its totals.
void AttachSink(const std::string& portName, const std::string& deviceId);

// What the port's printer received in its current (or last) document: the device
// StartDocPort starts the count afresh.
struct SinkTotals {
  std::uint64_t bytes = 0;
  std::uint64_t writes = 0;
  std::uint64_t checksum = kFoldStart;
};
SinkTotals Totals(const std::string& portName);

// When each read of the current document reached the printer.
std::vector<std::chrono::steady_clock::time_point> ReadTimes(const std::string& portName);

// The status reply every read gets.
constexpr char kSinkStatusReply[] = "@BDC ST2 ST:04;ER:00;IQ:4C4C4C4C;";

}  // namespace bench
