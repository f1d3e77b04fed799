#include "bench/sink_port.h"

#include <map>
#include <mutex>

#include "emulator/device_monitor.h"

namespace bench {
namespace {

using Times = std::vector<std::chrono::steady_clock::time_point>;

// Filled by the hook (under the rig's lock), read by the probes.
std::mutex readLock;
std::map<std::string, Times> readTimes;

void NoteReads(const emu::Call& call) {
  if (call.slot != emu::Slot::ReadPort && call.slot != emu::Slot::StartDocPort) return;
  std::lock_guard<std::mutex> lock(readLock);
  Times& times = readTimes[call.port];
  if (call.slot == emu::Slot::StartDocPort) {
    times.clear();
  } else {
    times.push_back(std::chrono::steady_clock::now());
  }
}

}  // namespace

MONITOR* SinkMonitor() {
  return emu::DeviceMonitor();
}

MONITOR2* SinkMonitor2() {
  return emu::DeviceMonitor2();
}

void AttachSink(const std::string& portName, const std::string& deviceId) {
  emu::SetCallHook(NoteReads, false);
  emu::PrinterOptions printer;
  printer.deviceId = deviceId;
  printer.statusUpdateEveryMs = 1;
  printer.keepReceived = false;
  emu::AttachPrinter(portName, printer);
}

SinkTotals Totals(const std::string& portName) {
  return {emu::ReceivedCount(portName), emu::ReceivedDigest(portName)};
}

void StartSinkDocument(const std::string& portName) {
  emu::ClearReceived(portName);
}

Times ReadTimes(const std::string& portName) {
  std::lock_guard<std::mutex> lock(readLock);
  return readTimes[portName];
}

}  // namespace bench
