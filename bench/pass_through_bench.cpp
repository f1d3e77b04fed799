// Pass-through: what a job's bytes pay for going through the monitor.
//
// The same sink port, written two ways: through the monitor's WritePort (the
// Windows 95 spooler's table) and straight through the device monitor's
// pfnWritePort with the device port handle the monitor holds. The sink's printer
// digests every byte, so a write costs what reading its bytes costs plus the
// calls around it; an empty write shows the cost of the calls alone. A second
// sink port, opened through the NT face (its OpenPortEx with our monitor handle,
// the sink's MONITOR2 and its instance), is written through the NT spooler's
// table: both faces' WritePort find their port in the port table by its handle,
// and differ only in the device table they pass the bytes to. Each size runs all
// three ways, repeated and randomly interleaved, so that a machine that gets
// busier halfway through slows them alike; the figures are ratios and
// differences of the medians from one run.
//
// With 1,024 ports open: once that run is over, 1,022 more ports are opened on
// the sink after the first two, alternately through each face as the first two
// were, so 1,024 ports are open in all, 512 through each face. On each face the
// "first" port is the first that face opened (the two above: the Windows 95
// face's is the 1st port opened, the NT face's the 2nd) and the "last" port is
// the last that face opened (the Windows 95 face's is the 1,023rd, the NT
// face's the 1,024th and last of all). The two last ports get a document too. A
// second run then writes the first and the last port of each face, empty and
// with 4 KiB, through that face's table, again repeated and randomly
// interleaved; each figure is the last port's median over its first port's at
// the same size, both with the same 1,024 ports open (the sink, too, finds its
// printer among 1,024). Finding a port should not cost more when it was opened
// last, so the ratio at 4 KiB is held to a target; the empty write's, where
// finding the port is most of the call, is shown. The other 1,020 ports stay
// open with no document, as an idle printer's port on a print server does, and
// every port is closed at the end.
//
// The documents are for another maker's printer, so no poller runs beside them.
//
// Usage: pass_through_bench [--smoke] [--out=FILE] [Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_rig.h"
#include "bench/figures.h"
#include "bench/sink_port.h"

