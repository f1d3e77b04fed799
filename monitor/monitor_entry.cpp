// The Windows 95 face's front door: the image entry point and the one exported
// operation that hands the Windows 95 spooler our table of port operations.
//
// DllEntryPoint is the entry point of kovirlm.dll itself, not a function the C
// runtime's start-up code calls on our behalf (cmake/windows_dll.cmake). That is
// sound only while the module needs no runtime start-up: no global constructors
// or destructors, no thread-local variables, no atexit handlers, no data imported
// from other DLLs that would need the runtime's relocation pass. Keep it that way;
// tests/checks.cmake fails the build's checks when a constructor, a TLS directory
// or a runtime pseudo-relocation appears in the DLL.
#include "monitor/monitor.h"

extern "C" {

BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) {
  // Nothing to set up at attach and nothing to undo at detach: the lock is
  // prepared by the first face entry the spooler calls, and the spooler never
  // unloads a monitor while its ports are open.
  return TRUE;
}

BOOL WINAPI InitializeMonitorEx(LPSTR, LPMONITOR monitor) {
  // The spooler calls this once per process, before any port call.
  InitializeMonitorLock();

  // Every slot is written, so the spooler never finds a stale pointer in the
  // six operations we do not offer (ports are listed, added and configured by
  // the device monitor below us).
  monitor->pfnEnumPorts = nullptr;
  monitor->pfnOpenPort = nullptr;
  monitor->pfnOpenPortEx = OpenPortEx;
  monitor->pfnStartDocPort = StartDocPort;
  monitor->pfnWritePort = WritePort;
  monitor->pfnReadPort = ReadPort;
  monitor->pfnEndDocPort = EndDocPort;
  monitor->pfnClosePort = ClosePort;
  monitor->pfnAddPort = nullptr;
  monitor->pfnConfigurePort = nullptr;
  monitor->pfnDeletePort = nullptr;
  monitor->pfnGetPrinterDataFromPort = GetPrinterDataFromPort;
  monitor->pfnSetPortTimeOuts = nullptr;
  return TRUE;
}

}  // extern "C"
