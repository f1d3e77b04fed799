// The module-wide list of port records and the one lock that guards it.
#pragma once

#include "platform/win32.h"
#include "port/port_record.h"

struct MonitorInstance;

// PortList holds the ports that are open and not being closed, by name and
// instance: OpenPortEx searches it for a name in use and lists its record there,
// a close takes the record off it, Shutdown takes all of its instance's. It is
// read and changed only with MonitorLock held, and MonitorLock guards nothing
// else: it is held only while the list is searched or changed, never across a
// device-monitor call, a spooler call or a wait. The calls on an open port never
// take it: they find their record in the port table (core/port_table.h). Each
// port's state is its record's own (port/port_record.h says who may touch what).
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

// Port records. CreatePortRecord makes an unlisted record (its stop event and
// printer-name copy; null when memory or the event is short); OpenPortEx lists
// it. FindPortRecord is called with MonitorLock held; a name finds only a record
// of its own form and instance (a face never sees the other face's ports, nor an
// NT instance another's).
PortRecord* CreatePortRecord(SpoolerText portName, SpoolerText printerName);
PortRecord* FindPortRecord(PortRecord* list, SpoolerText portName, const MonitorInstance* instance);
// The one way a port leaves PortList: takes `record` off it and marks it
// PS_CLOSING, in one step under MonitorLock, so no spooler call gets in after
// (core/port_call.h). The caller then owns the record and closes it. False,
// changing nothing, for a record that is not listed.
bool TakeForClosing(PortRecord* record);
