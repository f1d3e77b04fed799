// The figures a benchmark run reports: a value, its unit, and the target it is
// held to. Each executable writes its figures as JSON; scripts/bench gathers them
// into one table.
#pragma once

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
};

bool Met(const Figure& figure);

// Writes {"figures": [...]} to `path`, and prints the figures to stdout.
bool WriteFigures(const std::string& path, const std::vector<Figure>& figures);

}  // namespace bench
