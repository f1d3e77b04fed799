#include "tools/port_tap.h"

#include <mutex>
#include <string>
#include <thread>

#include "emulator/device_monitor.h"
#include "tools/command_names.h"

namespace spool {
namespace {

// The hook runs on the calling threads one call at a time; the lists are read by
// the spooler's thread after the run, under `tapMutex`.
Console* console = nullptr;
std::thread::id spoolerThread;
std::mutex tapMutex;
std::vector<WriteSegment> writes;
TapCounts counts;
thread_local bool inJobWrite = false;

// The device-ID requests: Windows 95's control code, and the NT family's device
// I/O controls for a parallel port and a USB printer (whose answer starts with
// two length bytes, shown as they came).
bool AsksDeviceId(DWORD controlId) {
  return controlId == 17 || controlId == IOCTL_PAR_QUERY_DEVICE_ID ||
         controlId == IOCTL_USBPRINT_GET_1284_ID;
}

const char* Result(const emu::Call& call) {
  return call.result ? "TRUE" : "FALSE";
}

void Write(const emu::Call& call) {
  {
    std::lock_guard<std::mutex> lock(tapMutex);
    if (call.bytes > 0) writes.push_back({inJobWrite, call.bytes});
    if (!inJobWrite) ++counts.commands;
  }
  if (inJobWrite) return;
  // Commands are rare and small: each gets its bytes on the timeline.
  std::string line =
      "sent " + NameCommand(call.data) + ", " + std::to_string(call.number) + " bytes";
  if (call.bytes != call.number) line += " (" + std::to_string(call.bytes) + " written)";
  console->Event("port", line + ": " + Hex(call.data));
}

void Read(const emu::Call& call) {
  const bool poller = std::this_thread::get_id() != spoolerThread;
  {
    std::lock_guard<std::mutex> lock(tapMutex);
    if (call.bytes == 0) {
      ++counts.emptyReads;
    } else {
      ++counts.repliesRead;
      if (poller) ++counts.pollerReplies;
    }
  }
  // Empty reads are the poller's idle rhythm; only replies make the timeline.
  if (call.bytes > 0) {
    console->Event(poller ? "poller" : "port", "reply read, " + std::to_string(call.bytes) +
                                                   " bytes: \"" + Printable(call.data) + "\"");
  }
}

void Watch(const emu::Call& call) {
  const std::string name = emu::SlotName(call.slot);
  switch (call.slot) {
    case emu::Slot::WritePort:
      return Write(call);
    case emu::Slot::ReadPort:
      return Read(call);
    case emu::Slot::OpenPort:
      return console->Event("port",
                            "device monitor OpenPort(\"" + call.port + "\") -> " + Result(call));
    case emu::Slot::GetPrinterDataFromPort: {
      std::string line = name + "(control " + std::to_string(call.number) + ") -> " + Result(call);
      if (call.result && call.bytes > 0) {
        const std::string text = Printable(call.data.substr(0, call.data.find('\0')), 120);
        line = (AsksDeviceId(call.number) ? "device ID read" : line) + ": \"" + text + "\"";
      }
      return console->Event("port", line);
    }
    default:
      return console->Event("port", "device monitor " + name + " -> " + Result(call));
  }
}

}  // namespace

void StartPortTap(Console* output) {
  console = output;
  spoolerThread = std::this_thread::get_id();
  emu::SetCallHook(Watch);
}

JobWriteScope::JobWriteScope() {
  inJobWrite = true;
}
JobWriteScope::~JobWriteScope() {
  inJobWrite = false;
}

std::vector<WriteSegment> TappedWrites() {
  std::lock_guard<std::mutex> lock(tapMutex);
  return writes;
}

TapCounts TappedCounts() {
  std::lock_guard<std::mutex> lock(tapMutex);
  return counts;
}

}  // namespace spool
