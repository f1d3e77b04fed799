// The emulated device monitor: the port monitor the spooler stacks the language
// monitor on. Its tables have the Windows 95 layout and the NT family's (MONITOR2,
// the same slots with UTF-16 names); each filled slot logs the call,
// applies any fault a test injected, and drives the printer attached to the port.
//
// Handles are numbers this rig hands out and never reuses, so a call with a handle
// that was closed (or never given out) is caught and fails with
// ERROR_INVALID_HANDLE instead of touching another port.
//
// Locks, always taken in this order and never the other way round:
// - each port's own mutex, held for a whole call on that port, so calls on one
//   port act one at a time (as a port driver serialises its requests) while the
//   ports do not wait for each other;
// - the rig's table mutex, held only briefly: the printers and handles maps, the
//   faults, the hook and the table;
// - the log mutex, held while a call is logged and handed to the hook, so the hook
//   sees the calls one at a time and in log order.
// An off-line port's read or write waits out its block before it takes any lock.
#include "emulator/device_monitor.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "emulator/emulated_printer.h"
#include "emulator/wide_text.h"

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

// One attached printer and its port's state. Shared, so that a call still running
// keeps it alive when a test detaches or replaces the printer meanwhile.
struct Port {
  std::mutex mutex;  // held for a whole call on this port; guards `printer`
  EmulatedPrinter printer;
  std::mutex offlineMutex;  // guards offlineMs
  std::condition_variable offlineChanged;
  DWORD offlineMs = 0;      // how long each read and write blocks; 0: on line
  std::size_t blocked = 0;  // calls waiting out the block now
};
using PortPtr = std::shared_ptr<Port>;

