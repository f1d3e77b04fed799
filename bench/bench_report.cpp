// Gathers the figures of one benchmark run into one table on the console and one
// JSON file, with the machine it ran on. Fails when a correctness check failed;
// a missed speed target is only reported.
//
// Usage: bench_report MODE STARTED LOAD OUT PART.json...
//        bench_report --summary REPORT.json   (the one line scripts/test reads)
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <sys/utsname.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "bench/figures.h"

namespace {

using bench::Figure;
using bench::Goal;

std::string CpuName() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown";
}

std::string System() {
  utsname name{};
  uname(&name);
  return fmt::format("{}-{}-{}", name.sysname, name.release, name.machine);
}

std::string ValueText(const Figure& f) {
  if (std::isnan(f.value)) return "n/a";
  if (f.unit == "yes=1") return f.value >= 1 ? "yes" : "no";
  const double scale = std::pow(10.0, f.decimals);
  const double rounded = std::round(f.value * scale) / scale + 0.0;  // + 0.0: no "-0.0"
  return fmt::format("{:.{}f} {}", rounded == 0 ? 0.0 : rounded, f.decimals, f.unit);
}

std::string TargetText(const Figure& f) {
  if (f.goal == Goal::Report) return "-";
  if (f.unit == "yes=1") return "yes";
  return fmt::format("{} {:g} {}", f.goal == Goal::AtMost ? "<=" : ">=", f.limit, f.unit);
}

std::string MetText(const Figure& f) {
  return f.goal == Goal::Report ? "-" : (bench::Met(f) ? "yes" : "NO");
}

void PrintTable(const std::vector<Figure>& figures) {
  using Row = std::array<std::string, 4>;
  std::vector<Row> rows = {{"Figure", "Value", "Target", "Met?"}};
  for (const Figure& f : figures) rows.push_back({f.name, ValueText(f), TargetText(f), MetText(f)});
  std::array<std::size_t, 4> widths{};
  for (const Row& row : rows) {
    for (std::size_t i = 0; i < 4; ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::string line = "|";
    for (std::size_t i = 0; i < 4; ++i) line += fmt::format(" {:{}} |", rows[r][i], widths[i]);
    fmt::print("{}\n", line);
    if (r == 0) {
      for (std::size_t i = 0; i < 4; ++i) fmt::print("|{}", std::string(widths[i] + 2, '-'));
      fmt::print("|\n");
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--summary") {
    std::vector<Figure> figures;
    if (!bench::ReadFigures(argv[2], figures)) {
      fmt::print(stderr, "bench_report: cannot read the figures in {}\n", argv[2]);
      return 1;
    }
    fmt::print("{}\n", bench::SummaryLine(figures));
    return 0;
  }
  if (argc < 5) {
    fmt::print(stderr, "usage: bench_report MODE STARTED LOAD OUT PART.json...\n");
    return 2;
  }
  const std::string mode = argv[1], started = argv[2], load = argv[3], out = argv[4];
  std::vector<Figure> figures;
  for (int i = 5; i < argc; ++i) {
    if (!bench::ReadFigures(argv[i], figures)) {
      fmt::print(stderr, "bench_report: cannot read the figures in {}\n", argv[i]);
      return 1;
    }
  }
  const std::string cpu = CpuName();
  const unsigned cores = std::thread::hardware_concurrency();
  fmt::print("\nBenchmarks ({} run), {}, {} cores, {}, load {}\n", mode, started, cores, cpu, load);
  PrintTable(figures);

  const bench::Json result = {
      {"mode", mode},
      {"date", started},
      {"machine",
       {{"cpu", cpu}, {"cores", cores}, {"system", System()}, {"load_average_at_start", load}}},
      {"figures", figures}};
  std::filesystem::create_directories(std::filesystem::path(out).parent_path());
  std::ofstream(out) << result.dump(2) << "\n";
  fmt::print("\nwritten: {}\n", out);

  const bench::Tally tally = bench::Count(figures);
  fmt::print("targets met: {} of {}\n", tally.met, tally.targets);
  if (tally.failed.empty()) return 0;
  fmt::print(stderr, "FAILED checks: {}\n", fmt::join(tally.failed, "; "));
  return 1;
}
