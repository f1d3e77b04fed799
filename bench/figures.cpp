// Figures to JSON (nlohmann/json) and to the console.
#include "bench/figures.h"

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
