// The emulated device monitor: the port monitor the spooler stacks the language
// monitor on. Its table has the Windows 95 layout; each filled slot logs the call,
// applies any fault a test injected, and drives the printer attached to the port.
//
// Handles are numbers this rig hands out and never reuses, so a call with a handle
// that was closed (or never given out) is caught and fails with
// ERROR_INVALID_HANDLE instead of touching another port.
//
// All state sits in one Rig behind one mutex. A call holds the mutex for its whole
// duration, so calls from spooler threads and poller threads interleave only
// between calls, as they would on a port driver that serialises its requests.
#include "emulator/device_monitor.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>

#include "emulator/emulated_printer.h"

namespace emu {
namespace {

// Port names match ignoring (ASCII) case, as the spooler's port names do.
struct NoCaseLess {
  static char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Lower(x) < Lower(y); });
  }
};

struct FaultPlan {
  Fault fault = Fault::None;
  int remaining = 0;  // kAlways, or calls still to fault
  int after = 0;      // calls still to pass unharmed first
};

constexpr std::size_t kSlotCount = 7;
constexpr DWORD kDeviceIdControl = 17;

struct Rig {
  std::mutex mutex;
  std::map<std::string, EmulatedPrinter, NoCaseLess> printers;
  std::map<std::uintptr_t, std::string> handles;  // open handle -> port name
  std::uintptr_t nextHandle = 0x10000;
  std::vector<Call> calls;
  CallHook hook;
  bool keepLog = true;
  std::array<FaultPlan, kSlotCount> faults;
};

// Never destroyed: a poller thread that a failed test left behind may still call
// in while the process exits.
Rig& TheRig() {
  static Rig* rig = new Rig;
  return *rig;
}

using Lock = std::lock_guard<std::mutex>;

Call Begin(Slot slot, HANDLE handle, const char* text = nullptr, DWORD number = 0) {
  Call call{};
  call.slot = slot;
  call.handle = handle;
  call.text = text ? text : "";
  call.number = number;
  return call;
}

Fault TakeFault(Rig& rig, Slot slot) {
  FaultPlan& plan = rig.faults[static_cast<std::size_t>(slot)];
  if (plan.fault == Fault::None) return Fault::None;
  if (plan.after > 0) {
    --plan.after;
    return Fault::None;
  }
  const Fault fault = plan.fault;
  if (plan.remaining != kAlways && --plan.remaining <= 0) plan = FaultPlan{};
  return fault;
}

// The port a handle belongs to, or null when the handle is not open or the printer
// was detached since.
EmulatedPrinter* PrinterFor(Rig& rig, HANDLE handle, std::string* portName) {
  auto it = rig.handles.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == rig.handles.end()) return nullptr;
  *portName = it->second;
  auto printer = rig.printers.find(it->second);
  return printer == rig.printers.end() ? nullptr : &printer->second;
}

bool HandleOpenFor(const Rig& rig, const std::string& portName) {
  NoCaseLess less;
  for (const auto& [id, name] : rig.handles) {
    if (!less(name, portName) && !less(portName, name)) return true;
  }
  return false;
}

// Ends a call: records it and sets the last error when it failed.
BOOL Finish(Rig& rig, Call call, BOOL result, DWORD error = 0) {
  call.result = result ? TRUE : FALSE;
  call.error = result ? 0 : error;
  if (rig.hook) rig.hook(call);
  if (rig.keepLog) rig.calls.push_back(std::move(call));
  if (!result && error != 0) SetLastError(error);
  return result ? TRUE : FALSE;
}

BOOL WINAPI DeviceOpenPort(LPSTR name, PHANDLE handle) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  Call call = Begin(Slot::OpenPort, nullptr);
  call.port = name ? name : "";
  if (name == nullptr || handle == nullptr)
    return Finish(rig, call, FALSE, ERROR_INVALID_PARAMETER);
  if (TakeFault(rig, Slot::OpenPort) != Fault::None) {
    return Finish(rig, call, FALSE, ERROR_ACCESS_DENIED);
  }
  auto printer = rig.printers.find(name);
  if (printer == rig.printers.end()) return Finish(rig, call, FALSE, ERROR_FILE_NOT_FOUND);
  if (HandleOpenFor(rig, printer->first)) return Finish(rig, call, FALSE, ERROR_BUSY);
  const std::uintptr_t id = rig.nextHandle;
  rig.nextHandle += 4;
  rig.handles.emplace(id, printer->first);
  *handle = reinterpret_cast<HANDLE>(id);
  call.handle = *handle;
  return Finish(rig, call, TRUE);
}

