// A tap between the monitor and the emulated device monitor: a MONITOR table of
// the same layout whose slots log what crosses the port on the timeline and then
// call the device monitor's own slots. The monitor is stacked on the tap exactly
// as it would be on the device monitor.
//
// The tap tells the spooler's job data from the monitor's own commands by the
// thread and the moment: the spooler's writes happen inside a JobWriteScope. It
// keeps the order of all accepted writes so the job can be cut out of what the
// printer received.
#pragma once

#include <vector>

#include "port/monitor_table.h"
#include "tools/console.h"
#include "tools/job_data.h"

namespace spool {

// Wraps `device` (kept, must outlive the tap); events go to `console`. The calling
// thread is the spooler's; reads on any other thread are the poller's.
MONITOR* InstallPortTap(MONITOR* device, Console* console);

// Marks the current thread's writes as the spooler's job data while it lives.
struct JobWriteScope {
  JobWriteScope();
  ~JobWriteScope();
  JobWriteScope(const JobWriteScope&) = delete;
  JobWriteScope& operator=(const JobWriteScope&) = delete;
};

// Every write the device monitor accepted, in order.
std::vector<WriteSegment> TappedWrites();

// Counts of what the tap saw, for the summary.
struct TapCounts {
  int commands = 0;
  int repliesRead = 0;
  int emptyReads = 0;
  int pollerReplies = 0;
};
TapCounts TappedCounts();

}  // namespace spool
