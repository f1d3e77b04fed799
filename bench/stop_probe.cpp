// How long a spooler thread waits to stop a port whose poller is between polls.
//
// Both EndDocPort and ClosePort must end the poller before they go on, and the
// poller spends nearly all of a job waiting for its next poll, so this is the
// wait a user sees at the end of almost every job. Each run starts a document on
// a matched printer (its poller starts), lets the poller wait a varying few
// milliseconds into its interval, and times the stop.
#include "bench/bench_rig.h"
#include "bench/probes.h"
#include "bench/sink_port.h"

namespace bench {
namespace {

constexpr double kMaxP99Ms = 20;

// 5 to 45 ms into the poller's wait, spread evenly over the runs.
DWORD WaitBeforeStop(int run) {
  return 5 + static_cast<DWORD>((run * 37) % 41);
}

PortRecord* Reopen(const PortSetup& setup) {
  HANDLE handle = nullptr;
  if (!Spooler().pfnOpenPortEx(const_cast<LPSTR>(setup.port.c_str()),
                               const_cast<LPSTR>(setup.printer.c_str()), &handle, SinkMonitor())) {
    return nullptr;
  }
  return static_cast<PortRecord*>(handle);
}

}  // namespace

std::vector<Figure> RunStopProbe(const ProbeOptions& options) {
  const int runs = options.smoke ? 20 : 200;
  int pollerRunning = 0;
  std::vector<double> endDocMs, closeMs;

  PortSetup setup{"BENCHSTOP:", "Bench Stop"};
  PortRecord* record = OpenBenchPort(setup);
  for (int run = 0; record != nullptr && run < runs; ++run) {
    if (!StartDocument(record, setup, static_cast<DWORD>(run + 1))) break;
    if (HasStatusBits(record, PS_POLLER_RUN)) ++pollerRunning;
    Sleep(WaitBeforeStop(run));
    const Clock::time_point start = Clock::now();
    EndDocument(record);
    endDocMs.push_back(MillisecondsBetween(start, Clock::now()));
  }

  // ClosePort with the document still open: the spooler closing a port in the
  // middle of a job.
  for (int run = 0; record != nullptr && run < runs; ++run) {
    if (!StartDocument(record, setup, static_cast<DWORD>(run + 1))) break;
    if (HasStatusBits(record, PS_POLLER_RUN)) ++pollerRunning;
    Sleep(WaitBeforeStop(run));
    const Clock::time_point start = Clock::now();
    Spooler().pfnClosePort(record);
    closeMs.push_back(MillisecondsBetween(start, Clock::now()));
    record = Reopen(setup);
  }
  CloseBenchPort(record, setup);

  return {
      {"Stop: a poller was running at every stop", pollerRunning == 2 * runs ? 1.0 : 0.0, "yes=1",
       Goal::AtLeast, 1, 0, true},
      {"Stop latency EndDocPort, p50", Percentile(endDocMs, 50), "ms", Goal::Report, 0, 3},
      {"Stop latency EndDocPort, p99", Percentile(endDocMs, 99), "ms", Goal::AtMost, kMaxP99Ms, 3},
      {"Stop latency ClosePort, p50", Percentile(closeMs, 50), "ms", Goal::Report, 0, 3},
      {"Stop latency ClosePort, p99", Percentile(closeMs, 99), "ms", Goal::AtMost, kMaxP99Ms, 3},
  };
}

}  // namespace bench
