// A lock for module-wide buffers that are copied in and out in one short step
// (the current status key path, the last parsed model name).
//
// It is a spin lock on an atomic_flag because that needs no run-time
// initialisation: the DLL runs no global constructors. It must only ever be held
// for a copy of a few hundred bytes, never while waiting on the registry, a device
// or another lock.
#pragma once

#include <atomic>

#include "platform/win32.h"

struct ShortLock {
  std::atomic_flag flag;
};

// Holds a ShortLock for one copy into or out of the buffer it guards.
class ShortLockGuard {
 public:
  explicit ShortLockGuard(ShortLock& lock) : lock_(lock) {
    for (unsigned attempt = 0; lock_.flag.test_and_set(std::memory_order_acquire); ++attempt) {
      // The holder only copies a little, so a short spin nearly always wins. A
      // holder preempted in the middle may be the poller at its lowest priority,
      // which Sleep(0) would not let run; Sleep(1) does.
      if (attempt >= 64) Sleep(attempt >= 128 ? 1 : 0);
    }
  }
  ~ShortLockGuard() { lock_.flag.clear(std::memory_order_release); }
  ShortLockGuard(const ShortLockGuard&) = delete;
  ShortLockGuard& operator=(const ShortLockGuard&) = delete;

 private:
  ShortLock& lock_;
};
