// Native build: the monitor is linked in, both faces.
#include "monitor/monitor.h"
#include "monitor_nt/monitor_nt.h"
#include "tools/monitor_loader.h"

namespace spool {

std::string LoadMonitor(SpoolerFace face, LoadedMonitor* monitor, std::string* loaded) {
  *loaded = "monitor linked in: the objects of libkovirlm.so";
  monitor->face = face;
  if (face == SpoolerFace::Nt) {
    monitor->table2 = InitializePrintMonitor2(nullptr, &monitor->instance);
    if (monitor->table2 == nullptr) {
      return "InitializePrintMonitor2 returned NULL (error " + std::to_string(GetLastError()) + ")";
    }
    return "";
  }
  if (!InitializeMonitorEx(nullptr, &monitor->table)) return "InitializeMonitorEx returned FALSE";
  return "";
}

}  // namespace spool
