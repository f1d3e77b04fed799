// The NT face's front door: InitializePrintMonitor2 gives the spooler our MONITOR2
// table and a monitor handle of our own, one per spooler instance that loads us.
//
// The handle is a small heap block that names the instance (MonitorInstance,
// core/port_ops.h): every port opened through it is marked with it, so that each
// instance has port names of its own and its Shutdown closes its own ports and no
// other instance's. The table is constant data, filled in at build time; the DLL
// runs no constructors.
#include <cstddef>
#include <new>

#include "monitor_nt/monitor_nt.h"

namespace {

constexpr DWORD INSTANCE_SIGNATURE = 0x544E;  // the bytes 4E 54: "NT"

// A language monitor fills the port calls and Shutdown; enumerating, adding,
// configuring and deleting ports, and the Xcv calls, are the port monitor's.
// Not const only because the spooler takes it as LPMONITOR2; nothing writes it.
// Headers for Windows XP and later declare entries behind pfnShutdown; they stay
// zero, and cbSize tells the spooler they are not there.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
MONITOR2 SpoolerTable = {
    .cbSize = MONITOR2_WINDOWS_2000_SIZE,
    .pfnEnumPorts = nullptr,
    .pfnOpenPort = nullptr,
    .pfnOpenPortEx = OpenPortExNt,
    .pfnStartDocPort = StartDocPortNt,
    .pfnWritePort = WritePort,
    .pfnReadPort = ReadPort,
    .pfnEndDocPort = EndDocPort,
    .pfnClosePort = ClosePort,
    .pfnAddPort = nullptr,
    .pfnAddPortEx = nullptr,
    .pfnConfigurePort = nullptr,
    .pfnDeletePort = nullptr,
    .pfnGetPrinterDataFromPort = GetPrinterDataFromPortNt,
    .pfnSetPortTimeOuts = nullptr,
    .pfnXcvOpenPort = nullptr,
    .pfnXcvDataPort = nullptr,
    .pfnXcvClosePort = nullptr,
    .pfnShutdown = ShutdownNt,
};
#pragma GCC diagnostic pop

}  // namespace

extern "C" LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT, PHANDLE monitor) {
  // Nothing of MONITORINIT is needed: the monitor keeps nothing in its own
  // registry key, and the printers' keys are reached the same way on a cluster.
  if (monitor == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  InitializeMonitorLock();
  void* block = LocalAlloc(LMEM_ZEROINIT, sizeof(MonitorInstance));
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Constructed in place so that its atomic count is a live object.
  auto* instance = new (block) MonitorInstance{};
  instance->signature = INSTANCE_SIGNATURE;
  *monitor = instance;
  return &SpoolerTable;
}

VOID WINAPI ShutdownNt(HANDLE monitor) {
  // Every port of this instance is closed (a document in progress ended as
  // EndDocPort ends it, its poller stopped and waited for) before the handle goes:
  // the spooler may unload the DLL as soon as we return, so no thread of ours may
  // be left running in it.
  auto* instance = static_cast<MonitorInstance*>(monitor);
  CloseInstancePorts(instance);
  instance->~MonitorInstance();
  LocalFree(instance);
}
