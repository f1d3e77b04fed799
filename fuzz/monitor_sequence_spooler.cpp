// The two faces' calls, each through the table the spooler of that face holds.
// Every call goes through the table's entry, never straight to the function, so a
// face that filled its table wrongly shows.
#include "fuzz/monitor_sequence_spooler.h"

#include <algorithm>

#include "emulator/device_monitor.h"
#include "emulator/wide_text.h"
#include "monitor/monitor.h"
#include "monitor_nt/monitor_nt.h"

namespace sequence {
namespace {

MONITOR gWin95Table{};               // filled once by InitializeMonitorEx
const MONITOR2* gNtTable = nullptr;  // InitializePrintMonitor2 hands every instance the same

bool Nt(const Spooler& spooler) {
  return spooler.face == Face::Nt;
}

}  // namespace

void PrepareFaces() {
  InitializeMonitorEx(nullptr, &gWin95Table);
}

bool NewInstance(Spooler& spooler) {
  HANDLE instance = nullptr;
  const MONITOR2* table = InitializePrintMonitor2(nullptr, &instance);
  if (table == nullptr) return false;
  gNtTable = table;
  spooler.instances.push_back(instance);
  return true;
}

void ShutdownInstance(Spooler& spooler, HANDLE instance) {
  std::erase(spooler.instances, instance);
  gNtTable->pfnShutdown(instance);
}

BOOL OpenPortOn(const Spooler& spooler, HANDLE instance, const std::string& port,
                const std::string& printer, HANDLE* handle) {
  if (!Nt(spooler)) {
    std::string portName = port;
    std::string printerName = printer;
    return gWin95Table.pfnOpenPortEx(portName.data(), printerName.data(), handle,
                                     emu::DeviceMonitor());
  }
  emu::WideString portName = emu::Wide(port);
  emu::WideString printerName = emu::Wide(printer);
  return gNtTable->pfnOpenPortEx(instance, emu::kPortMonitorInstance, portName.data(),
                                 printerName.data(), handle, emu::DeviceMonitor2());
}

BOOL StartDocOn(const Spooler& spooler, HANDLE port, const std::optional<std::string>& printer,
                DWORD jobId) {
  if (!Nt(spooler)) {
    std::string name = printer.value_or("");
    return gWin95Table.pfnStartDocPort(port, printer ? name.data() : nullptr, jobId, 1, nullptr);
  }
  emu::WideString name = emu::Wide(printer.value_or(""));
  return gNtTable->pfnStartDocPort(port, printer ? name.data() : nullptr, jobId, 1, nullptr);
}

BOOL WriteOn(const Spooler& spooler, HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written) {
  return Nt(spooler) ? gNtTable->pfnWritePort(port, buffer, count, written)
                     : gWin95Table.pfnWritePort(port, buffer, count, written);
}

BOOL ReadOn(const Spooler& spooler, HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read) {
  return Nt(spooler) ? gNtTable->pfnReadPort(port, buffer, count, read)
                     : gWin95Table.pfnReadPort(port, buffer, count, read);
}

BOOL EndDocOn(const Spooler& spooler, HANDLE port) {
  return Nt(spooler) ? gNtTable->pfnEndDocPort(port) : gWin95Table.pfnEndDocPort(port);
}

BOOL CloseOn(const Spooler& spooler, HANDLE port) {
  return Nt(spooler) ? gNtTable->pfnClosePort(port) : gWin95Table.pfnClosePort(port);
}

BOOL GetDataOn(const Spooler& spooler, HANDLE port, DWORD controlId, LPVOID outBuffer,
               DWORD outSize, LPDWORD returned) {
  if (!Nt(spooler)) {
    return gWin95Table.pfnGetPrinterDataFromPort(port, controlId, nullptr, nullptr, 0,
                                                 static_cast<LPSTR>(outBuffer), outSize, returned);
  }
  return gNtTable->pfnGetPrinterDataFromPort(port, controlId, nullptr, nullptr, 0,
                                             static_cast<LPWSTR>(outBuffer), outSize, returned);
}

}  // namespace sequence
