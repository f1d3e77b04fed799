// Many ports printing at once, each on a matched printer with its own poller.
//
// Every port gets its own spooler thread, which starts the document (status
// command, poller) and then writes 4 KiB every 50 ms until the common deadline,
// digesting what it sent as the sink's printer does. Afterwards:
// - every job must have arrived byte for byte: the status command, then the data;
// - the process's CPU time over the printing window, all of it counted against
//   the monitor (spooler threads, pollers and the sink alike), with the
//   pollers' share (what the spooler threads did not use) shown beside it;
// - every poller must have kept its interval: the sink notes when each read
//   arrived, each poll is one read (the printer always has a status to give), and
//   a port's lateness is the mean of its gaps (from the document's start to the
//   first poll, then poll to poll) over the interval. A poll still missing at the
//   deadline counts with the gap it has already run up.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <latch>
#include <string>
#include <thread>

#include "bench/bench_rig.h"
#include "bench/probes.h"
#include "bench/sink_port.h"
#include "platform/diagnostics.h"
#include "printer_status/remote_commands.h"

namespace bench {
namespace {

constexpr int kPorts = 64;
constexpr DWORD kWriteSize = 4096;
constexpr auto kWriteEvery = std::chrono::milliseconds(50);
constexpr std::size_t kPatternSize = 65536 + kWriteSize;
constexpr double kMaxCpuSecondsPer10s = 0.5;
constexpr double kMaxLatenessPercent = 20;

struct PortJob {
  PortSetup setup;
  PortRecord* record = nullptr;
  std::vector<BYTE> pattern;
  // Filled by the port's spooler thread.
  BOOL started = FALSE;
  bool writesAccepted = true;
  Clock::time_point startedAt;
  std::uint64_t expectedDigest = emu::kDigestStart;
  std::uint64_t expectedBytes = 0;
  double threadCpuSeconds = 0;
};

std::vector<BYTE> Pattern(int port) {
  std::vector<BYTE> bytes(kPatternSize);
  std::uint32_t state = 0x9E3779B9u * static_cast<std::uint32_t>(port + 1);
  for (BYTE& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<BYTE>(state >> 8);
  }
  return bytes;
}

void PrintJob(PortJob& job, Clock::time_point deadline, std::latch& go, std::latch& printed,
              std::latch& finish) {
  go.wait();
  const double cpuBefore = ThreadCpuSeconds();
  job.started = StartDocument(job.record, job.setup, 1);
  job.startedAt = Clock::now();
  if (job.started) {
    // The status command goes out first, inside StartDocPort.
    job.expectedDigest =
        emu::Digest(emu::kDigestStart, AsChars(StatusCommandB.data()), StatusCommandB.size());
    job.expectedBytes = StatusCommandB.size();
    Clock::time_point next = job.startedAt;
    for (std::size_t write = 0; next < deadline; ++write, next += kWriteEvery) {
      std::this_thread::sleep_until(next);
      BYTE* bytes = job.pattern.data() + (write * 1031) % (kPatternSize - kWriteSize);
      DWORD written = 0;
      if (!Spooler().pfnWritePort(job.record, bytes, kWriteSize, &written) ||
          written != kWriteSize) {
        job.writesAccepted = false;
      }
      job.expectedDigest = emu::Digest(job.expectedDigest, AsChars(bytes), kWriteSize);
      job.expectedBytes += kWriteSize;
    }
  }
  job.threadCpuSeconds = ThreadCpuSeconds() - cpuBefore;
  printed.count_down();
  finish.wait();
  if (job.started) EndDocument(job.record);
}

// Mean lateness of a port's polls, in percent of the interval; infinite when the
// port never polled although the window was long enough for it to.
double LatenessPercent(const PortJob& job, Clock::time_point deadline, double intervalMs,
                       std::size_t& polls) {
  std::vector<Clock::time_point> reads = ReadTimes(job.setup.port);
  reads.erase(std::remove_if(reads.begin(), reads.end(),
                             [&](Clock::time_point read) { return read > deadline; }),
              reads.end());
  polls += reads.size();
  std::vector<double> gaps;
  Clock::time_point previous = job.startedAt;
  for (Clock::time_point read : reads) {
    gaps.push_back(MillisecondsBetween(previous, read));
    previous = read;
  }
  const double open = MillisecondsBetween(previous, deadline);
  if (open > intervalMs) gaps.push_back(open);
  if (gaps.empty()) return 0;
  double sum = 0;
  for (double gap : gaps) sum += gap / intervalMs - 1.0;
  return 100.0 * sum / static_cast<double>(gaps.size());
}

}  // namespace

std::vector<Figure> RunScaleProbe(const ProbeOptions& options) {
  const DWORD windowMs = options.smoke ? 2000 : 10000;
  const DWORD intervalMs = options.smoke ? 500 : 3000;

  std::vector<PortJob> jobs(kPorts);
  bool opened = true;
  for (int i = 0; i < kPorts; ++i) {
    PortJob& job = jobs[i];
    const std::string number = std::to_string(i + 1);
    job.setup.port = "SCALE" + number + ":";
    job.setup.printer = "Bench Scale " + number;
    job.setup.pollIntervalMs = intervalMs;
    job.pattern = Pattern(i);
    job.record = OpenBenchPort(job.setup);
    opened = opened && job.record != nullptr;
  }
  if (!opened) {
    for (PortJob& job : jobs) CloseBenchPort(job.record, job.setup);
    return {{"Scale: every port opened", 0, "yes=1", Goal::AtLeast, 1, 0, true}};
  }

  std::latch go(1), printed(kPorts), finish(1);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(windowMs);
  std::vector<std::thread> spoolers;
  for (PortJob& job : jobs) {
    spoolers.emplace_back(PrintJob, std::ref(job), deadline, std::ref(go), std::ref(printed),
                          std::ref(finish));
  }
  const Clock::time_point windowStart = Clock::now();
  const double cpuBefore = ProcessCpuSeconds();
  const long long opensBefore = diag::RegistryKeyOpens();
  go.count_down();
  printed.wait();
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  const long long opens = diag::RegistryKeyOpens() - opensBefore;
  const double seconds = MillisecondsBetween(windowStart, Clock::now()) / 1000.0;

  int exact = 0;
  double spoolerCpu = 0;
  double worstLateness = 0;
  double latenessSum = 0;
  std::size_t polls = 0;
  std::uint64_t bytes = 0;
  for (PortJob& job : jobs) {
    const SinkTotals received = Totals(job.setup.port);
    if (job.started && job.writesAccepted && received.bytes == job.expectedBytes &&
        received.digest == job.expectedDigest) {
      ++exact;
    }
    bytes += received.bytes;
    spoolerCpu += job.threadCpuSeconds;
    const double lateness = LatenessPercent(job, deadline, intervalMs, polls);
    worstLateness = std::max(worstLateness, lateness);
    latenessSum += lateness;
  }
  finish.count_down();
  for (std::thread& spooler : spoolers) spooler.join();
  for (PortJob& job : jobs) CloseBenchPort(job.record, job.setup);

  const double per10s = 10.0 / seconds;
  const std::string ports = std::to_string(kPorts) + " ports";
  return {
      {"Scale: jobs delivered byte-exact (of " + std::to_string(kPorts) + ")",
       static_cast<double>(exact), "jobs", Goal::AtLeast, kPorts, 0, true},
      {"Scale: total CPU, " + ports + " printing", cpu * per10s, "CPU-s/10s", Goal::AtMost,
       kMaxCpuSecondsPer10s, 3},
      {"Scale: of which outside the spooler threads (pollers)", (cpu - spoolerCpu) * per10s,
       "CPU-s/10s", Goal::Report, 0, 3},
      {"Scale: worst port's mean poll lateness", worstLateness, "%", Goal::AtMost,
       kMaxLatenessPercent, 2},
      {"Scale: mean poll lateness over all ports", latenessSum / kPorts, "%", Goal::Report, 0, 2},
      {"Scale: polls in the window (all ports)", static_cast<double>(polls), "polls", Goal::Report,
       0, 0},
      {"Scale: key opens/s per poller", static_cast<double>(opens) / seconds / kPorts, "opens/s",
       Goal::Report, 0, 1},
      {"Scale: job data written", static_cast<double>(bytes) / seconds / (1 << 20), "MiB/s",
       Goal::Report, 0, 2},
  };
}

}  // namespace bench