BOOL WINAPI DeviceStartDocPort(HANDLE port, LPSTR printerName, DWORD jobId, DWORD level,
                               LPBYTE /*docInfo*/) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  Call call = Begin(Slot::StartDocPort, port, printerName, jobId);
  call.level = level;
  EmulatedPrinter* printer = PrinterFor(rig, port, &call.port);
  if (printer == nullptr) return Finish(rig, call, FALSE, ERROR_INVALID_HANDLE);
  if (TakeFault(rig, Slot::StartDocPort) != Fault::None) {
    return Finish(rig, call, FALSE, ERROR_ACCESS_DENIED);
  }
  if (printer->documentOpen) return Finish(rig, call, FALSE, ERROR_BUSY);
  PrinterStartDocument(*printer);
  return Finish(rig, call, TRUE);
}

BOOL WINAPI DeviceWritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  Call call = Begin(Slot::WritePort, port, nullptr, count);
  if (written != nullptr) *written = 0;
  EmulatedPrinter* printer = PrinterFor(rig, port, &call.port);
  if (printer == nullptr || !printer->documentOpen) {
    return Finish(rig, call, FALSE, ERROR_INVALID_HANDLE);
  }
  if (written == nullptr || (buffer == nullptr && count > 0)) {
    return Finish(rig, call, FALSE, ERROR_INVALID_PARAMETER);
  }
  DWORD accepted = count;
  switch (TakeFault(rig, Slot::WritePort)) {
    case Fault::None:
      break;
    case Fault::ShortWrite:
      accepted = count / 2;
      break;
    default:
      return Finish(rig, call, FALSE, ERROR_ACCESS_DENIED);
  }
  const char* bytes = reinterpret_cast<const char*>(buffer);
  if (accepted > 0) PrinterReceive(*printer, bytes, accepted);
  *written = accepted;
  call.bytes = accepted;
  if (printer->options.keepReceived) call.data.assign(bytes ? bytes : "", accepted);
  return Finish(rig, call, TRUE);
}

BOOL WINAPI DeviceReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  Call call = Begin(Slot::ReadPort, port, nullptr, count);
  if (read != nullptr) *read = 0;
  EmulatedPrinter* printer = PrinterFor(rig, port, &call.port);
  if (printer == nullptr || !printer->documentOpen) {
    return Finish(rig, call, FALSE, ERROR_INVALID_HANDLE);
  }
  if (read == nullptr || (buffer == nullptr && count > 0)) {
    return Finish(rig, call, FALSE, ERROR_INVALID_PARAMETER);
  }
  switch (TakeFault(rig, Slot::ReadPort)) {
    case Fault::None:
      break;
    case Fault::EmptyRead:
      return Finish(rig, call, TRUE);
    case Fault::OverReport:
      if (count > 0) std::memset(buffer, '?', count);
      *read = count * 2;
      call.bytes = count * 2;
      return Finish(rig, call, TRUE);
    default:
      return Finish(rig, call, FALSE, ERROR_ACCESS_DENIED);
  }
  char* out = reinterpret_cast<char*>(buffer);
  const std::size_t got = PrinterRead(*printer, out, count);
  *read = static_cast<DWORD>(got);
  call.bytes = static_cast<DWORD>(got);
  call.data.assign(out ? out : "", got);
  return Finish(rig, call, TRUE);
}

BOOL WINAPI DeviceEndDocPort(HANDLE port) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  Call call = Begin(Slot::EndDocPort, port);
  EmulatedPrinter* printer = PrinterFor(rig, port, &call.port);
  if (printer == nullptr) return Finish(rig, call, FALSE, ERROR_INVALID_HANDLE);
  if (TakeFault(rig, Slot::EndDocPort) != Fault::None) {
    return Finish(rig, call, FALSE, ERROR_ACCESS_DENIED);
  }
  // Ending a document that is not open is harmless, as on a real port.
  PrinterEndDocument(*printer);
  return Finish(rig, call, TRUE);
}

