// Figures to JSON (nlohmann/json) and to the console.
#include "bench/figures.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

namespace bench {

NLOHMANN_JSON_SERIALIZE_ENUM(Goal, {{Goal::Report, "report"},
                                    {Goal::AtMost, "at most"},
                                    {Goal::AtLeast, "at least"}})

namespace {

Json Number(double value) {
  return std::isfinite(value) ? Json(value) : Json();
}

double Number(const Json& value, double null) {
  return value.is_number() ? value.get<double>() : null;
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

Tally Count(const std::vector<Figure>& figures) {
  Tally tally;
  for (const Figure& f : figures) {
    if (f.goal == Goal::Report) continue;
    const bool met = Met(f);
    if (f.check) {
      ++tally.checks;
      tally.passed += met ? 1 : 0;
      if (!met) tally.failed.push_back(f.name);
    } else {
      ++tally.targets;
      tally.met += met ? 1 : 0;
      if (!met) tally.missed.push_back(f.name);
    }
  }
  return tally;
}

std::string SummaryLine(const std::vector<Figure>& figures) {
  const Tally tally = Count(figures);
  const auto names = [](const char* what, const std::vector<std::string>& list) {
    return list.empty() ? std::string() : fmt::format(" ({}: {})", what, fmt::join(list, "; "));
  };
  return fmt::format("{} {} {} {} of {} speed targets met{}, {} of {} correctness checks passed{}",
                     figures.size(), tally.checks, tally.passed, tally.met, tally.targets,
                     names("missed", tally.missed), tally.passed, tally.checks,
                     names("failed", tally.failed));
}

void to_json(Json& json, const Figure& f) {
  const bool report = f.goal == Goal::Report;
  json = {{"name", f.name},
          {"value", Number(f.value)},
          {"unit", f.unit},
          {"goal", f.goal},
          {"limit", report ? Json() : Number(f.limit)},
          {"decimals", f.decimals},
          {"check", f.check},
          {"met", report ? Json() : Json(Met(f))}};
}

void from_json(const Json& json, Figure& f) {
  f = {json.at("name"), Number(json.at("value"), NAN), json.at("unit"),
       json.at("goal"), Number(json.at("limit"), 0),   json.at("decimals"),
       json.at("check")};
}

bool WriteFigures(const std::string& path, const std::vector<Figure>& figures) {
  for (const Figure& f : figures) {
    std::printf("  %-58s %12.*f %-8s %s\n", f.name.c_str(), f.decimals, f.value, f.unit.c_str(),
                f.goal == Goal::Report ? "" : (Met(f) ? "met" : "NOT MET"));
  }
  std::fflush(stdout);
  if (path.empty()) return true;
  std::ofstream file(path);
  file << Json{{"figures", figures}}.dump(2) << "\n";
  return static_cast<bool>(file.flush());
}

bool ReadFigures(const std::string& path, std::vector<Figure>& figures) {
  std::ifstream file(path);
  const Json json = Json::parse(file, nullptr, false);
  try {
    for (const Figure& figure : json.at("figures").get<std::vector<Figure>>()) {
      figures.push_back(figure);
    }
  } catch (const nlohmann::json::exception&) {
    return false;  // unreadable (discarded) or not a figure list
  }
  return true;
}

}  // namespace bench