namespace {

using bench::Figure;
using bench::Goal;

// 0 bytes: the calls alone, which the larger sizes' noise would hide.
constexpr DWORD kSizes[] = {0, 512, 4096, 65536};
constexpr double kMinRatio = 0.98;  // at 4 KiB and above
constexpr DWORD kRatioFromSize = 4096;
// The NT face's time per write over the Windows 95 face's, at 4 KiB.
constexpr double kMaxNtOverWin95 = 1.01;
constexpr DWORD kNtRatioSize = 4096;
// Ports open in the second run, and the sizes each face's first and last port
// are written with there; the last's time per write over the first's, at 4 KiB.
constexpr int kOpenPorts = 1024;
constexpr DWORD kLastPortSizes[] = {0, 4096};
constexpr double kMaxLastOverFirst = 1.05;
constexpr DWORD kLastPortRatioSize = 4096;
constexpr char kFullListName[] = "Pass-through, 1,024 ports open";
static_assert(kOpenPorts == 1024, "kFullListName names the number of ports");

// Collects the median CPU time per iteration of every benchmark while the
// console reporter shows them as usual.
class MedianCollector : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> medianNs;

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
          !run.error_occurred) {
        medianNs[run.run_name.function_name] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

std::vector<BYTE> JobBytes(DWORD size) {
  std::vector<BYTE> bytes(size);
  std::uint32_t state = 0x2545F491u;
  for (BYTE& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<BYTE>(state);
  }
  return bytes;
}

std::string Name(const char* way, DWORD size) {
  return std::string(way) + "/" + std::to_string(size);
}

std::string SizeLabel(DWORD size) {
  return size >= 1024 ? std::to_string(size / 1024) + " KiB" : std::to_string(size) + " B";
}

// The call the spooler makes, and the one the monitor passes it on to.
void WriteLoop(benchmark::State& state, bench::WritePortFn write, HANDLE port,
               std::vector<BYTE>& bytes) {
  const DWORD size = static_cast<DWORD>(bytes.size());
  for (auto _ : state) {
    DWORD written = 0;
    if (!write(port, bytes.data(), size, &written) || written != size) {
      state.SkipWithError("a write was refused or cut short");
      break;
    }
    benchmark::DoNotOptimize(written);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

// One write through the port's face must reach the sink byte for byte.
bool DeliversExactly(PortRecord* record, const bench::PortSetup& setup, std::vector<BYTE>& bytes) {
  const bench::SinkTotals before = bench::Totals(setup.port);
  DWORD written = 0;
  const BOOL ok = bench::SpoolerWrite(setup.face)(record, bytes.data(),
                                                  static_cast<DWORD>(bytes.size()), &written);
  const bench::SinkTotals after = bench::Totals(setup.port);
  return ok && written == bytes.size() && after.bytes == before.bytes + bytes.size() &&
         after.digest == emu::Digest(before.digest, bench::AsChars(bytes.data()), bytes.size());
}

// Every port the run opens, in the order it opens them: the first port of each
// face, then the rest, alternately through each face as the first two, so the
// last two are each face's last.
std::vector<bench::PortSetup> OpenedPorts() {
  std::vector<bench::PortSetup> setups(kOpenPorts);
  setups[0] = {"BENCHPT:", "Bench Pass-through", bench::kOtherMakerDeviceId};
  setups[1] = {"BENCHPN:", "Bench Pass-through NT", bench::kOtherMakerDeviceId};
  for (int i = 2; i < kOpenPorts; ++i) {
    const std::string number = std::to_string(i + 1);
    setups[i] = {"BENCHL" + number + ":", "Bench Port List " + number, bench::kOtherMakerDeviceId};
  }
  for (int i = 1; i < kOpenPorts; i += 2) setups[i].face = bench::Face::Nt;
  return setups;
}

}  // namespace

int main(int argc, char** argv) {
  bool smoke = false;
  std::string out;
  std::vector<char*> args = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0) {
      smoke = true;
    } else if (std::strncmp(argv[i], "--out=", 6) == 0) {
      out = argv[i] + 6;
    } else {
      args.push_back(argv[i]);
    }
  }
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.push_back(interleave.data());
  int benchArgc = static_cast<int>(args.size());
  benchmark::Initialize(&benchArgc, args.data());

  // Opened in OpenedPorts' order: the first two for the first run, the rest once
  // it is over. ClosePort ends a document still in progress.
  const std::vector<bench::PortSetup> setups = OpenedPorts();
  std::vector<PortRecord*> records;
  const auto openUpTo = [&](std::size_t count) {
    while (records.size() < count) records.push_back(bench::OpenBenchPort(setups[records.size()]));
  };
  const auto closeAll = [&] {
    for (std::size_t i = 0; i < records.size(); ++i) bench::CloseBenchPort(records[i], setups[i]);
  };
  openUpTo(2);
  const bench::PortSetup& setup = setups[0];
  const bench::PortSetup& setupNt = setups[1];
  PortRecord* record = records[0];
  PortRecord* recordNt = records[1];
  if (record == nullptr || recordNt == nullptr || !bench::StartDocument(record, setup, 1) ||
      !bench::StartDocument(recordNt, setupNt, 1)) {
    std::fprintf(stderr, "pass_through_bench: could not start the documents\n");
    closeAll();
    return 1;
  }
  if (HasStatusBits(record, PS_POLLER_RUN) || HasStatusBits(recordNt, PS_POLLER_RUN)) {
    std::fprintf(stderr, "pass_through_bench: a poller runs beside the writes\n");
    closeAll();
    return 1;
  }

  const int repetitions = smoke ? 3 : 20;
  const double minTime = smoke ? 0.01 : 0.2;
  std::map<DWORD, std::vector<BYTE>> buffers;
  auto add = [&](const char* way, DWORD size, bench::WritePortFn write, HANDLE port) {
    std::vector<BYTE>& bytes = buffers[size];
    benchmark::RegisterBenchmark(
        Name(way, size).c_str(),
        [=, &bytes](benchmark::State& state) { WriteLoop(state, write, port, bytes); })
        ->Repetitions(repetitions)
        ->MinTime(minTime)
        ->DisplayAggregatesOnly(true)
        ->Unit(benchmark::kNanosecond);
  };
  for (DWORD size : kSizes) {
    buffers[size] = JobBytes(size);
    add("direct", size, bench::SinkMonitor()->pfnWritePort, record->devicePort);
    add("monitor", size, bench::SpoolerWrite(bench::Face::Win95), record);
    add("nt", size, bench::SpoolerWrite(bench::Face::Nt), recordNt);
  }

  MedianCollector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  // The second run, with 1,024 ports open. The sink finds its printer by name
  // among all of them, which costs the first and the last port alike, so the
  // first ports are measured again here rather than taken from the run above.
  openUpTo(kOpenPorts);
  const bench::PortSetup& setupLast = setups[kOpenPorts - 2];
  const bench::PortSetup& setupLastNt = setups[kOpenPorts - 1];
  PortRecord* recordLast = records[kOpenPorts - 2];
  PortRecord* recordLastNt = records[kOpenPorts - 1];
  // Measured only behind a whole list of open ports; what went wrong fails the
  // run through the check figures below.
  const bool allOpened = std::find(records.begin(), records.end(), nullptr) == records.end();
  const bool lastReady = allOpened && bench::StartDocument(recordLast, setupLast, 1) &&
                         bench::StartDocument(recordLastNt, setupLastNt, 1) &&
                         !HasStatusBits(recordLast, PS_POLLER_RUN) &&
                         !HasStatusBits(recordLastNt, PS_POLLER_RUN);
  if (lastReady) {
    benchmark::ClearRegisteredBenchmarks();
    for (DWORD size : kLastPortSizes) {
      add("monitor-first", size, bench::SpoolerWrite(bench::Face::Win95), record);
      add("monitor-last", size, bench::SpoolerWrite(bench::Face::Win95), recordLast);
      add("nt-first", size, bench::SpoolerWrite(bench::Face::Nt), recordNt);
      add("nt-last", size, bench::SpoolerWrite(bench::Face::Nt), recordLastNt);
    }
    benchmark::RunSpecifiedBenchmarks(&collector);
  } else {
    std::fprintf(stderr, "pass_through_bench: %s\n",
                 allOpened ? "the last ports' documents did not start, or a poller runs"
                           : "a port did not open");
  }
  benchmark::Shutdown();

  std::vector<Figure> figures;
  bool exact = true;
  bool exactNt = true;
  for (DWORD size : kSizes) {
    exact = DeliversExactly(record, setup, buffers[size]) && exact;
    exactNt = DeliversExactly(recordNt, setupNt, buffers[size]) && exactNt;
  }
  figures.push_back({"Pass-through: every byte delivered unchanged", exact ? 1.0 : 0.0, "yes=1",
                     Goal::AtLeast, 1, 0, true});
  figures.push_back({"Pass-through, NT face: every byte delivered unchanged", exactNt ? 1.0 : 0.0,
                     "yes=1", Goal::AtLeast, 1, 0, true});

  // The median of one way at one size; NaN when it did not run to the end.
  auto median = [&](const char* way, DWORD size) {
    const auto found = collector.medianNs.find(Name(way, size));
    return found == collector.medianNs.end() ? NAN : found->second;
  };
  // A write refused while measured leaves its way without a median.
  bool exactLast = lastReady;
  for (DWORD size : kLastPortSizes) {
    for (const char* way : {"monitor-first", "monitor-last", "nt-first", "nt-last"}) {
      exactLast = exactLast && std::isfinite(median(way, size));
    }
    exactLast = exactLast && DeliversExactly(recordLast, setupLast, buffers[size]) &&
                DeliversExactly(recordLastNt, setupLastNt, buffers[size]);
  }
  figures.push_back(
      {std::string(kFullListName) + ": every port opened, the last ports' documents started",
       lastReady ? 1.0 : 0.0, "yes=1", Goal::AtLeast, 1, 0, true});
  figures.push_back({std::string(kFullListName) +
                         ": every write accepted, the last ports' bytes delivered unchanged",
                     exactLast ? 1.0 : 0.0, "yes=1", Goal::AtLeast, 1, 0, true});
  for (DWORD size : kSizes) {
    const double direct = median("direct", size);
    const double monitor = median("monitor", size);
    if (size == 0) {
      figures.push_back({"Pass-through added time, empty write (the call alone)", monitor - direct,
                         "ns/call", Goal::Report, 0, 1});
      continue;
    }
    const std::string label = SizeLabel(size);
    figures.push_back({"Pass-through throughput ratio, " + label + " per call", direct / monitor,
                       "x", size >= kRatioFromSize ? Goal::AtLeast : Goal::Report, kMinRatio, 3});
    figures.push_back({"Pass-through added time, " + label + " per call", monitor - direct,
                       "ns/call", Goal::Report, 0, 1});
  }
  for (DWORD size : kSizes) {
    const double monitor = median("monitor", size);
    const double nt = median("nt", size);
    if (size == 0) {
      figures.push_back(
          {"Pass-through, NT face: added time over the Windows 95 face's, empty write",
           nt - monitor, "ns/call", Goal::Report, 0, 1});
      continue;
    }
    figures.push_back({"Pass-through, NT face: time per write over the Windows 95 face's, " +
                           SizeLabel(size) + " per call",
                       nt / monitor, "x", size == kNtRatioSize ? Goal::AtMost : Goal::Report,
                       kMaxNtOverWin95, 3});
  }
  figures.push_back({"Pass-through, NT face: throughput ratio, 4 KiB per call",
                     median("direct", 4096) / median("nt", 4096), "x", Goal::Report, 0, 3});
  // Each face's last port over its first, both written through that face's table.
  struct FaceWays {
    const char* first;
    const char* last;
    const char* face;
  };
  for (const FaceWays& ways : {FaceWays{"monitor-first", "monitor-last", "Windows 95 face"},
                               FaceWays{"nt-first", "nt-last", "NT face"}}) {
    for (DWORD size : kLastPortSizes) {
      const std::string write = size == 0 ? "empty write" : SizeLabel(size) + " write";
      figures.push_back({std::string(kFullListName) + ": last port's " + write +
                             " over the first's, " + ways.face,
                         median(ways.last, size) / median(ways.first, size), "x",
                         size == kLastPortRatioSize ? Goal::AtMost : Goal::Report,
                         kMaxLastOverFirst, 3});
    }
  }

  if (lastReady) {
    bench::EndDocument(recordLastNt);
    bench::EndDocument(recordLast);
  }
  bench::EndDocument(recordNt);
  bench::EndDocument(record);
  closeAll();
  return bench::WriteFigures(out, figures) ? 0 : 1;
}
