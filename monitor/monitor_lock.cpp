// The module-wide port list and the one lock that guards it.
//
// Both are plain zero-initialised globals: the DLL runs no constructors at load
// (its entry point is DllEntryPoint itself), so nothing here may need one.
// InitializeMonitorEx initialises the lock once; it is never deleted, since the
// module has no shutdown path and a port call may arrive at any time until the
// spooler unloads us.
#include "monitor/port_record.h"

PortRecord* PortList = nullptr;
CRITICAL_SECTION MonitorLock;

void EnterMonitorLock() {
  EnterCriticalSection(&MonitorLock);
}

void LeaveMonitorLock() {
  LeaveCriticalSection(&MonitorLock);
}
