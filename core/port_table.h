// The open ports by handle: where every spooler call on a port finds its record.
//
// A print server holds hundreds of ports, and each write of each job looks its
// port up here, so a look-up costs the same with a thousand ports open as with
// one: the handle picks one of PORT_TABLE_BUCKETS short chains. And no one lock is
// taken by every call of every port: each chain is guarded by one of
// PORT_TABLE_LOCKS critical sections (chain i by lock i % PORT_TABLE_LOCKS), held
// only while that chain is searched or changed, never across a call out of the
// monitor or a wait.
//
// A record is in the table from the moment its open lists it until it is freed,
// so a handle that is not in the table is one we never gave out or one already
// freed, and it is never read. PS_CLOSING is set under the chain's lock
// (MarkClosing), and a call counts itself in under the same lock (CountCallIn):
// so every call either counted in before the close marked the port, and the close
// waits for it, or finds the port closing and gets nothing.
#pragma once

#include "platform/win32.h"
#include "port/port_record.h"

constexpr DWORD PORT_TABLE_BITS = 10;
constexpr DWORD PORT_TABLE_BUCKETS = 1u << PORT_TABLE_BITS;
constexpr DWORD PORT_TABLE_LOCKS = 16;

// Prepares and, for a DLL being unloaded, deletes the chains' locks; with
// MonitorLock (core/monitor_lock.cpp).
void InitializePortTableLocks();
void DeletePortTableLocks();

void AddToPortTable(PortRecord* record);
void RemoveFromPortTable(PortRecord* record);
// Whether `port` is a record in the table (open, or being closed). Reads nothing
// of it.
bool InPortTable(HANDLE port);

// The record `port` names with one more call counted in, or null when the port
// is not in the table or is being closed.
PortRecord* CountCallIn(HANDLE port);
// Sets PS_CLOSING: no call counts in after this.
void MarkClosing(PortRecord* record);
// Counts a call out unless the port is being closed, in one step with the close's
// mark: true when the call was counted out. False leaves it counted in, so the
// close goes on waiting while the caller undoes what it did.
bool CountOutUnlessClosing(PortRecord* record);
