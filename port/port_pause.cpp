// The pauses of a spooler call on a port, cut short when the port is closed.
//
// ClosePort and Shutdown may come while a call on the port is still running (a
// printer deleted, the spooler stopping). They set PS_CLOSING and wait for the
// call to return before anything of the port goes, so the call's own pauses must
// end soon after: they sleep in steps and look at the bit between two. A step is
// short enough for a close to feel immediate and long enough that a pausing call
// costs next to nothing.
#include "port/port_record.h"

namespace {
constexpr DWORD CLOSE_CHECK_STEP_MS = 50;
}  // namespace

bool PauseUnlessClosing(PortRecord* record, DWORD ms) {
  while (!HasStatusBits(record, PS_CLOSING)) {
    if (ms == 0) return true;
    const DWORD step = ms < CLOSE_CHECK_STEP_MS ? ms : CLOSE_CHECK_STEP_MS;
    Sleep(step);
    ms -= step;
  }
  return false;
}
