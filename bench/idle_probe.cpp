// What the monitor costs while it waits.
//
// Three waits, each watched over the same stretch of wall time with nothing else
// running in the process: the main thread sleeps, so the process's CPU time is the
// waiting thread's, and the registry's count of key opens is its traffic.
// (a) A matched job's poller between polls at the default 3000 ms interval (its
//     few polls in the window are part of the cost).
// (b) The same poller with GetRealTimeStatusStartFlag 0: it never polls, only
//     looks at the setting again and again.
// (c) A StartDocPort held back while the status application's real-time thread
//     flag (StRealThreadExistFlag) is 1.
// CPU is reported per 10 s of wall time, so a short smoke run reads on the same
// scale as a full one. A first window with no port open shows what the process
// costs by itself. The three waits are watched through the Windows 95 face, then
// through the NT face (its own ports and printers, UTF-16 names, the registry
// through the wide calls); the NT face's figures say so in their names.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <thread>

#include "bench/bench_rig.h"
#include "bench/probes.h"
#include "bench/sink_port.h"
#include "emulator/status_app.h"
#include "platform/diagnostics.h"

namespace bench {
namespace {

constexpr double kMaxCpuSeconds = 0.05;  // per 10 s of waiting
constexpr double kMaxKeyOpensPerSecond = 150;
constexpr DWORD kSettleMs = 300;  // the document has started and the wait begun

struct WaitReading {
  double cpuPer10s = 0;
  double keyOpensPerSecond = 0;
  std::size_t polls = 0;  // reads that reached the printer in the window
};

WaitReading WatchWait(DWORD windowMs, const std::string& port) {
  const std::size_t readsBefore = ReadTimes(port).size();
  const long long opensBefore = diag::RegistryKeyOpens();
  const double cpuBefore = ProcessCpuSeconds();
  const Clock::time_point start = Clock::now();
  Sleep(windowMs);
  // Never below zero: the two readings are sums of user and system time, whose
  // rounding can differ in the last bit.
  const double cpu = std::max(0.0, ProcessCpuSeconds() - cpuBefore);
  const long long opensAfter = diag::RegistryKeyOpens();
  const double seconds = MillisecondsBetween(start, Clock::now()) / 1000.0;
  WaitReading reading;
  reading.cpuPer10s = cpu * 10.0 / seconds;
  // Only our own registry counts its opens; Windows does not tell.
  reading.keyOpensPerSecond =
      opensBefore == diag::kUnknown ? NAN : static_cast<double>(opensAfter - opensBefore) / seconds;
  reading.polls = ReadTimes(port).size() - readsBefore;
  return reading;
}

// (a) and (b): a matched job whose poller waits; returns false if no poller ran.
bool WatchPoller(Face face, DWORD pollEnabled, DWORD windowMs, const char* port,
                 const char* printer, WaitReading& reading) {
  PortSetup setup{port, printer};
  setup.pollEnabled = pollEnabled;
  setup.face = face;
  PortRecord* record = OpenBenchPort(setup);
  bool ran = false;
  if (record != nullptr && StartDocument(record, setup, 1)) {
    ran = HasStatusBits(record, PS_POLLER_RUN);
    Sleep(kSettleMs);
    reading = WatchWait(windowMs, setup.port);
    EndDocument(record);
  }
  CloseBenchPort(record, setup);
  return ran;
}

// (c): returns false unless StartDocPort stayed in its wait for the whole window
// and then went on to open the document.
bool WatchHeldStart(Face face, DWORD windowMs, const char* port, const char* printer,
                    WaitReading& reading) {
  PortSetup setup{port, printer};
  setup.face = face;
  PortRecord* record = OpenBenchPort(setup);
  if (record == nullptr) return false;
  emu::status_app::SetRealThreadExists(setup.printer, true);

  std::atomic<bool> returned{false};
  BOOL started = FALSE;
  std::thread spooler([&] {
    started = StartDocument(record, setup, 1);
    returned = true;
  });
  Sleep(kSettleMs);
  reading = WatchWait(windowMs, setup.port);
  const bool heldThroughout = !returned.load();

  emu::status_app::SetRealThreadExists(setup.printer, false);
  spooler.join();
  if (started) EndDocument(record);
  CloseBenchPort(record, setup);
  return heldThroughout && started;
}

// The three waits through one face, and their figures; `suffix` tells the face's
// figures from the other's (nothing for the Windows 95 face, whose names are the
// older ones).
struct FaceWaits {
  Face face;
  const char* suffix;
  const char* ports[3];
  const char* printers[3];
};

void WatchFace(const FaceWaits& f, DWORD windowMs, std::vector<Figure>& figures) {
  WaitReading polling, switchedOff, held;
  const bool pollerRan = WatchPoller(f.face, 1, windowMs, f.ports[0], f.printers[0], polling);
  const bool idlePollerRan =
      WatchPoller(f.face, 0, windowMs, f.ports[1], f.printers[1], switchedOff);
  const bool heldStart = WatchHeldStart(f.face, windowMs, f.ports[2], f.printers[2], held);

  const std::string where = f.suffix + std::string(BuildLabel());
  const std::vector<Figure> faceFigures = {
      {"Waiting: a poller ran in (a) and (b)" + where, pollerRan && idlePollerRan ? 1.0 : 0.0,
       "yes=1", Goal::AtLeast, 1, 0, true},
      {"Waiting: StartDocPort held while the flag was 1, then started" + where,
       heldStart ? 1.0 : 0.0, "yes=1", Goal::AtLeast, 1, 0, true},
      {"Waiting CPU (a) poller between polls, 3000 ms interval" + where, polling.cpuPer10s,
       "CPU-s/10s", Goal::AtMost, kMaxCpuSeconds, 4},
      {"Waiting CPU (b) polling off (GetRealTimeStatusStartFlag 0)" + where, switchedOff.cpuPer10s,
       "CPU-s/10s", Goal::AtMost, kMaxCpuSeconds, 4},
      {"Waiting CPU (c) StartDocPort held (StRealThreadExistFlag 1)" + where, held.cpuPer10s,
       "CPU-s/10s", Goal::AtMost, kMaxCpuSeconds, 4},
  };
  figures.insert(figures.end(), faceFigures.begin(), faceFigures.end());
  if (!std::isnan(polling.keyOpensPerSecond)) {
    const std::string suffix = f.suffix;
    figures.push_back({"Key opens/s per waiting poller (a)" + suffix, polling.keyOpensPerSecond,
                       "opens/s", Goal::AtMost, kMaxKeyOpensPerSecond, 1});
    figures.push_back({"Key opens/s per waiting poller (b)" + suffix, switchedOff.keyOpensPerSecond,
                       "opens/s", Goal::AtMost, kMaxKeyOpensPerSecond, 1});
    figures.push_back({"Key opens/s, held StartDocPort (c)" + suffix, held.keyOpensPerSecond,
                       "opens/s", Goal::AtMost, kMaxKeyOpensPerSecond, 1});
  }
  figures.push_back({"Polls in the window (a)" + where, static_cast<double>(polling.polls), "polls",
                     Goal::Report, 0, 0});
}

}  // namespace

std::vector<Figure> RunIdleProbe(const ProbeOptions& options) {
  const DWORD windowMs = options.smoke ? 1000 : 10000;
  // The process with no port open: what the runtime costs by itself (Wine's own
  // threads, in the Windows build), to read the waits against.
  const WaitReading baseline = WatchWait(windowMs, "");
  std::vector<Figure> figures = {{"Waiting CPU, baseline: no port open" + std::string(BuildLabel()),
                                  baseline.cpuPer10s, "CPU-s/10s", Goal::Report, 0, 4}};
  WatchFace({Face::Win95,
             "",
             {"BENCHIA:", "BENCHIB:", "BENCHIC:"},
             {"Bench Idle Polling", "Bench Idle Switched Off", "Bench Idle Held Start"}},
            windowMs, figures);
  WatchFace({Face::Nt,
             ", NT face",
             {"BENCHNA:", "BENCHNB:", "BENCHNC:"},
             {"Bench Idle Polling NT", "Bench Idle Switched Off NT", "Bench Idle Held Start NT"}},
            windowMs, figures);
  return figures;
}

}  // namespace bench
