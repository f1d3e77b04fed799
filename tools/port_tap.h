// What crosses the port, put on the timeline: a hook on the emulated device
// monitor's call log, so the monitor is stacked on the device monitor itself and
// every call it makes shows as the device monitor saw it.
//
// The tap tells the spooler's job data from the monitor's own commands by the
// thread and the moment: the spooler's writes happen inside a JobWriteScope. It
// keeps the order of all accepted writes so the job can be cut out of what the
// printer received.
#pragma once

#include <vector>

#include "tools/console.h"
#include "tools/job_data.h"

namespace spool {

// Events go to `console` (which must outlive the run). The calling thread is the
// spooler's; reads on any other thread are the poller's.
void StartPortTap(Console* console);

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
