// A spooler call on one port, counted while it runs, so that ClosePort and
// Shutdown free nothing a call in progress still uses.
//
// The spooler makes one call at a time on a port in normal printing, and the
// port's poller runs beside it on its own thread. ClosePort and Shutdown are the
// exception: they may come while another call on the same port is still blocked
// (its OpenPortEx, StartDocPort waiting for the application's thread or inside
// the job-start exchange, or any call whose device monitor waits out its
// time-out). So every other call gets in through a PortCall: it finds its record
// in the port table and counts itself in, both under its chain's lock
// (core/port_table.h); an open is counted from the moment it lists its record. A
// close takes the record off the list and sets PS_CLOSING under the same lock,
// which ends the waits of a call in progress (PauseUnlessClosing); then it waits
// for the count to reach zero before it ends the port's document and frees the
// record. A call that comes later finds the port closing, or not in the table at
// all, and fails with ERROR_INVALID_HANDLE without touching it.
//
// What this asks of the spooler, as the NT family's and Windows 95's do it:
// - no lock of its own held across ClosePort or Shutdown that a call in progress
//   on the port needs in order to return, since the close waits for that call;
//   the monitor calls back into the spooler only where the Windows 95 face must
//   (OpenPrinterA, ClosePrinter), and the NT face not at all;
// - no call on a port after its ClosePort, or its instance's Shutdown, returned:
//   the record is freed by then, and a freed block may be a new port's.
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

// The one way a close waits for others to leave: looks at `done` every few
// milliseconds until it holds. For a count of calls in progress, or of an
// instance's ports, that only falls: each thing counted is a call running on
// another thread, which ends on its own once the port is marked closing, or waits
// out no more than its device monitor's time-out.
void PauseBeforeLookingAgain();
template <typename Done>
void WaitUntilDone(Done done) {
  while (!done()) PauseBeforeLookingAgain();
}

// Waits until no call counted in by PortCall (or the open) is running on a record
// that is marked closing (core/port_list.h: TakeForClosing).
void WaitForPortCalls(PortRecord* record);
