#include "tools/port_tap.h"

#include <mutex>
#include <string>
#include <thread>

#include "tools/command_names.h"

namespace spool {
namespace {

// The slots receive no context, so the tap's state is module-wide. It is set
// once before the port is opened; the lists change under `tapMutex`.
MONITOR tapTable;
MONITOR* device = nullptr;
Console* console = nullptr;
std::thread::id spoolerThread;
std::mutex tapMutex;
std::vector<WriteSegment> writes;
TapCounts counts;
thread_local bool inJobWrite = false;

const char* Result(BOOL ok) {
  return ok ? "TRUE" : "FALSE";
}

BOOL WINAPI TapOpenPort(LPSTR name, PHANDLE handle) {
  const BOOL ok = device->pfnOpenPort(name, handle);
  console->Event("port", std::string("device monitor OpenPort(\"") + name + "\") -> " + Result(ok));
  return ok;
}

BOOL WINAPI TapStartDocPort(HANDLE port, LPSTR printer, DWORD job, DWORD level, LPBYTE info) {
  const BOOL ok = device->pfnStartDocPort(port, printer, job, level, info);
  console->Event("port", std::string("device monitor StartDocPort -> ") + Result(ok));
  return ok;
}

BOOL WINAPI TapWritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written) {
  const bool job = inJobWrite;
  const BOOL ok = device->pfnWritePort(port, buffer, count, written);
  const DWORD accepted = *written;
  {
    std::lock_guard<std::mutex> lock(tapMutex);
    if (accepted > 0) writes.push_back({job, accepted});
    if (!job) ++counts.commands;
  }
  if (!job) {
    // Commands are rare and small: each gets its full bytes on the timeline.
    const std::string bytes(reinterpret_cast<const char*>(buffer), count);
    std::string line = "sent " + NameCommand(bytes) + ", " + std::to_string(count) + " bytes";
    if (accepted != count) line += " (" + std::to_string(accepted) + " written)";
    console->Event("port", line + ": " + Hex(bytes));
  }
  return ok;
}

BOOL WINAPI TapReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read) {
  const BOOL ok = device->pfnReadPort(port, buffer, count, read);
  const bool poller = std::this_thread::get_id() != spoolerThread;
  {
    std::lock_guard<std::mutex> lock(tapMutex);
    if (*read == 0) {
      ++counts.emptyReads;
    } else {
      ++counts.repliesRead;
      if (poller) ++counts.pollerReplies;
    }
  }
  // Empty reads are the poller's idle rhythm; only replies make the timeline.
  if (*read > 0) {
    const std::string bytes(reinterpret_cast<const char*>(buffer), *read);
    console->Event(poller ? "poller" : "port", std::string("reply read, ") + std::to_string(*read) +
                                                   " bytes: \"" + Printable(bytes) + "\"");
  }
  return ok;
}

BOOL WINAPI TapEndDocPort(HANDLE port) {
  const BOOL ok = device->pfnEndDocPort(port);
  console->Event("port", std::string("device monitor EndDocPort -> ") + Result(ok));
  return ok;
}

BOOL WINAPI TapClosePort(HANDLE port) {
  const BOOL ok = device->pfnClosePort(port);
  console->Event("port", std::string("device monitor ClosePort -> ") + Result(ok));
  return ok;
}

BOOL WINAPI TapGetPrinterData(HANDLE port, DWORD controlId, LPSTR valueName, LPSTR inBuffer,
                              DWORD inSize, LPSTR outBuffer, DWORD outSize, LPDWORD returned) {
  const BOOL ok = device->pfnGetPrinterDataFromPort(port, controlId, valueName, inBuffer, inSize,
                                                    outBuffer, outSize, returned);
  std::string line =
      "GetPrinterDataFromPort(control " + std::to_string(controlId) + ") -> " + Result(ok);
  if (ok && *returned > 0 && outBuffer != nullptr) {
    const std::string text(outBuffer, std::min<DWORD>(*returned, outSize));
    line = (controlId == 17 ? "device ID read: \"" : line + ": \"") +
           Printable(text.substr(0, text.find('\0')), 120) + "\"";
  }
  console->Event("port", line);
  return ok;
}

}  // namespace

MONITOR* InstallPortTap(MONITOR* deviceMonitor, Console* output) {
  device = deviceMonitor;
  console = output;
  spoolerThread = std::this_thread::get_id();
  tapTable = *deviceMonitor;
  tapTable.pfnOpenPort = TapOpenPort;
  tapTable.pfnStartDocPort = TapStartDocPort;
  tapTable.pfnWritePort = TapWritePort;
  tapTable.pfnReadPort = TapReadPort;
  tapTable.pfnEndDocPort = TapEndDocPort;
  tapTable.pfnClosePort = TapClosePort;
  // A device monitor without device-data support keeps its null slot.
  if (deviceMonitor->pfnGetPrinterDataFromPort != nullptr) {
    tapTable.pfnGetPrinterDataFromPort = TapGetPrinterData;
  }
  return &tapTable;
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
