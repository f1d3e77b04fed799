// The simulated spooler's part of a run: set up the emulated printer and the
// status application stand-in, then print one job through the monitor the way
// the spooler of the chosen face does (OpenPortEx, StartDocPort, WritePort...,
// EndDocPort, ClosePort, and on the NT family Shutdown), telling the timeline
// what it does.
#pragma once

#include <string>

#include "tools/console.h"
#include "tools/monitor_loader.h"
#include "tools/spool_options.h"

namespace spool {

// Attaches the emulated printer to the port and lets the status application
// register it (or, with --no-status-app, leave its key with StMonExistFlag 0).
// Any key left by an earlier run is removed first, so every run starts the same.
void SetUpScenario(const SpoolOptions& options);
// Removes the printer's key again, leaving the registry as the run found it.
void TearDownScenario(const SpoolOptions& options);

// Prints `job` through the loaded monitor, stacked on the emulated device
// monitor's table of the same face (its MONITOR2 with its instance handle for the
// NT family). Names go to the NT face in UTF-16. Returns an empty string or a
// one-line error.
std::string PrintJob(const LoadedMonitor& monitor, const SpoolOptions& options,
                     const std::string& job, Console& console);

// The face's entry point and what it returned, for the timeline.
std::string EntryLine(const LoadedMonitor& monitor, const std::string& loaded);

}  // namespace spool
