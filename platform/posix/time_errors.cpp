// Sleep, GetTickCount and the per-thread last-error code.
//
// GetTickCount is milliseconds of the monotonic clock, cut to 32 bits, so it
// wraps after 49.7 days as on Windows. The test hook moves its origin so that a
// test can start just before the wrap; the offset is atomic because the hook may
// be set while other threads read the clock.
#include <time.h>

#include <atomic>
#include <cstdint>

#include "platform/diagnostics.h"
#include "platform/posix/win32_posix.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;
std::atomic<std::uint32_t> tickOffset{0};
// Set by diag::SetSleepDivisor for fuzzing; 1 is real time.
std::atomic<DWORD> sleepDivisor{1};

std::uint64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace

void Sleep(DWORD milliseconds) {
  const DWORD divisor = sleepDivisor.load(std::memory_order_relaxed);
  if (divisor > 1 && milliseconds != INFINITE && milliseconds != 0) {
    milliseconds = milliseconds / divisor > 0 ? milliseconds / divisor : 1;
  }
  // INFINITE really sleeps for ever, as on Windows.
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
  if (milliseconds == INFINITE) remaining.tv_sec = static_cast<time_t>(INT32_MAX);
  while (nanosleep(&remaining, &remaining) != 0) {
  }
}

DWORD GetTickCount() {
  return static_cast<DWORD>(MonotonicMilliseconds()) + tickOffset.load(std::memory_order_relaxed);
}

void SetLastError(DWORD error) {
  lastError = error;
}

DWORD GetLastError() {
  return lastError;
}

bool diag::SetTickCountStart(DWORD start) {
  tickOffset.store(start - static_cast<DWORD>(MonotonicMilliseconds()), std::memory_order_relaxed);
  return true;
}

bool diag::SetSleepDivisor(DWORD divisor) {
  sleepDivisor.store(divisor > 1 ? divisor : 1);
  return true;
}
