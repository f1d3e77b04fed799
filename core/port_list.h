// The module-wide list of port records and the one lock that guards it.
#pragma once

#include "platform/win32.h"
#include "port/port_record.h"

// PortList is read and changed only with MonitorLock held, and MonitorLock guards
// nothing else: it is held only while the list is searched or changed, never
// across a device-monitor call, a spooler call or a wait. Each port's state is
// its record's own (port/port_record.h says who may touch what).
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

// Port records. CreatePortRecord makes an unlisted record (its events and
// printer-name copy; null when memory or an event is short); OpenPortEx lists it.
// FindPortRecord is called with MonitorLock held; a name finds only a record of
// its own form (a face never sees the other face's ports). DeletePortRecord takes
// the lock to unlist the record, then frees it outside the lock; FALSE, freeing
// nothing, for a record that is not listed.
PortRecord* CreatePortRecord(SpoolerText portName, SpoolerText printerName);
// Takes `record` off PortList for closing and sets PS_CLOSING, in one step under
// MonitorLock, so no spooler call gets in after (core/port_call.h); false,
// changing nothing, for a record that is not listed.
bool UnlistForClosing(PortRecord* record);
PortRecord* FindPortRecord(PortRecord* list, SpoolerText portName);
BOOL DeletePortRecord(PortRecord* record);