struct Rig {
  std::mutex mutex;  // the maps, the next handle, the faults and the table
  std::map<std::string, PortPtr, NoCaseLess> printers;
  std::map<std::uintptr_t, std::string> handles;  // open handle -> port name
  std::uintptr_t nextHandle = 0x10000;
  bool sharedOpens = false;  // a port may be opened more than once
  std::array<FaultPlan, kSlotCount> faults;
  std::mutex logMutex;  // the log and the hook
  std::vector<Call> calls;
  CallHook hook;
  bool keepLog = true;
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

// With the table mutex held.
Fault TakeFaultLocked(Rig& rig, Slot slot) {
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

Fault TakeFault(Rig& rig, Slot slot) {
  Lock lock(rig.mutex);
  return TakeFaultLocked(rig, slot);
}

// The port a handle belongs to, or null when the handle is not open or the printer
// was detached since.
PortPtr PortFor(Rig& rig, HANDLE handle, std::string* portName) {
  Lock lock(rig.mutex);
  auto it = rig.handles.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == rig.handles.end()) return nullptr;
  *portName = it->second;
  auto port = rig.printers.find(it->second);
  return port == rig.printers.end() ? nullptr : port->second;
}

// A call on one port: holds the port's mutex while it lives. `printer` is null
// when the handle is not open, or stopped being open (or its printer was replaced)
// while the call waited for the port.
struct PortCall {
  PortPtr port;
  std::unique_lock<std::mutex> lock;
  EmulatedPrinter* printer = nullptr;
};

PortCall EnterPort(Rig& rig, HANDLE handle, std::string* portName) {
  PortCall call;
  call.port = PortFor(rig, handle, portName);
  if (!call.port) return call;
  call.lock = std::unique_lock<std::mutex>(call.port->mutex);
  if (PortFor(rig, handle, portName) == call.port) call.printer = &call.port->printer;
  return call;
}

// An off-line port's reads and writes wait out the block first, holding no lock,
// so that the port's other calls, the other ports and the test all go on. Ending
// the block (SetOffline with 0, Reset) releases a waiting call at once.
void WaitWhileOffline(Rig& rig, HANDLE handle) {
  std::string name;
  PortPtr port = PortFor(rig, handle, &name);
  if (!port) return;
  std::unique_lock<std::mutex> lock(port->offlineMutex);
  if (port->offlineMs == 0) return;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(port->offlineMs);
  ++port->blocked;
  port->offlineChanged.wait_until(lock, until, [&] { return port->offlineMs == 0; });
  --port->blocked;
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
  {
    Lock lock(rig.logMutex);
    if (rig.hook) rig.hook(call);
    if (rig.keepLog) rig.calls.push_back(std::move(call));
  }
  if (!result && error != 0) SetLastError(error);
  return result ? TRUE : FALSE;
}

// HoldOpens: opens wait here while the hold is on.
struct OpenHold {
  std::mutex mutex;
  std::condition_variable changed;
  bool held = false;
  std::size_t waiting = 0;
};
OpenHold& TheOpenHold() {
  static OpenHold* hold = new OpenHold;
  return *hold;
}

void WaitWhileOpensHeld() {
  OpenHold& hold = TheOpenHold();
  std::unique_lock<std::mutex> lock(hold.mutex);
  ++hold.waiting;
  hold.changed.wait(lock, [&] { return !hold.held; });
  --hold.waiting;
}

BOOL WINAPI DeviceOpenPort(LPSTR name, PHANDLE handle) {
  Rig& rig = TheRig();
  WaitWhileOpensHeld();
  Call call = Begin(Slot::OpenPort, nullptr);
  call.port = name ? name : "";
  if (name == nullptr || handle == nullptr)
    return Finish(rig, call, FALSE, ERROR_INVALID_PARAMETER);
  DWORD error = 0;
  {
    Lock lock(rig.mutex);
    auto printer = rig.printers.find(name);
    if (TakeFaultLocked(rig, Slot::OpenPort) != Fault::None) {
      error = ERROR_ACCESS_DENIED;
    } else if (printer == rig.printers.end()) {
      error = ERROR_FILE_NOT_FOUND;
    } else if (!rig.sharedOpens && HandleOpenFor(rig, printer->first)) {
      error = ERROR_BUSY;
    } else {
      const std::uintptr_t id = rig.nextHandle;
      rig.nextHandle += 4;
      rig.handles.emplace(id, printer->first);
      *handle = reinterpret_cast<HANDLE>(id);
      call.handle = *handle;
    }
  }
  return Finish(rig, call, error == 0, error);
}

BOOL WINAPI DeviceStartDocPort(HANDLE port, LPSTR printerName, DWORD jobId, DWORD level,
                               LPBYTE /*docInfo*/) {
  Rig& rig = TheRig();
  Call call = Begin(Slot::StartDocPort, port, printerName, jobId);
  call.level = level;
  PortCall on = EnterPort(rig, port, &call.port);
  if (on.printer == nullptr) return Finish(rig, call, FALSE, ERROR_INVALID_HANDLE);
  if (TakeFault(rig, Slot::StartDocPort) != Fault::None) {
    return Finish(rig, call, FALSE, ERROR_ACCESS_DENIED);
  }
  if (on.printer->documentOpen) return Finish(rig, call, FALSE, ERROR_BUSY);
  PrinterStartDocument(*on.printer);
  return Finish(rig, call, TRUE);
}

BOOL WINAPI DeviceWritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written) {
  Rig& rig = TheRig();
  Call call = Begin(Slot::WritePort, port, nullptr, count);
  if (written != nullptr) *written = 0;
  WaitWhileOffline(rig, port);
  PortCall on = EnterPort(rig, port, &call.port);
  EmulatedPrinter* printer = on.printer;
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
  Call call = Begin(Slot::ReadPort, port, nullptr, count);
  if (read != nullptr) *read = 0;
  WaitWhileOffline(rig, port);
  PortCall on = EnterPort(rig, port, &call.port);
  EmulatedPrinter* printer = on.printer;
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
  Call call = Begin(Slot::EndDocPort, port);
  PortCall on = EnterPort(rig, port, &call.port);
  if (on.printer == nullptr) return Finish(rig, call, FALSE, ERROR_INVALID_HANDLE);
  if (TakeFault(rig, Slot::EndDocPort) != Fault::None) {
    return Finish(rig, call, FALSE, ERROR_ACCESS_DENIED);
  }
  // Ending a document that is not open is harmless, as on a real port.
  PrinterEndDocument(*on.printer);
  return Finish(rig, call, TRUE);
}

