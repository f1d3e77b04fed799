// The simulator's command line: what a user may vary about the printer, the
// status monitor application and the job. Parsing never exits or throws; a bad
// command line comes back as a one-line error for main() to print.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace spool {

// The spooler the simulator plays: Windows 95's (InitializeMonitorEx, the 13-slot
// MONITOR, ANSI names) or the NT family's (InitializePrintMonitor2, MONITOR2 with
// a monitor handle, UTF-16 names, Shutdown at the end).
enum class SpoolerFace { Win95, Nt };

struct SpoolOptions {
  std::string model = "KP-210S";
  std::string deviceId;  // the printer's IEEE 1284 device ID (from the model unless given)
  std::string printer;   // spooler printer name; "<maker> <model>" unless given
  std::string port = "LPT1:";
  std::string jobFile;           // empty: the built-in sample job
  DWORD pollIntervalMs = 500;    // GetRealTimeStatusTime as the status application sets it
  DWORD paceKiBPerSecond = 16;   // 0: write the job as fast as the port takes it
  DWORD statusUpdatesMs = 1000;  // the printer volunteers a status update this often (0: never)
  bool statusApp = true;         // false: StMonExistFlag 0, the application is not running
  DWORD holdThreadFlagMs = 0;    // StRealThreadExistFlag stays 1 this long into the job
  SpoolerFace face = SpoolerFace::Win95;
  std::string outDir = "out";
  bool wine = false;
  bool help = false;
};

struct ParsedOptions {
  SpoolOptions options;
  std::string error;  // empty when the command line was good
};

// `args` excludes the program name.
ParsedOptions ParseSpoolOptions(const std::vector<std::string>& args);

// The models the simulator knows by name (each reports emu::DeviceIdFor(model)).
const std::vector<std::string>& KnownModels();

// The value of `key` in a device ID ("MFG", "MDL"), or empty.
std::string DeviceIdField(const std::string& deviceId, const std::string& key);

std::string UsageText();

}  // namespace spool
