// Pass-through: what a job's bytes pay for going through the monitor.
//
// The same sink port, written two ways: through the monitor's WritePort (the
// spooler's table) and straight through the device monitor's pfnWritePort with
// the device port handle the monitor holds. The sink's printer digests every
// byte, so a write costs what reading its bytes costs plus the calls around it;
// an empty write shows the cost of the calls alone. Each size runs both
// ways, repeated and randomly interleaved, so that a machine that gets busier
// halfway through slows both alike; the figures are ratios and differences of
// the two medians from one run.
//
// The document is for another maker's printer, so no poller runs beside it.
//
// Usage: pass_through_bench [--smoke] [--out=FILE] [Google Benchmark flags]
#include <benchmark/benchmark.h>

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
void WriteLoop(benchmark::State& state, BOOL(WINAPI* write)(HANDLE, LPBYTE, DWORD, LPDWORD),
               HANDLE port, std::vector<BYTE>& bytes) {
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

// One write through the monitor must reach the sink byte for byte.
bool DeliversExactly(PortRecord* record, const bench::PortSetup& setup, std::vector<BYTE>& bytes) {
  const bench::SinkTotals before = bench::Totals(setup.port);
  DWORD written = 0;
  const BOOL ok = bench::Spooler().pfnWritePort(record, bytes.data(),
                                                static_cast<DWORD>(bytes.size()), &written);
  const bench::SinkTotals after = bench::Totals(setup.port);
  return ok && written == bytes.size() && after.bytes == before.bytes + bytes.size() &&
         after.digest == emu::Digest(before.digest, bench::AsChars(bytes.data()), bytes.size());
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

  const bench::PortSetup setup{"BENCHPT:", "Bench Pass-through", bench::kOtherMakerDeviceId};
  PortRecord* record = bench::OpenBenchPort(setup);
  if (record == nullptr || !bench::StartDocument(record, setup, 1)) {
    std::fprintf(stderr, "pass_through_bench: could not start the document\n");
    return 1;
  }
  if (HasStatusBits(record, PS_POLLER_RUN)) {
    std::fprintf(stderr, "pass_through_bench: a poller runs beside the writes\n");
    return 1;
  }

  const int repetitions = smoke ? 3 : 20;
  const double minTime = smoke ? 0.01 : 0.2;
  std::map<DWORD, std::vector<BYTE>> buffers;
  for (DWORD size : kSizes) {
    std::vector<BYTE>& bytes = buffers[size] = JobBytes(size);
    HANDLE devicePort = record->devicePort;
    auto direct = bench::SinkMonitor()->pfnWritePort;
    auto monitor = bench::Spooler().pfnWritePort;
    benchmark::RegisterBenchmark(
        Name("direct", size).c_str(),
        [=, &bytes](benchmark::State& state) { WriteLoop(state, direct, devicePort, bytes); })
        ->Repetitions(repetitions)
        ->MinTime(minTime)
        ->DisplayAggregatesOnly(true)
        ->Unit(benchmark::kNanosecond);
    benchmark::RegisterBenchmark(
        Name("monitor", size).c_str(),
        [=, &bytes](benchmark::State& state) { WriteLoop(state, monitor, record, bytes); })
        ->Repetitions(repetitions)
        ->MinTime(minTime)
        ->DisplayAggregatesOnly(true)
        ->Unit(benchmark::kNanosecond);
  }

  MedianCollector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();

  std::vector<Figure> figures;
  bool exact = true;
  for (DWORD size : kSizes) exact = DeliversExactly(record, setup, buffers[size]) && exact;
  figures.push_back({"Pass-through: every byte delivered unchanged", exact ? 1.0 : 0.0, "yes=1",
                     Goal::AtLeast, 1, 0, true});

  for (DWORD size : kSizes) {
    const auto direct = collector.medianNs.find(Name("direct", size));
    const auto monitor = collector.medianNs.find(Name("monitor", size));
    double ratio = NAN;
    double addedNs = NAN;
    if (direct != collector.medianNs.end() && monitor != collector.medianNs.end()) {
      ratio = direct->second / monitor->second;
      addedNs = monitor->second - direct->second;
    }
    if (size == 0) {
      figures.push_back({"Pass-through added time, empty write (the call alone)", addedNs,
                         "ns/call", Goal::Report, 0, 1});
      continue;
    }
    const std::string label = SizeLabel(size);
    figures.push_back({"Pass-through throughput ratio, " + label + " per call", ratio, "x",
                       size >= kRatioFromSize ? Goal::AtLeast : Goal::Report, kMinRatio, 3});
    figures.push_back({"Pass-through added time, " + label + " per call", addedNs, "ns/call",
                       Goal::Report, 0, 1});
  }

  bench::EndDocument(record);
  bench::CloseBenchPort(record, setup);
  return bench::WriteFigures(out, figures) ? 0 : 1;
}
