// Many ports printing at once, each on a matched printer with its own poller.
//
// Every port gets its own spooler thread, which starts the document (status
// command, poller) and then writes 4 KiB every 50 ms until the common deadline,
// digesting what it sent as the sink's printer does. The same workload runs
// twice, baseline first and then through the monitor, one full window each (so
// that every poller still gets several intervals): the baseline writes straight
// to the sink's device monitor, with the same ports, threads, sizes, cadence and
// printers but no monitor in between (so no status command and no pollers).
// Afterwards:
// - every job must have arrived byte for byte: the status command, then the data
//   (the baseline's jobs too, without the command, or the baseline has no figure);
// - the process's CPU time over each window: the total through the monitor and
//   the baseline's are shown for information, and the difference is what the
//   monitor adds, the figure held to a target (the sink's printers digest every
//   byte under one lock, which costs more than the monitor itself and is in both);
//   the pollers' share (what the spooler threads did not use) is shown beside it;
// - every poller must have kept its interval: the sink notes when each read
//   arrived, each poll is one read (the printer always has a status to give), and
//   a port's lateness is the mean of its gaps (from the document's start to the
//   first poll, then poll to poll) over the interval. A poll still missing at the
//   deadline counts with the gap it has already run up.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
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
  std::vector<BYTE> pattern;
  // What the window's documents go through: the device monitor with its own port
  // handle, or the spooler's table with the monitor's port record.
  const MONITOR* table = nullptr;
  HANDLE port = nullptr;
  // Filled by the port's spooler thread, afresh in each window.
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
  job.writesAccepted = true;
  job.expectedDigest = emu::kDigestStart;
  job.expectedBytes = 0;
  go.wait();
  const double cpuBefore = ThreadCpuSeconds();
  job.started = StartDocument(*job.table, job.port, job.setup, 1);
  job.startedAt = Clock::now();
  if (job.started) {
    if (job.table == &Spooler()) {
      // The monitor sends the status command first, inside StartDocPort.
      job.expectedDigest =
          emu::Digest(emu::kDigestStart, AsChars(StatusCommandB.data()), StatusCommandB.size());
      job.expectedBytes = StatusCommandB.size();
    }
    Clock::time_point next = job.startedAt;
    for (std::size_t write = 0; next < deadline; ++write, next += kWriteEvery) {
      std::this_thread::sleep_until(next);
      BYTE* bytes = job.pattern.data() + (write * 1031) % (kPatternSize - kWriteSize);
      DWORD written = 0;
      if (!job.table->pfnWritePort(job.port, bytes, kWriteSize, &written) ||
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
  if (job.started) job.table->pfnEndDocPort(job.port);
}

// Every byte the thread wrote reached the printer, and nothing else; read while
// the document is still open.
bool Delivered(const PortJob& job) {
  const SinkTotals received = Totals(job.setup.port);
  return job.started && job.writesAccepted && received.bytes == job.expectedBytes &&
         received.digest == job.expectedDigest;
}

struct Window {
  Clock::time_point deadline;
  double cpuSeconds = 0;
  double seconds = 0;
  long long keyOpens = 0;
};

// One window of every port printing on its own thread; `whileOpen` runs once the
// window is over, with every document still open.
Window PrintAll(std::vector<PortJob>& jobs, DWORD windowMs,
                const std::function<void(const Window&)>& whileOpen) {
  std::latch go(1), printed(kPorts), finish(1);
  Window window;
  window.deadline = Clock::now() + std::chrono::milliseconds(windowMs);
  std::vector<std::thread> spoolers;
  for (PortJob& job : jobs) {
    spoolers.emplace_back(PrintJob, std::ref(job), window.deadline, std::ref(go), std::ref(printed),
                          std::ref(finish));
  }
  const Clock::time_point windowStart = Clock::now();
  const double cpuBefore = ProcessCpuSeconds();
  const long long opensBefore = diag::RegistryKeyOpens();
  go.count_down();
  printed.wait();
  window.cpuSeconds = ProcessCpuSeconds() - cpuBefore;
  window.keyOpens = diag::RegistryKeyOpens() - opensBefore;
  window.seconds = MillisecondsBetween(windowStart, Clock::now()) / 1000.0;
  whileOpen(window);
  finish.count_down();
  for (std::thread& spooler : spoolers) spooler.join();
  return window;
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
  const Figure notOpened{"Scale: every port opened", 0, "yes=1", Goal::AtLeast, 1, 0, true};

  std::vector<PortJob> jobs(kPorts);
  bool opened = true;
  for (int i = 0; i < kPorts; ++i) {
    PortJob& job = jobs[i];
    const std::string number = std::to_string(i + 1);
    job.setup.port = "SCALE" + number + ":";
    job.setup.printer = "Bench Scale " + number;
    job.setup.pollIntervalMs = intervalMs;
    job.pattern = Pattern(i);
    AttachSink(job.setup.port, job.setup.deviceId);
    job.table = SinkMonitor();
    opened =
        SinkMonitor()->pfnOpenPort(const_cast<LPSTR>(job.setup.port.c_str()), &job.port) && opened;
  }
  // The baseline: a NaN when a job went wrong, so that the monitor's share
  // cannot meet its target on a baseline that did not do the work.
  double baselineCpu = NAN;
  if (opened) {
    PrintAll(jobs, windowMs, [&](const Window& window) {
      const bool delivered =
          std::all_of(jobs.begin(), jobs.end(), [](const PortJob& job) { return Delivered(job); });
      if (delivered) baselineCpu = window.cpuSeconds * 10.0 / window.seconds;
    });
  }
  for (PortJob& job : jobs) {
    if (job.port != nullptr) SinkMonitor()->pfnClosePort(job.port);
    job.port = nullptr;
  }
  if (!opened) return {notOpened};

  for (PortJob& job : jobs) {
    job.table = &Spooler();
    job.port = OpenBenchPort(job.setup);
    opened = opened && job.port != nullptr;
  }
  const auto closeAll = [&] {
    for (PortJob& job : jobs) CloseBenchPort(static_cast<PortRecord*>(job.port), job.setup);
  };
  if (!opened) {
    closeAll();
    return {notOpened};
  }

  int exact = 0;
  double spoolerCpu = 0;
  double worstLateness = 0;
  double latenessSum = 0;
  std::size_t polls = 0;
  std::uint64_t bytes = 0;
  const Window window = PrintAll(jobs, windowMs, [&](const Window& open) {
    for (PortJob& job : jobs) {
      if (Delivered(job)) ++exact;
      bytes += Totals(job.setup.port).bytes;
      spoolerCpu += job.threadCpuSeconds;
      const double lateness = LatenessPercent(job, open.deadline, intervalMs, polls);
      worstLateness = std::max(worstLateness, lateness);
      latenessSum += lateness;
    }
  });
  closeAll();

  const double per10s = 10.0 / window.seconds;
  const double totalCpu = window.cpuSeconds * per10s;
  const std::string ports = std::to_string(kPorts) + " ports";
  return {
      {"Scale: jobs delivered byte-exact (of " + std::to_string(kPorts) + ")",
       static_cast<double>(exact), "jobs", Goal::AtLeast, kPorts, 0, true},
      {"Scale: CPU the monitor adds (total - baseline)", totalCpu - baselineCpu, "CPU-s/10s",
       Goal::AtMost, kMaxCpuSecondsPer10s, 3},
      {"Scale: total CPU, " + ports + " printing through the monitor", totalCpu, "CPU-s/10s",
       Goal::Report, 0, 3},
      {"Scale: baseline CPU, same writes straight to the printers", baselineCpu, "CPU-s/10s",
       Goal::Report, 0, 3},
      {"Scale: of which outside the spooler threads (pollers)",
       (window.cpuSeconds - spoolerCpu) * per10s, "CPU-s/10s", Goal::Report, 0, 3},
      {"Scale: worst port's mean poll lateness", worstLateness, "%", Goal::AtMost,
       kMaxLatenessPercent, 2},
      {"Scale: mean poll lateness over all ports", latenessSum / kPorts, "%", Goal::Report, 0, 2},
      {"Scale: polls in the window (all ports)", static_cast<double>(polls), "polls", Goal::Report,
       0, 0},
      {"Scale: key opens/s per poller",
       static_cast<double>(window.keyOpens) / window.seconds / kPorts, "opens/s", Goal::Report, 0,
       1},
      {"Scale: job data written", static_cast<double>(bytes) / window.seconds / (1 << 20), "MiB/s",
       Goal::Report, 0, 2},
  };
}

}  // namespace bench
