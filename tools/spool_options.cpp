// Command-line parsing for the simulator, with CLI11: every option takes "--name
// value" or "--name=value", the last of a repeated option wins, and --help is made
// from the same table. Numbers are plain decimal within a range that keeps a run
// short enough to watch.
#include "tools/spool_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "emulator/device_monitor.h"

namespace spool {
namespace {

// CLI11 reads numbers with strtoull's base 0, where "010" is eight and "0x10"
// sixteen: the check lets only decimal digits through, without leading zeros.
CLI::Validator Number(DWORD minimum, DWORD maximum) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        if (!text.empty() && text.size() <= 9 &&
            text.find_first_not_of("0123456789") == std::string::npos) {
          const DWORD value = static_cast<DWORD>(std::stoul(text));
          text = std::to_string(value);
          if (value >= minimum && value <= maximum) return "";
        }
        return "'" + text + "' is not a number from " + std::to_string(minimum) + " to " +
               std::to_string(maximum);
      },
      "");
}

// The options, bound to the fields they set.
void AddOptions(CLI::App& app, SpoolOptions& options) {
  app.description(
      "Plays the print spooler: loads the KOVIR language monitor, stacks it on an\n"
      "emulated device monitor and printer, lets a stand-in for the status monitor\n"
      "application register the printer, and prints a job through the monitor while\n"
      "showing what crosses the port and the registry.\n");
  app.footer(
      "Exit status: 0 when the job printed and arrived intact, 1 when the run failed,\n"
      "2 for a bad command line or an unreadable job file.");
  app.set_help_flag("-h,--help", "this text");
  app.get_formatter()->column_width(30);
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  auto text = [&](const char* name, std::string& field, const char* type, const char* help) {
    app.add_option(name, field, help)->type_name(type)->capture_default_str();
  };
  auto number = [&](const char* name, DWORD& field, DWORD minimum, DWORD maximum, const char* type,
                    const char* help) {
    app.add_option(name, field, help)
        ->type_name(type)
        ->capture_default_str()
        ->transform(Number(minimum, maximum));
  };
  text("--model", options.model, "NAME", "KP-210S, KP-6600S, KP-6600SU or DL-9240");
  text("--device-id", options.deviceId, "TEXT",
       "the printer's IEEE 1284 device ID instead, e.g.\n"
       "\"MFG:ACME;MDL:Laser 5;\" for another maker's printer");
  text("--printer", options.printer, "NAME", "spooler printer name (default: \"<maker> <model>\")");
  text("--port", options.port, "NAME", "port name");
  text("--job", options.jobFile, "FILE", "print FILE instead of the built-in sample job");
  number("--poll-interval", options.pollIntervalMs, 1, 600000, "MS",
         "GetRealTimeStatusTime for the poller");
  number("--pace", options.paceKiBPerSecond, 0, 1048576, "KIB_PER_S",
         "job data rate (0: as fast as possible)");
  number("--status-updates", options.statusUpdatesMs, 0, 600000, "MS",
         "the printer volunteers a status update this often\nwhile printing (0: never)");
  app.add_flag_callback(
         "--no-status-app", [&options] { options.statusApp = false; },
         "the status application is installed but not running\n(StMonExistFlag 0)")
      ->disable_flag_override();
  number("--hold-thread-flag", options.holdThreadFlagMs, 0, 600000, "MS",
         "the application's StRealThreadExistFlag stays 1 for\nMS ms, holding StartDocPort back");
  app.add_option_function<std::string>(
         "--face",
         [&options](const std::string& name) {
           options.face = name == "nt" ? SpoolerFace::Nt : SpoolerFace::Win95;
         },
         "the spooler to play: Windows 95's (InitializeMonitorEx,\n"
         "ANSI names) or the NT family's (InitializePrintMonitor2,\n"
         "UTF-16 names, Shutdown at the end)")
      ->type_name("FACE")
      ->default_str("win95")
      ->check(CLI::IsMember({"win95", "nt"}));
  text("--out", options.outDir, "DIR", "where StMonitor.reg and received.bin go");
  app.add_flag("--wine", options.wine, "run the Windows build (kovirlm.dll) under Wine")
      ->disable_flag_override();
}

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
    options.deviceId = emu::DeviceIdFor(options.model);
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
  CLI::App app("", "kovir_spool");
  AddOptions(app, parsed.options);
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    parsed.options.help = true;
    return parsed;
  } catch (const CLI::ParseError& error) {
    // Main prints the error as one line after the program's name.
    parsed.error = error.what();
    std::replace(parsed.error.begin(), parsed.error.end(), '\n', ' ');
    return parsed;
  }
  parsed.error = Complete(parsed.options, app.count("--model") > 0);
  return parsed;
}

std::string UsageText() {
  SpoolOptions defaults;
  CLI::App app("", "kovir_spool");
  AddOptions(app, defaults);
  return app.help();
}

}  // namespace spool
