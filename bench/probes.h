// The probes: measurements over seconds of wall time that Google Benchmark's
// iteration model does not fit (CPU burnt while waiting, stop and start latency,
// many ports at once). Each returns its figures; probes_main runs one per process
// so that CPU time and registry counts belong to that probe alone.
#pragma once

#include <vector>

#include "bench/figures.h"

namespace bench {

struct ProbeOptions {
  bool smoke = false;  // a short run that only shows the probe works
};

// CPU time and registry key opens while the monitor waits: a poller between
// polls, a poller with polling switched off, a StartDocPort held back by the
// status application's real-time thread.
std::vector<Figure> RunIdleProbe(const ProbeOptions& options);
// EndDocPort and ClosePort on a port whose poller is between polls, and another
// port's whole document while one port's device read is blocked.
std::vector<Figure> RunStopProbe(const ProbeOptions& options);
// StartDocPort for a matched printer and for another maker's.
std::vector<Figure> RunJobStartProbe(const ProbeOptions& options);
// Many ports printing at once, each with its poller.
std::vector<Figure> RunScaleProbe(const ProbeOptions& options);

}  // namespace bench
