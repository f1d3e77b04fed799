// How long StartDocPort keeps the spooler waiting at the start of a job.
//
// For a matched KP-6600S it does the most it ever does without the ink query:
// registry flags, the device ID, the status command and a new poller thread. For
// another maker's printer it stops after the device ID. The two alternate run by
// run, so a busier stretch of the machine falls on both alike.
#include "bench/bench_rig.h"
#include "bench/probes.h"
#include "bench/sink_port.h"
#include "printer_status/remote_commands.h"

namespace bench {
namespace {

constexpr double kMaxP99Ms = 5;

struct StartRuns {
  std::vector<double> ms;
  int asExpected = 0;  // runs whose printer got exactly what its kind should
};

// Times one StartDocPort and checks what it did: the matched printer receives
// its status command and gets a poller, the other receives nothing and gets none.
void TimeStart(PortRecord* record, const PortSetup& setup, DWORD jobId, bool matched,
               StartRuns& runs) {
  const Clock::time_point start = Clock::now();
  const BOOL started = StartDocument(record, setup, jobId);
  runs.ms.push_back(MillisecondsBetween(start, Clock::now()));
  if (!started) return;

  const SinkTotals sent = Totals(setup.port);
  const bool expected =
      matched ? HasStatusBits(record, PS_POLLER_RUN) && sent.bytes == StatusCommandB.size() &&
                    sent.digest == emu::Digest(emu::kDigestStart, AsChars(StatusCommandB.data()),
                                               StatusCommandB.size())
              : !HasStatusBits(record, PS_POLLER_RUN) && sent.bytes == 0;
  if (expected) ++runs.asExpected;
  EndDocument(record);
}

}  // namespace

std::vector<Figure> RunJobStartProbe(const ProbeOptions& options) {
  const int runs = options.smoke ? 20 : 200;
  PortSetup matchedSetup{"BENCHJK:", "Bench Start KP-6600S"};
  PortSetup otherSetup{"BENCHJO:", "Bench Start Other Maker", kOtherMakerDeviceId};
  PortRecord* matched = OpenBenchPort(matchedSetup);
  PortRecord* other = OpenBenchPort(otherSetup);

  StartRuns matchedRuns, otherRuns;
  for (int run = 0; matched != nullptr && other != nullptr && run < runs; ++run) {
    TimeStart(matched, matchedSetup, static_cast<DWORD>(run + 1), true, matchedRuns);
    Sleep(2);
    TimeStart(other, otherSetup, static_cast<DWORD>(run + 1), false, otherRuns);
    Sleep(2);
  }
  CloseBenchPort(matched, matchedSetup);
  CloseBenchPort(other, otherSetup);

  return {
      {"Job start: every document did what its printer calls for",
       matchedRuns.asExpected == runs && otherRuns.asExpected == runs ? 1.0 : 0.0, "yes=1",
       Goal::AtLeast, 1, 0, true},
      {"StartDocPort, matched KP-6600S (command, poller), p50", Percentile(matchedRuns.ms, 50),
       "ms", Goal::Report, 0, 3},
      {"StartDocPort, matched KP-6600S (command, poller), p99", Percentile(matchedRuns.ms, 99),
       "ms", Goal::AtMost, kMaxP99Ms, 3},
      {"StartDocPort, another maker's printer, p50", Percentile(otherRuns.ms, 50), "ms",
       Goal::Report, 0, 3},
      {"StartDocPort, another maker's printer, p99", Percentile(otherRuns.ms, 99), "ms",
       Goal::AtMost, kMaxP99Ms, 3},
  };
}

}  // namespace bench
