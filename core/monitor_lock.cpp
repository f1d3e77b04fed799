// The module-wide port list and the locks of the core: MonitorLock and the port
// table's (core/port_table.h).
//
// All are plain zero-initialised globals: the DLL runs no constructors at load
// (its entry point is DllEntryPoint itself), so nothing here may need one. The
// first face entry (InitializeMonitorEx or InitializePrintMonitor2) initialises
// the locks. They live until the spooler unloads us: a port call, or another
// instance of the NT face, may arrive at any time until then. The NT DLL deletes
// them as it is unloaded (DeleteMonitorLock); the Windows 95 DLL does nothing at
// detach.
#include <atomic>

#include "core/port_list.h"
#include "core/port_ops.h"
#include "core/port_table.h"

PortRecord* PortList = nullptr;
CRITICAL_SECTION MonitorLock;

namespace {

// 0: not yet; 1: being initialised by one caller; 2: ready. Constant-initialised,
// so it needs no constructor either.
constexpr DWORD LOCK_UNSET = 0;
constexpr DWORD LOCK_PREPARING = 1;
constexpr DWORD LOCK_READY = 2;
std::atomic<DWORD> MonitorLockState{LOCK_UNSET};

}  // namespace

void InitializeMonitorLock() {
  DWORD expected = LOCK_UNSET;
  if (MonitorLockState.compare_exchange_strong(expected, LOCK_PREPARING)) {
    InitializeCriticalSection(&MonitorLock);
    InitializePortTableLocks();
    MonitorLockState.store(LOCK_READY);
    return;
  }
  // Another spooler thread is initialising it right now: its next step is done
  // in an instant.
  while (MonitorLockState.load() != LOCK_READY) Sleep(0);
}

void DeleteMonitorLock() {
  DWORD expected = LOCK_READY;
  if (!MonitorLockState.compare_exchange_strong(expected, LOCK_UNSET)) return;
  DeletePortTableLocks();
  DeleteCriticalSection(&MonitorLock);
}

#ifdef NDEBUG

void EnterMonitorLock() {
  EnterCriticalSection(&MonitorLock);
}

void LeaveMonitorLock() {
  LeaveCriticalSection(&MonitorLock);
}

bool MonitorLockHeldHere() {
  return true;
}

#else

namespace {
// How deep the calling thread is inside MonitorLock (it is recursive). Only the
// builds with assertions keep it: the shipped DLL has no thread-local storage.
thread_local int MonitorLockDepth = 0;
}  // namespace

void EnterMonitorLock() {
  EnterCriticalSection(&MonitorLock);
  ++MonitorLockDepth;
}

void LeaveMonitorLock() {
  --MonitorLockDepth;
  LeaveCriticalSection(&MonitorLock);
}

bool MonitorLockHeldHere() {
  return MonitorLockDepth > 0;
}

#endif
