// The module-wide list of port records and the one lock that guards it.
#pragma once

#include "platform/win32.h"
#include "port/port_record.h"

// PortList is read and changed only with MonitorLock held.
extern PortRecord* PortList;
extern CRITICAL_SECTION MonitorLock;

void EnterMonitorLock();
void LeaveMonitorLock();
// Whether the calling thread holds MonitorLock. Kept only in builds with
// assertions, for the invariants that need the lock; elsewhere always true.
bool MonitorLockHeldHere();

// RAII form of the pair above for code paths with more than one exit.
struct MonitorLockGuard {
  MonitorLockGuard() { EnterMonitorLock(); }
  ~MonitorLockGuard() { LeaveMonitorLock(); }
  MonitorLockGuard(const MonitorLockGuard&) = delete;
  MonitorLockGuard& operator=(const MonitorLockGuard&) = delete;
};

// Port records. Create and Delete are called with MonitorLock held.
PortRecord* CreatePortRecord(LPSTR portName, LPSTR printerName);
PortRecord* FindPortRecord(PortRecord* list, LPCSTR portName);
BOOL DeletePortRecord(PortRecord* record);
