// A spooler call on one port, counted while it runs, so that ClosePort and
// Shutdown free nothing a call in progress still uses.
//
// The spooler makes one call at a time on a port in normal printing, and the
// port's poller runs beside it on its own thread. ClosePort and Shutdown are the
// exception: they may come while another call on the same port is still blocked
// (StartDocPort waiting for the application's thread or inside the job-start
// exchange, or any call whose device monitor waits out its time-out). So every
// other call gets in through a PortCall: it finds its record in PortList and
// counts itself in, both under MonitorLock. A close takes the record off the list
// under the same lock and sets PS_CLOSING, which ends the waits of a call in
// progress (PauseUnlessClosing); then it waits for the count to reach zero before
// it ends the port's document and frees the record. A call that comes later finds
// no record and fails with ERROR_INVALID_HANDLE without touching it.
#pragma once

#include "platform/win32.h"
#include "port/port_record.h"

struct PortCall {
  explicit PortCall(HANDLE port);
  ~PortCall();
  PortCall(const PortCall&) = delete;
  PortCall& operator=(const PortCall&) = delete;

  PortRecord* record;  // the port's record; null when the port is not open (then the
                       // error is set)
};

// Waits until no call counted in by PortCall is running on a record that is off
// the list (core/port_list.h: UnlistForClosing).
void WaitForPortCalls(PortRecord* record);
