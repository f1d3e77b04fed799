// How long a spooler thread waits to stop a port whose poller is between polls.
//
// Both EndDocPort and ClosePort must end the poller before they go on, and the
// poller spends nearly all of a job waiting for its next poll, so this is the
// wait a user sees at the end of almost every job. Each run starts a document on
// a matched printer (its poller starts), lets the poller wait a varying few
// milliseconds into its interval, and times the stop.
//
// Then the stop that cannot end soon: one port's printer is off line and its
// poller is inside a device read that blocks for 5 s when its EndDocPort comes.
// Another port's whole document (open, StartDocPort, a write, EndDocPort,
// ClosePort), on a printer that is fine, is timed meanwhile: the spooler thread
// printing there must not wait for the stuck one.
#include <thread>

#include "bench/bench_rig.h"
#include "bench/probes.h"
#include "bench/sink_port.h"

namespace bench {
namespace {

constexpr double kMaxP99Ms = 20;
constexpr DWORD kOffLineBlockMs = 5000;
constexpr double kMaxOtherPortP99Ms = 5;

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

// Polls `condition` every millisecond, for at most 10 s.
template <typename Condition>
bool Eventually(Condition condition) {
  for (int waited = 0; !condition(); ++waited) {
    if (waited >= 10000) return false;
    Sleep(1);
  }
  return true;
}

// The other port's documents, timed while the off-line port's EndDocPort waits for
// its poller's blocked read; `whileBlocked` counts those that started and ended
// with the read still blocked.
std::vector<double> OtherPortWhileOneIsOffLine(int runs, int& whileBlocked) {
  std::vector<double> documentMs;
  PortSetup offLine{"BENCHOFF:", "Bench Off Line", kMatchedDeviceId, 1, 100};
  PortSetup other{"BENCHON:", "Bench On Line"};
  PortRecord* stuck = OpenBenchPort(offLine);
  Spooler().pfnClosePort(OpenBenchPort(other));  // only its printer and key stay
  if (stuck != nullptr && StartDocument(stuck, offLine, 1)) {
    emu::SetOffline(offLine.port, kOffLineBlockMs);
    const bool blocked = Eventually([&] { return emu::BlockedCalls(offLine.port) > 0; });
    std::thread ender([stuck] { EndDocument(stuck); });
    Eventually([stuck] { return !HasStatusBits(stuck, PS_POLLER_RUN); });
    char page[] = "page";
    for (int run = 0; blocked && run < runs; ++run) {
      const Clock::time_point start = Clock::now();
      PortRecord* record = Reopen(other);
      DWORD written = 0;
      const bool printed =
          record != nullptr && StartDocument(record, other, run + 1) &&
          Spooler().pfnWritePort(record, reinterpret_cast<LPBYTE>(page), 4, &written) &&
          EndDocument(record);
      if (record != nullptr) Spooler().pfnClosePort(record);
      documentMs.push_back(MillisecondsBetween(start, Clock::now()));
      if (printed && emu::BlockedCalls(offLine.port) > 0) ++whileBlocked;
    }
    emu::SetOffline(offLine.port, 0);
    ender.join();
  }
  CloseBenchPort(stuck, offLine);
  CloseBenchPort(nullptr, other);
  return documentMs;
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

  int whileBlocked = 0;
  const std::vector<double> otherMs = OtherPortWhileOneIsOffLine(runs, whileBlocked);

  return {
      {"Stop: a poller was running at every stop", pollerRunning == 2 * runs ? 1.0 : 0.0, "yes=1",
       Goal::AtLeast, 1, 0, true},
      {"Stop latency EndDocPort, p50", Percentile(endDocMs, 50), "ms", Goal::Report, 0, 3},
      {"Stop latency EndDocPort, p99", Percentile(endDocMs, 99), "ms", Goal::AtMost, kMaxP99Ms, 3},
      {"Stop latency ClosePort, p50", Percentile(closeMs, 50), "ms", Goal::Report, 0, 3},
      {"Stop latency ClosePort, p99", Percentile(closeMs, 99), "ms", Goal::AtMost, kMaxP99Ms, 3},
      {"Off line: every other-port document printed while the read blocked",
       whileBlocked == runs ? 1.0 : 0.0, "yes=1", Goal::AtLeast, 1, 0, true},
      {"Another port's whole document while one port's read blocks 5 s, p50",
       Percentile(otherMs, 50), "ms", Goal::Report, 0, 3},
      {"Another port's whole document while one port's read blocks 5 s, p99",
       Percentile(otherMs, 99), "ms", Goal::AtMost, kMaxOtherPortP99Ms, 3},
  };
}

}  // namespace bench