BOOL WINAPI DeviceClosePort(HANDLE port) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  Call call = Begin(Slot::ClosePort, port);
  auto it = rig.handles.find(reinterpret_cast<std::uintptr_t>(port));
  if (it == rig.handles.end()) return Finish(rig, call, FALSE, ERROR_INVALID_HANDLE);
  call.port = it->second;
  if (TakeFault(rig, Slot::ClosePort) != Fault::None) {
    return Finish(rig, call, FALSE, ERROR_ACCESS_DENIED);
  }
  // Closing a port with a document open abandons the document.
  auto printer = rig.printers.find(it->second);
  if (printer != rig.printers.end()) PrinterEndDocument(printer->second);
  rig.handles.erase(it);
  return Finish(rig, call, TRUE);
}

// Control code 17 asks for the IEEE 1284 device ID. It is copied as raw bytes, cut
// to the output size; a terminator follows only if there is room for it, so an ID
// that fills the buffer arrives unterminated. The returned size is the number of
// ID bytes copied. Other control codes are not supported (ERROR_INVALID_PARAMETER).
BOOL WINAPI DeviceGetPrinterDataFromPort(HANDLE port, DWORD controlId, LPSTR valueName,
                                         LPSTR inBuffer, DWORD inSize, LPSTR outBuffer,
                                         DWORD outSize, LPDWORD returned) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  Call call = Begin(Slot::GetPrinterDataFromPort, port, valueName, controlId);
  call.inSize = inSize;
  call.outSize = outSize;
  call.inBuffer = inBuffer != nullptr;
  EmulatedPrinter* printer = PrinterFor(rig, port, &call.port);
  if (printer == nullptr) return Finish(rig, call, FALSE, ERROR_INVALID_HANDLE);
  switch (TakeFault(rig, Slot::GetPrinterDataFromPort)) {
    case Fault::None:
      break;
    case Fault::EmptyRead:
      if (returned != nullptr) *returned = 0;
      return Finish(rig, call, TRUE);
    default:
      return Finish(rig, call, FALSE, ERROR_ACCESS_DENIED);
  }
  if (controlId != kDeviceIdControl || outBuffer == nullptr || returned == nullptr) {
    return Finish(rig, call, FALSE, ERROR_INVALID_PARAMETER);
  }
  const std::string& id = printer->options.deviceId;
  const std::size_t copied = std::min<std::size_t>(id.size(), outSize);
  std::memcpy(outBuffer, id.data(), copied);
  if (copied < outSize) outBuffer[copied] = '\0';
  *returned = static_cast<DWORD>(copied);
  call.bytes = *returned;
  call.data.assign(id.data(), copied);
  return Finish(rig, call, TRUE);
}

constexpr MONITOR kFullTable = {
    nullptr,         DeviceOpenPort, nullptr,          DeviceStartDocPort,
    DeviceWritePort, DeviceReadPort, DeviceEndDocPort, DeviceClosePort,
    nullptr,         nullptr,        nullptr,          DeviceGetPrinterDataFromPort,
    nullptr};

// The table handed out. Tests change it only between port opens (the monitor
// copies it at OpenPortEx), so it is written under the rig's mutex and read freely.
MONITOR gTable = kFullTable;

}  // namespace

const char* SlotName(Slot slot) {
  switch (slot) {
    case Slot::OpenPort:
      return "OpenPort";
    case Slot::StartDocPort:
      return "StartDocPort";
    case Slot::WritePort:
      return "WritePort";
    case Slot::ReadPort:
      return "ReadPort";
    case Slot::EndDocPort:
      return "EndDocPort";
    case Slot::ClosePort:
      return "ClosePort";
    case Slot::GetPrinterDataFromPort:
      return "GetPrinterDataFromPort";
  }
  return "?";
}

MONITOR* DeviceMonitor() {
  return &gTable;
}

void SetDeviceDataSupported(bool supported) {
  Lock lock(TheRig().mutex);
  gTable.pfnGetPrinterDataFromPort = supported ? DeviceGetPrinterDataFromPort : nullptr;
}

