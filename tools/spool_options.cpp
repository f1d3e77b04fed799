// Command-line parsing for the simulator. Every option takes "--name value" or
// "--name=value"; numbers are plain decimal within a range that keeps a run
// short enough to watch.
#include "tools/spool_options.h"

#include <cstdint>
#include <optional>

namespace spool {
namespace {

std::optional<DWORD> ParseNumber(const std::string& text, DWORD maximum) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value > maximum) return std::nullopt;
  return value;
}

struct NumberOption {
  const char* name;
  DWORD SpoolOptions::*field;
  DWORD minimum;
  DWORD maximum;
};

constexpr NumberOption kNumberOptions[] = {
    {"--poll-interval", &SpoolOptions::pollIntervalMs, 1, 600000},
    {"--pace", &SpoolOptions::paceKiBPerSecond, 0, 1048576},
    {"--status-updates", &SpoolOptions::statusUpdatesMs, 0, 600000},
    {"--hold-thread-flag", &SpoolOptions::holdThreadFlagMs, 0, 600000},
};

struct TextOption {
  const char* name;
  std::string SpoolOptions::*field;
};

constexpr TextOption kTextOptions[] = {
    {"--model", &SpoolOptions::model},     {"--device-id", &SpoolOptions::deviceId},
    {"--printer", &SpoolOptions::printer}, {"--port", &SpoolOptions::port},
    {"--job", &SpoolOptions::jobFile},     {"--out", &SpoolOptions::outDir},
};

bool IsKnownModel(const std::string& model) {
  for (const std::string& known : KnownModels()) {
    if (known == model) return true;
  }
  return false;
}

// Fills in what depends on other options: the device ID from the model, the
// model from a given device ID, the printer name from both.
std::string Complete(SpoolOptions& options, bool modelGiven) {
  if (options.deviceId.empty()) {
    if (!IsKnownModel(options.model)) {
      return "unknown model '" + options.model +
             "' (known: KP-210S, KP-6600S, KP-6600SU, DL-9240; or give --device-id)";
    }
    options.deviceId = DeviceIdForModel(options.model);
  } else {
    const std::string mdl = DeviceIdField(options.deviceId, "MDL");
    if (mdl.empty() && !modelGiven) {
      return "--device-id has no MDL field: add one or give --model";
    }
    // The status application registers the model exactly as the printer names it.
    if (!modelGiven) options.model = mdl;
  }
  if (options.printer.empty()) {
    const std::string maker = DeviceIdField(options.deviceId, "MFG");
    options.printer = maker.empty() ? options.model : maker + " " + options.model;
  }
  if (options.port.empty()) return "--port must not be empty";
  if (options.printer.empty()) return "--printer must not be empty";
  // The spooler refuses these in printer names; a backslash would also name a
  // different registry key.
  if (options.printer.find_first_of("\\,") != std::string::npos) {
    return "--printer must not contain '\\' or ','";
  }
  if (options.outDir.empty()) return "--out must not be empty";
  return "";
}

}  // namespace

const std::vector<std::string>& KnownModels() {
  static const std::vector<std::string> models = {"KP-210S", "KP-6600S", "KP-6600SU", "DL-9240"};
  return models;
}

std::string DeviceIdForModel(const std::string& model) {
  return "MFG:KOVIR;CMD:REMOTE1;MDL:" + model + ";CLS:PRINTER;";
}

std::string DeviceIdField(const std::string& deviceId, const std::string& key) {
  std::size_t at = 0;
  while (at < deviceId.size()) {
    std::size_t end = deviceId.find(';', at);
    if (end == std::string::npos) end = deviceId.size();
    const std::string field = deviceId.substr(at, end - at);
    const std::size_t colon = field.find(':');
    if (colon != std::string::npos && field.substr(0, colon) == key) {
      return field.substr(colon + 1);
    }
    at = end + 1;
  }
  return "";
}

ParsedOptions ParseSpoolOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  SpoolOptions& options = parsed.options;
  bool modelGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (const std::size_t eq = name.find('=');
        name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    if (name == "--help" || name == "-h") {
      options.help = true;
      continue;
    }
    if (name == "--no-status-app" || name == "--wine") {
      if (inlineValue) return {options, name + " takes no value"};
      if (name == "--wine") options.wine = true;
      if (name == "--no-status-app") options.statusApp = false;
      continue;
    }
    // Every other option takes a value.
    auto takeValue = [&]() -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    bool known = false;
    for (const TextOption& option : kTextOptions) {
      if (name != option.name) continue;
      known = true;
      const std::optional<std::string> value = takeValue();
      if (!value) return {options, name + " needs a value"};
      options.*option.field = *value;
      if (name == "--model") modelGiven = true;
    }
    for (const NumberOption& option : kNumberOptions) {
      if (name != option.name) continue;
      known = true;
      const std::optional<std::string> value = takeValue();
      if (!value) return {options, name + " needs a value"};
      const std::optional<DWORD> number = ParseNumber(*value, option.maximum);
      if (!number || *number < option.minimum) {
        return {options, name + ": '" + *value + "' is not a number from " +
                             std::to_string(option.minimum) + " to " +
                             std::to_string(option.maximum)};
      }
      options.*option.field = *number;
    }
    if (!known) return {options, "unknown option '" + args[i] + "' (see --help)"};
  }
  if (!options.help) parsed.error = Complete(options, modelGiven);
  return parsed;
}

std::string UsageText() {
  return R"(Usage: kovir_spool [options]

Plays the print spooler: loads the KOVIR language monitor, stacks it on an
emulated device monitor and printer, lets a stand-in for the status monitor
application register the printer, and prints a job through the monitor while
showing what crosses the port and the registry.

  --model NAME           KP-210S (default), KP-6600S, KP-6600SU or DL-9240
  --device-id TEXT       the printer's IEEE 1284 device ID instead, e.g.
                         "MFG:ACME;MDL:Laser 5;" for another maker's printer
  --printer NAME         spooler printer name (default: "<maker> <model>")
  --port NAME            port name (default: LPT1:)
  --job FILE             print FILE instead of the built-in sample job
  --poll-interval MS     GetRealTimeStatusTime for the poller (default: 500)
  --pace KIB_PER_S       job data rate (default: 16; 0: as fast as possible)
  --status-updates MS    the printer volunteers a status update this often
                         while printing (default: 1000; 0: never)
  --no-status-app        the status application is installed but not running
                         (StMonExistFlag 0)
  --hold-thread-flag MS  the application's StRealThreadExistFlag stays 1 for
                         MS ms, holding StartDocPort back
  --out DIR              where StMonitor.reg and received.bin go (default: out)
  --wine                 run the Windows build (kovirlm.dll) under Wine
  --help                 this text

Exit status: 0 when the job printed and arrived intact, 1 when the run failed,
2 for a bad command line or an unreadable job file.
)";
}

}  // namespace spool
