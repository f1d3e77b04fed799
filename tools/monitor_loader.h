// Getting the monitor's MONITOR table the way the spooler does: through
// InitializeMonitorEx. The native build calls the linked-in monitor (the same
// objects as libkovirlm.so; a dlopen'ed copy would bring its own registry, which
// the status application stand-in could not see). The Windows build loads the
// real kovirlm.dll with LoadLibraryA and GetProcAddress.
#pragma once

#include <string>

#include "port/monitor_table.h"

namespace spool {

// Fills `table`; returns an empty string on success or a one-line error.
// `loaded` says what was loaded (a path or "linked-in monitor").
std::string LoadMonitor(MONITOR* table, std::string* loaded);

}  // namespace spool