BOOL WINAPI DeviceClosePort(HANDLE port) {
  Rig& rig = TheRig();
  Call call = Begin(Slot::ClosePort, port);
  // A handle whose printer was detached can still be closed.
  PortCall on = EnterPort(rig, port, &call.port);
  DWORD error = 0;
  {
    Lock lock(rig.mutex);
    auto it = rig.handles.find(reinterpret_cast<std::uintptr_t>(port));
    if (it == rig.handles.end()) {
      error = ERROR_INVALID_HANDLE;
    } else {
      call.port = it->second;
      if (TakeFaultLocked(rig, Slot::ClosePort) != Fault::None) {
        error = ERROR_ACCESS_DENIED;
      } else {
        rig.handles.erase(it);
      }
    }
  }
  // Closing a port with a document open abandons the document.
  if (error == 0 && on.printer != nullptr) PrinterEndDocument(*on.printer);
  return Finish(rig, call, error == 0, error);
}

// The device ID, as raw bytes cut to the output size; a terminator follows only if
// there is room for it, so an ID that fills the buffer arrives unterminated. The
// returned size is the number of bytes copied. `prefix` goes in front (the USB
// driver's two length bytes).
BOOL AnswerDeviceId(Rig& rig, Call& call, const std::string& prefix, const std::string& id,
                    LPSTR outBuffer, DWORD outSize, LPDWORD returned) {
  const std::string answer = prefix + id;
  const std::size_t copied = std::min<std::size_t>(answer.size(), outSize);
  std::memcpy(outBuffer, answer.data(), copied);
  if (copied < outSize) outBuffer[copied] = '\0';
  *returned = static_cast<DWORD>(copied);
  call.bytes = *returned;
  call.data.assign(answer.data(), copied);
  return Finish(rig, call, TRUE);
}

// What both tables' GetPrinterDataFromPort do before they answer: log, find the
// port, apply a fault. Returns the printer to answer for, or null when the call
// is finished already (its result in *result).
EmulatedPrinter* EnterPrinterData(Rig& rig, Call& call, PortCall& on, HANDLE port, DWORD inSize,
                                  DWORD outSize, bool inBuffer, LPDWORD returned, BOOL* result) {
  call.inSize = inSize;
  call.outSize = outSize;
  call.inBuffer = inBuffer;
  on = EnterPort(rig, port, &call.port);
  if (on.printer == nullptr) {
    *result = Finish(rig, call, FALSE, ERROR_INVALID_HANDLE);
    return nullptr;
  }
  switch (TakeFault(rig, Slot::GetPrinterDataFromPort)) {
    case Fault::None:
      return on.printer;
    case Fault::EmptyRead:
      if (returned != nullptr) *returned = 0;
      *result = Finish(rig, call, TRUE);
      return nullptr;
    default:
      *result = Finish(rig, call, FALSE, ERROR_ACCESS_DENIED);
      return nullptr;
  }
}

// Windows 95: control code 17 asks for the IEEE 1284 device ID. Other control
// codes are not supported (ERROR_INVALID_PARAMETER).
BOOL WINAPI DeviceGetPrinterDataFromPort(HANDLE port, DWORD controlId, LPSTR valueName,
                                         LPSTR inBuffer, DWORD inSize, LPSTR outBuffer,
                                         DWORD outSize, LPDWORD returned) {
  Rig& rig = TheRig();
  Call call = Begin(Slot::GetPrinterDataFromPort, port, valueName, controlId);
  PortCall on;
  BOOL result = FALSE;
  EmulatedPrinter* printer = EnterPrinterData(rig, call, on, port, inSize, outSize,
                                              inBuffer != nullptr, returned, &result);
  if (printer == nullptr) return result;
  if (controlId != kDeviceIdControl || outBuffer == nullptr || returned == nullptr) {
    return Finish(rig, call, FALSE, ERROR_INVALID_PARAMETER);
  }
  return AnswerDeviceId(rig, call, "", printer->options.deviceId, outBuffer, outSize, returned);
}

