// Windows build: kovirlm.dll, found beside the simulator, as the spooler loads it.
//
// The shipped kovirlm.dll is the Windows 95 image: it exports InitializeMonitorEx
// only, since it may import nothing Windows 95 lacks and the NT face needs the
// wide system calls. For the NT face the simulator asks the DLL for
// InitializePrintMonitor2 all the same, and where it has none (today's image)
// takes the NT face linked into this program: the same objects, built for the
// same CPU, as the windows test suites run. The timeline's first line says which.
#include "monitor_nt/monitor_nt.h"
#include "platform/win32.h"
#include "tools/monitor_loader.h"

namespace spool {

std::string LoadMonitor(SpoolerFace face, LoadedMonitor* monitor, std::string* loaded) {
  monitor->face = face;
  // Never freed: like the spooler, we keep a monitor loaded for the life of the
  // process (its poller threads and lock live in it).
  HMODULE module = LoadLibraryA("kovirlm.dll");
  if (module == nullptr) {
    return "cannot load kovirlm.dll (error " + std::to_string(GetLastError()) + ")";
  }
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, sizeof path);
  *loaded = path;

  if (face == SpoolerFace::Nt) {
    using InitializeFn = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
    auto initialize = reinterpret_cast<InitializeFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "InitializePrintMonitor2")));
    if (initialize == nullptr) {
      initialize = InitializePrintMonitor2;
      *loaded = std::string(path) +
                " exports no InitializePrintMonitor2 (the Windows 95 image): the NT face linked "
                "into kovir_spool.exe";
    }
    monitor->table2 = initialize(nullptr, &monitor->instance);
    if (monitor->table2 == nullptr) {
      return "InitializePrintMonitor2 returned NULL (error " + std::to_string(GetLastError()) + ")";
    }
    return "";
  }

  using InitializeFn = BOOL(WINAPI*)(LPSTR, LPMONITOR);
  auto initialize = reinterpret_cast<InitializeFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "InitializeMonitorEx")));
  if (initialize == nullptr) return "kovirlm.dll does not export InitializeMonitorEx";
  if (!initialize(nullptr, &monitor->table)) return "InitializeMonitorEx returned FALSE";
  return "";
}

}  // namespace spool
