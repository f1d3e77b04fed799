// The module-wide port list and the one lock that guards it.
//
// Both are plain zero-initialised globals: the DLL runs no constructors at load
// (its entry point is DllEntryPoint itself), so nothing here may need one.
// InitializeMonitorEx initialises the lock once; it is never deleted, since the
// module has no shutdown path and a port call may arrive at any time until the
// spooler unloads us.
#include "monitor/port_list.h"

PortRecord* PortList = nullptr;
CRITICAL_SECTION MonitorLock;

#ifdef NDEBUG

void EnterMonitorLock() {
  EnterCriticalSection(&MonitorLock);
}

void LeaveMonitorLock() {
  LeaveCriticalSection(&MonitorLock);
}

bool MonitorLockHeldHere() {
  return true;
}

#else

namespace {
// How deep the calling thread is inside MonitorLock (it is recursive). Only the
// builds with assertions keep it: the shipped DLL has no thread-local storage.
thread_local int MonitorLockDepth = 0;
}  // namespace

void EnterMonitorLock() {
  EnterCriticalSection(&MonitorLock);
  ++MonitorLockDepth;
}

void LeaveMonitorLock() {
  --MonitorLockDepth;
  LeaveCriticalSection(&MonitorLock);
}

bool MonitorLockHeldHere() {
  return MonitorLockDepth > 0;
}

#endif
