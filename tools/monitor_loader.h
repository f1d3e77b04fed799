// Getting the monitor the way one face's spooler does: the Windows 95 spooler
// calls InitializeMonitorEx for its MONITOR table, the NT family's calls
// InitializePrintMonitor2 for its MONITOR2 table and a monitor handle. The native
// build calls the linked-in monitor (the same objects as libkovirlm.so; a
// dlopen'ed copy would bring its own registry, which the status application
// stand-in could not see). The Windows build loads the real DLL with LoadLibraryA
// and GetProcAddress: kovirlm.dll for the Windows 95 face, kovirlmnt.dll for the
// NT family's.
#pragma once

#include <string>

#include "platform/spooler_nt.h"
#include "port/monitor_table.h"
#include "tools/spool_options.h"

namespace spool {

// The monitor as the face's spooler holds it.
struct LoadedMonitor {
  SpoolerFace face = SpoolerFace::Win95;
  MONITOR table{};                   // Windows 95: what InitializeMonitorEx filled
  const MONITOR2* table2 = nullptr;  // NT family: what InitializePrintMonitor2 returned
  HANDLE instance = nullptr;         // NT family: the monitor handle it gave
};

// Fills `monitor` through `face`'s entry; returns an empty string on success or a
// one-line error. `loaded` says what was loaded and from where.
std::string LoadMonitor(SpoolerFace face, LoadedMonitor* monitor, std::string* loaded);

}  // namespace spool