// The NT family: the control code is a device I/O control for the port's driver.
// A parallel port's answers IOCTL_PAR_QUERY_DEVICE_ID with the ID; a USB printer's
// answers IOCTL_USBPRINT_GET_1284_ID with the ID's length (two bytes, most
// significant first, counting themselves) and the ID; a network port answers
// neither. Everything else fails with ERROR_INVALID_PARAMETER.
BOOL WINAPI DeviceGetPrinterDataFromPortNt(HANDLE port, DWORD controlId, LPWSTR valueName,
                                           LPWSTR inBuffer, DWORD inSize, LPWSTR outBuffer,
                                           DWORD outSize, LPDWORD returned) {
  Rig& rig = TheRig();
  Call call = Begin(Slot::GetPrinterDataFromPort, port, Utf8(valueName).c_str(), controlId);
  PortCall on;
  BOOL result = FALSE;
  EmulatedPrinter* printer = EnterPrinterData(rig, call, on, port, inSize, outSize,
                                              inBuffer != nullptr, returned, &result);
  if (printer == nullptr) return result;
  const PortKind kind = printer->options.kind;
  const bool parallel = controlId == IOCTL_PAR_QUERY_DEVICE_ID && kind == PortKind::Parallel;
  const bool usb = controlId == IOCTL_USBPRINT_GET_1284_ID && kind == PortKind::Usb;
  if (!(parallel || usb) || outBuffer == nullptr || returned == nullptr) {
    return Finish(rig, call, FALSE, ERROR_INVALID_PARAMETER);
  }
  const std::string& id = printer->options.deviceId;
  std::string length;
  if (usb) {
    const std::size_t total = id.size() + 2;
    length = {static_cast<char>((total >> 8) & 0xFF), static_cast<char>(total & 0xFF)};
  }
  return AnswerDeviceId(rig, call, length, id, reinterpret_cast<LPSTR>(outBuffer), outSize,
                        returned);
}

// The NT table's open and document start: the same as the Windows 95 table's, with
// the port monitor's instance handle checked and the names in UTF-16.
BOOL WINAPI DeviceOpenPortNt(HANDLE monitor, LPWSTR name, PHANDLE handle) {
  if (monitor != kPortMonitorInstance) {
    Call call = Begin(Slot::OpenPort, nullptr);
    call.port = Utf8(name);
    return Finish(TheRig(), call, FALSE, ERROR_INVALID_HANDLE);
  }
  std::string narrow = Utf8(name);
  return DeviceOpenPort(name == nullptr ? nullptr : narrow.data(), handle);
}

BOOL WINAPI DeviceStartDocPortNt(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level,
                                 LPBYTE docInfo) {
  std::string narrow = Utf8(printerName);
  return DeviceStartDocPort(port, printerName == nullptr ? nullptr : narrow.data(), jobId, level,
                            docInfo);
}

constexpr MONITOR kFullTable = {
    nullptr,         DeviceOpenPort, nullptr,          DeviceStartDocPort,
    DeviceWritePort, DeviceReadPort, DeviceEndDocPort, DeviceClosePort,
    nullptr,         nullptr,        nullptr,          DeviceGetPrinterDataFromPort,
    nullptr};

// The table handed out. Tests change it only between port opens (the monitor
// copies it at OpenPortEx), so it is written under the rig's mutex and read freely.
MONITOR gTable = kFullTable;

// The NT tables: the Windows 2000 size, and a short one that ends behind
// pfnClosePort. The short one's storage goes on with live entries, so a monitor
// that reads past cbSize calls them, and its calls show in the log.
MONITOR2 NtTable() {
  MONITOR2 table{};
  table.cbSize = static_cast<DWORD>(offsetof(MONITOR2, pfnShutdown) + sizeof(void*));
  table.pfnOpenPort = DeviceOpenPortNt;
  table.pfnStartDocPort = DeviceStartDocPortNt;
  table.pfnWritePort = DeviceWritePort;
  table.pfnReadPort = DeviceReadPort;
  table.pfnEndDocPort = DeviceEndDocPort;
  table.pfnClosePort = DeviceClosePort;
  table.pfnGetPrinterDataFromPort = DeviceGetPrinterDataFromPortNt;
  return table;
}
MONITOR2 gTableNt = NtTable();

void SetPortOffline(Port& port, DWORD blockMs) {
  {
    Lock lock(port.offlineMutex);
    port.offlineMs = blockMs;
  }
  port.offlineChanged.notify_all();
}

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

MONITOR2* DeviceMonitor2() {
  return &gTableNt;
}

void SetDeviceMonitor2Size(DWORD cbSize) {
  Lock lock(TheRig().mutex);
  gTableNt.cbSize = cbSize;
}

