// The figures a benchmark run reports: a value, its unit, and the target it is
// held to. Each executable writes its figures as JSON; bench_report gathers them
// into one table.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

namespace bench {

enum class Goal { Report, AtMost, AtLeast };

struct Figure {
  std::string name;
  double value = 0;
  std::string unit;
  Goal goal = Goal::Report;
  double limit = 0;
  int decimals = 2;
  // A correctness check (bytes delivered exactly, a document that started) rather
  // than a speed target: when it fails, the whole run fails.
  bool check = false;

  bool operator==(const Figure&) const = default;
};

bool Met(const Figure& figure);

// What a run's figures came to: its speed targets met and missed, its correctness
// checks passed and failed, each missed or failed one by name. Reports count in
// neither.
struct Tally {
  int targets = 0, met = 0, checks = 0, passed = 0;
  std::vector<std::string> missed, failed;
};
Tally Count(const std::vector<Figure>& figures);
// The one line scripts/test reads: the number of figures, of checks and of checks
// passed, then "21 of 22 speed targets met (missed: A), 5 of 5 correctness checks
// passed", a failed check named as "(failed: B)". Names are joined by "; ".
std::string SummaryLine(const std::vector<Figure>& figures);

// One figure as JSON: its fields, with "met" added (null for a report), and null
// for a value that is no number (read back as NaN) and for a report's limit.
// Fields keep their order in the file, so it reads like the table.
using Json = nlohmann::ordered_json;
void to_json(Json& json, const Figure& figure);
void from_json(const Json& json, Figure& figure);

// Writes {"figures": [...]} to `path`, and prints the figures to stdout.
bool WriteFigures(const std::string& path, const std::vector<Figure>& figures);
// Appends the figures of a file WriteFigures wrote; false when it cannot be read.
bool ReadFigures(const std::string& path, std::vector<Figure>& figures);

}  // namespace bench
