// The NT DLL's entry point (kovirlmnt.dll only; the native library and the test
// programs have the Windows 95 face's, monitor/monitor_entry.cpp).
//
// The spooler unloads the DLL once the last instance's Shutdown has returned, and
// loads it again when a printer needs it. A critical section left initialised in
// an unmapped image is a record the system keeps pointing at: lock-checking tools
// stop the spooler there, and each load and unload leaks one. So at a dynamic
// unload (FreeLibrary: `reserved` is null) the locks go; at process exit
// (`reserved` non-null) nothing is done, since other threads may have been ended
// anywhere, inside a lock too.
#include "monitor_nt/monitor_nt.h"

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) DeleteMonitorLock();
  return TRUE;
}
