// Private to the Linux layer: the kernel-object stand-ins behind HANDLEs and the
// handle table that maps handle values to them.
//
// A handle value is a number from a counter (never a pointer, never reused), so a
// closed or made-up handle is recognised and refused with ERROR_INVALID_HANDLE
// instead of being dereferenced. The table holds one reference to the object per
// open handle; a running thread holds one more to its own object, which is why a
// thread handle may be closed while the thread still runs.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/posix/win32_posix.h"

namespace kovirlm::posix {

enum class ObjectKind { kEvent, kThread, kPrinter };

struct KernelObject {
  explicit KernelObject(ObjectKind k) : kind(k) {}

  const ObjectKind kind;

  // Waitable state, for events and threads. A thread object is a manual-reset
  // event that becomes signalled, for good, when the thread ends.
  //
  // Windows satisfies the waits that are blocked at the moment of SetEvent, so a
  // ResetEvent right after it cannot strand them. `generation` carries that for a
  // manual-reset event (a waiter leaves when it changes), and `grants` for an
  // auto-reset one (SetEvent hands its signal straight to one blocked waiter
  // instead of leaving the event signalled).
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled = false;        // guarded by mutex
  bool manualReset = true;       // fixed at creation
  unsigned long generation = 0;  // guarded by mutex: SetEvents so far (manual reset)
  long waiters = 0;              // guarded by mutex: threads blocked in a wait
  long grants = 0;               // guarded by mutex: signals handed to blocked waiters

  // Threads only, guarded by mutex.
  DWORD exitCode = STILL_ACTIVE;
  int priority = THREAD_PRIORITY_NORMAL;
  long nativeThreadId = 0;  // the kernel's id, 0 until the thread has started

  // Printers only, fixed at creation.
  std::string printerName;
};

// A fresh handle value. Kernel handles and registry keys share one sequence, as
// they share one handle table on Windows, so a key passed where a kernel handle
// belongs (or the reverse) is never mistaken for another object.
std::uintptr_t NewHandleValue();

// Enters `object` in the table and returns its new handle.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);

// The object behind `handle` if it is open and of `kind`; null otherwise (the
// caller then sets ERROR_INVALID_HANDLE).
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle, ObjectKind kind);
std::shared_ptr<KernelObject> LookupWaitable(HANDLE handle);

// Removes `handle` if it is open and of `kind`; false otherwise.
bool RemoveHandle(HANDLE handle, ObjectKind kind);

long CountHandles();
long CountHandles(ObjectKind kind);

// Sets the object signalled and wakes its waiters. Called with no lock held.
void Signal(KernelObject& object);

long CountLiveThreads();  // threads of this process that have not ended
long CountOpenKeys();     // open registry key handles (not the predefined roots)
long CountHeapBlocks();   // LocalAlloc blocks not yet freed

}  // namespace kovirlm::posix
