// Figures to JSON and to the console. The JSON is written by hand: the values are
// numbers and plain ASCII names, and nothing else reads it but scripts/bench.
#include "bench/figures.h"

#include <cmath>
#include <cstdio>

namespace bench {
namespace {

const char* GoalName(Goal goal) {
  switch (goal) {
    case Goal::AtMost:
      return "at most";
    case Goal::AtLeast:
      return "at least";
    case Goal::Report:
      break;
  }
  return "report";
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Number(double value) {
  if (!std::isfinite(value)) return "null";
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

}  // namespace

bool Met(const Figure& figure) {
  switch (figure.goal) {
    case Goal::AtMost:
      return std::isfinite(figure.value) && figure.value <= figure.limit;
    case Goal::AtLeast:
      return std::isfinite(figure.value) && figure.value >= figure.limit;
    case Goal::Report:
      break;
  }
  return true;
}

bool WriteFigures(const std::string& path, const std::vector<Figure>& figures) {
  std::string json = "{\"figures\": [\n";
  for (std::size_t i = 0; i < figures.size(); ++i) {
    const Figure& f = figures[i];
    json += "  {\"name\": " + Quoted(f.name) + ", \"value\": " + Number(f.value) +
            ", \"unit\": " + Quoted(f.unit) + ", \"goal\": " + Quoted(GoalName(f.goal)) +
            ", \"limit\": " + (f.goal == Goal::Report ? "null" : Number(f.limit)) +
            ", \"decimals\": " + std::to_string(f.decimals) +
            ", \"check\": " + (f.check ? "true" : "false") +
            ", \"met\": " + (f.goal == Goal::Report ? "null" : (Met(f) ? "true" : "false")) + "}" +
            (i + 1 < figures.size() ? ",\n" : "\n");
    std::printf("  %-58s %12.*f %-8s %s\n", f.name.c_str(), f.decimals, f.value, f.unit.c_str(),
                f.goal == Goal::Report ? "" : (Met(f) ? "met" : "NOT MET"));
  }
  json += "]}\n";
  std::fflush(stdout);
  if (path.empty()) return true;
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return false;
  const bool written = std::fwrite(json.data(), 1, json.size(), file) == json.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace bench
