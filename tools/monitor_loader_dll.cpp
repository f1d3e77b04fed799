// Windows build: the monitor DLL of the face, found beside the simulator, as the
// spooler loads it: kovirlm.dll (InitializeMonitorEx) for the Windows 95 face,
// kovirlmnt.dll (InitializePrintMonitor2) for the NT family's.
#include "platform/win32.h"
#include "tools/monitor_loader.h"

namespace spool {
namespace {

// The entry point's address in `module`, or null.
template <typename Entry>
Entry Find(HMODULE module, const char* name) {
  return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::string LoadMonitor(SpoolerFace face, LoadedMonitor* monitor, std::string* loaded) {
  monitor->face = face;
  const char* dll = face == SpoolerFace::Nt ? "kovirlmnt.dll" : "kovirlm.dll";
  // Never freed: like the spooler, we keep a monitor loaded for the life of the
  // process (its poller threads and lock live in it).
  HMODULE module = LoadLibraryA(dll);
  if (module == nullptr) {
    return std::string("cannot load ") + dll + " (error " + std::to_string(GetLastError()) + ")";
  }
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, sizeof path);
  *loaded = path;

  if (face == SpoolerFace::Nt) {
    auto initialize =
        Find<LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE)>(module, "InitializePrintMonitor2");
    if (initialize == nullptr) return "kovirlmnt.dll does not export InitializePrintMonitor2";
    monitor->table2 = initialize(nullptr, &monitor->instance);
    if (monitor->table2 == nullptr) {
      return "InitializePrintMonitor2 returned NULL (error " + std::to_string(GetLastError()) + ")";
    }
    return "";
  }

  auto initialize = Find<BOOL(WINAPI*)(LPSTR, LPMONITOR)>(module, "InitializeMonitorEx");
  if (initialize == nullptr) return "kovirlm.dll does not export InitializeMonitorEx";
  if (!initialize(nullptr, &monitor->table)) return "InitializeMonitorEx returned FALSE";
  return "";
}

}  // namespace spool
