// The simulated spooler's part of a run: set up the emulated printer and the
// status application stand-in, then print one job through the monitor the way
// the spooler does (OpenPortEx, StartDocPort, WritePort..., EndDocPort,
// ClosePort), telling the timeline what it does.
#pragma once

#include <string>

#include "port/monitor_table.h"
#include "tools/console.h"
#include "tools/spool_options.h"

namespace spool {

// Attaches the emulated printer to the port and lets the status application
// register it (or, with --no-status-app, leave its key with StMonExistFlag 0).
// Any key left by an earlier run is removed first, so every run starts the same.
void SetUpScenario(const SpoolOptions& options);
// Removes the printer's key again, leaving the registry as the run found it.
void TearDownScenario(const SpoolOptions& options);

// Prints `job` through the spooler-side table `monitor`, stacked on
// `deviceMonitor`. Returns an empty string or a one-line error.
std::string PrintJob(MONITOR* monitor, MONITOR* deviceMonitor, const SpoolOptions& options,
                     const std::string& job, Console& console);

}  // namespace spool