void RemoveDeviceMonitor2Entry(Slot slot) {
  Lock lock(TheRig().mutex);
  switch (slot) {
    case Slot::OpenPort:
      gTableNt.pfnOpenPort = nullptr;
      break;
    case Slot::StartDocPort:
      gTableNt.pfnStartDocPort = nullptr;
      break;
    case Slot::WritePort:
      gTableNt.pfnWritePort = nullptr;
      break;
    case Slot::ReadPort:
      gTableNt.pfnReadPort = nullptr;
      break;
    case Slot::EndDocPort:
      gTableNt.pfnEndDocPort = nullptr;
      break;
    case Slot::ClosePort:
      gTableNt.pfnClosePort = nullptr;
      break;
    case Slot::GetPrinterDataFromPort:
      gTableNt.pfnGetPrinterDataFromPort = nullptr;
      break;
  }
}

void HoldOpens(bool hold) {
  OpenHold& opens = TheOpenHold();
  {
    std::lock_guard<std::mutex> lock(opens.mutex);
    opens.held = hold;
  }
  opens.changed.notify_all();
}

std::size_t HeldOpens() {
  OpenHold& opens = TheOpenHold();
  std::lock_guard<std::mutex> lock(opens.mutex);
  return opens.waiting;
}

void SetDeviceDataSupported(bool supported) {
  Lock lock(TheRig().mutex);
  gTable.pfnGetPrinterDataFromPort = supported ? DeviceGetPrinterDataFromPort : nullptr;
  gTableNt.pfnGetPrinterDataFromPort = supported ? DeviceGetPrinterDataFromPortNt : nullptr;
}

void SetSharedOpens(bool shared) {
  Lock lock(TheRig().mutex);
  TheRig().sharedOpens = shared;
}

void Reset() {
  Rig& rig = TheRig();
  std::map<std::string, PortPtr, NoCaseLess> gone;
  {
    Lock lock(rig.mutex);
    gone.swap(rig.printers);
    rig.handles.clear();
    rig.sharedOpens = false;
    rig.faults = {};
    gTable = kFullTable;
    gTableNt = NtTable();
  }
  {
    Lock lock(rig.logMutex);
    rig.calls.clear();
    rig.hook = nullptr;
    rig.keepLog = true;
  }
  // A call still blocked on a forgotten off-line port returns now, and so does an
  // open held back.
  for (auto& [name, port] : gone) SetPortOffline(*port, 0);
  HoldOpens(false);
}

void AttachPrinter(const std::string& portName, const PrinterOptions& options) {
  auto port = std::make_shared<Port>();
  port->printer.options = options;
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  rig.printers.insert_or_assign(portName, std::move(port));
}

void DetachPrinter(const std::string& portName) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  rig.printers.erase(portName);
}

namespace {

PortPtr NamedPort(const std::string& portName) {
  Rig& rig = TheRig();
  Lock lock(rig.mutex);
  auto it = rig.printers.find(portName);
  return it == rig.printers.end() ? nullptr : it->second;
}

// Runs `fn` on the named printer under its port's mutex; does nothing for an
// unknown port.
template <typename Fn>
void WithPrinter(const std::string& portName, Fn fn) {
  PortPtr port = NamedPort(portName);
  if (!port) return;
  Lock lock(port->mutex);
  fn(port->printer);
}

}  // namespace

void SetOffline(const std::string& portName, DWORD blockMs) {
  PortPtr port = NamedPort(portName);
  if (port) SetPortOffline(*port, blockMs);
}

std::size_t BlockedCalls(const std::string& portName) {
  PortPtr port = NamedPort(portName);
  if (!port) return 0;
  Lock lock(port->offlineMutex);
  return port->blocked;
}

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
  Lock lock(rig.logMutex);
  return rig.calls;
}

std::vector<Call> CallsTo(Slot slot) {
  Rig& rig = TheRig();
  Lock lock(rig.logMutex);
  std::vector<Call> calls;
  for (const Call& call : rig.calls) {
    if (call.slot == slot) calls.push_back(call);
  }
  return calls;
}

void ClearCalls() {
  Rig& rig = TheRig();
  Lock lock(rig.logMutex);
  rig.calls.clear();
}

void SetCallHook(CallHook hook, bool keepLog) {
  Rig& rig = TheRig();
  Lock lock(rig.logMutex);
  rig.hook = std::move(hook);
  rig.keepLog = keepLog;
}

}  // namespace emu
