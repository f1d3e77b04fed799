// Native build: the monitor is linked in.
#include "monitor/monitor.h"
#include "tools/monitor_loader.h"

namespace spool {

std::string LoadMonitor(MONITOR* table, std::string* loaded) {
  *loaded = "monitor linked in: the objects of libkovirlm.so";
  if (!InitializeMonitorEx(nullptr, table)) return "InitializeMonitorEx returned FALSE";
  return "";
}

}  // namespace spool