void Reset() {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  rig.printers.clear();
  rig.handles.clear();
  rig.calls.clear();
  rig.hook = nullptr;
  rig.keepLog = true;
  rig.faults = {};
  gTable = kFullTable;
}

void AttachPrinter(const std::string& portName, const PrinterOptions& options) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  EmulatedPrinter printer;
  printer.options = options;
  rig.printers.insert_or_assign(portName, std::move(printer));
}

void DetachPrinter(const std::string& portName) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  rig.printers.erase(portName);
}

namespace {

// Runs `fn` on the named printer under the lock; does nothing for an unknown port.
template <typename Fn>
void WithPrinter(const std::string& portName, Fn fn) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  auto it = rig.printers.find(portName);
  if (it != rig.printers.end()) fn(it->second);
}

}  // namespace

void SetDeviceId(const std::string& portName, const std::string& bytes) {
  WithPrinter(portName, [&](EmulatedPrinter& p) { p.options.deviceId = bytes; });
}

void SetPrinterOptions(const std::string& portName, const PrinterOptions& options) {
  WithPrinter(portName, [&](EmulatedPrinter& p) { p.options = options; });
}

void QueueBackChannel(const std::string& portName, const std::string& bytes) {
  WithPrinter(portName, [&](EmulatedPrinter& p) { p.backChannel += bytes; });
}

std::size_t PendingBackChannel(const std::string& portName) {
  std::size_t pending = 0;
  WithPrinter(portName, [&](EmulatedPrinter& p) { pending = PrinterPending(p); });
  return pending;
}

std::string Received(const std::string& portName) {
  std::string received;
  WithPrinter(portName, [&](EmulatedPrinter& p) { received = p.received; });
  return received;
}

std::uint64_t ReceivedCount(const std::string& portName) {
  std::uint64_t count = 0;
  WithPrinter(portName, [&](EmulatedPrinter& p) { count = p.receivedCount; });
  return count;
}

std::uint64_t ReceivedDigest(const std::string& portName) {
  std::uint64_t digest = kDigestStart;
  WithPrinter(portName, [&](EmulatedPrinter& p) { digest = p.receivedDigest; });
  return digest;
}

std::uint64_t Digest(std::uint64_t digest, const char* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    digest ^= static_cast<unsigned char>(bytes[i]);
    digest *= 0x100000001b3ull;
  }
  return digest;
}

void ClearReceived(const std::string& portName) {
  WithPrinter(portName, [&](EmulatedPrinter& p) { PrinterClearReceived(p); });
}

std::vector<std::string> Commands(const std::string& portName) {
  std::vector<std::string> commands;
  WithPrinter(portName, [&](EmulatedPrinter& p) { commands = p.commands; });
  return commands;
}

bool DocumentOpen(const std::string& portName) {
  bool open = false;
  WithPrinter(portName, [&](EmulatedPrinter& p) { open = p.documentOpen; });
  return open;
}

bool PortOpen(const std::string& portName) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  return HandleOpenFor(rig, portName);
}

HANDLE PortHandle(const std::string& portName) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  NoCaseLess less;
  for (const auto& [id, name] : rig.handles) {
    if (!less(name, portName) && !less(portName, name)) return reinterpret_cast<HANDLE>(id);
  }
  return nullptr;
}

void InjectFault(Slot slot, Fault fault, int times, int after) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  FaultPlan& plan = rig.faults[static_cast<std::size_t>(slot)];
  if (fault == Fault::None || (times <= 0 && times != kAlways)) {
    plan = FaultPlan{};
  } else {
    plan = FaultPlan{fault, times, after > 0 ? after : 0};
  }
}

void ClearFaults() {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  rig.faults = {};
}

std::vector<Call> Calls() {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  return rig.calls;
}

std::vector<Call> CallsTo(Slot slot) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  std::vector<Call> calls;
  for (const Call& call : rig.calls) {
    if (call.slot == slot) calls.push_back(call);
  }
  return calls;
}

void ClearCalls() {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  rig.calls.clear();
}

void SetCallHook(CallHook hook, bool keepLog) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  rig.hook = std::move(hook);
  rig.keepLog = keepLog;
}

}  // namespace emu
