// Windows build: kovirlm.dll, found beside the simulator, as the spooler loads it.
#include "platform/win32.h"
#include "tools/monitor_loader.h"

namespace spool {

std::string LoadMonitor(MONITOR* table, std::string* loaded) {
  // Never freed: like the spooler, we keep a monitor loaded for the life of the
  // process (its poller threads and lock live in it).
  HMODULE module = LoadLibraryA("kovirlm.dll");
  if (module == nullptr) {
    return "cannot load kovirlm.dll (error " + std::to_string(GetLastError()) + ")";
  }
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, sizeof path);
  *loaded = path;
  using InitializeFn = BOOL(WINAPI*)(LPSTR, LPMONITOR);
  auto initialize = reinterpret_cast<InitializeFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "InitializeMonitorEx")));
  if (initialize == nullptr) return "kovirlm.dll does not export InitializeMonitorEx";
  if (!initialize(nullptr, table)) return "InitializeMonitorEx returned FALSE";
  return "";
}

}  // namespace spool
