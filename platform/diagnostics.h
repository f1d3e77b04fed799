// Test and benchmark probes that sit outside the Win32 names. The Linux layer
// answers them exactly from its own counters; the Windows build answers what the
// real system can tell (thread count from a Toolhelp snapshot, process memory)
// and reports the rest as unknown, so a test can tell "not measurable here" from
// "zero".
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace diag {

constexpr long kUnknown = -1;

struct ResourceCounts {
  long heapBlocks;            // live LocalAlloc blocks, or kUnknown
  long handles;               // open kernel-object handles (events, threads, printers), or kUnknown
  long openKeys;              // open registry key handles, or kUnknown
  long threads;               // threads alive in the process (including the caller)
  std::uint64_t memoryBytes;  // process private/resident memory, 0 when unknown
};

ResourceCounts CurrentResourceCounts();

// Registry key opens (RegOpenKeyExA and RegCreateKeyExA calls that succeeded) since
// start. Only the Linux layer counts them; the Windows build returns kUnknown.
long long RegistryKeyOpens();

// Makes GetTickCount() read `start` now and count on from there, so tests can start
// near the 32-bit wrap. Linux layer only: returns false where the real clock is used.
bool SetTickCountStart(DWORD start);

// The stand-in spooler's printers: OpenPrinterA succeeds only for a registered
// name. Linux layer only: returns false on Windows, where the real spooler answers.
bool AddSpoolerPrinter(const char* printerName);
bool RemoveSpoolerPrinter(const char* printerName);
long OpenPrinterHandles();  // open spooler printer handles, or kUnknown

// Makes one CreateEventA call fail (null, ERROR_OUTOFMEMORY): the one after
// `after` further successful calls. The code is not ERROR_NOT_ENOUGH_MEMORY, so a
// caller that owes its own caller that code must set it itself. Linux layer only:
// returns false on Windows.
bool FailEventCreation(int after);
// The same for CreateThread: the next call fails (null, ERROR_NOT_ENOUGH_MEMORY).
// Linux layer only: returns false on Windows.
bool FailNextThreadCreation();
// The same for LocalAlloc: the next call fails (null, ERROR_OUTOFMEMORY).
// Linux layer only: returns false on Windows.
bool FailNextHeapAllocation();

// Called for every change the registry makes: a value written or deleted (`value`
// is its name), a key created or deleted (`value` is null). `path` is the key's
// path below `root`, as its keys were created ("System\...\StMonitor"). The hook
// runs on the changing thread with the registry's lock held, so it sees changes in
// the order they were made and must not call the registry itself. Null removes it.
// Linux layer only: returns false on Windows.
using RegistryChangeHook = void (*)(HKEY root, const char* path, const char* value);
bool SetRegistryChangeHook(RegistryChangeHook hook);

// The parameter CreateThread gave the calling thread, or null for a thread that
// CreateThread did not start: lets a test tell whose thread is at work (a status
// poller runs with its port record). Linux layer only: null on Windows.
LPVOID CurrentThreadParameter();

// Makes every Sleep last 1/`divisor` of the time asked (at least 1 ms, INFINITE
// still for ever), so that a fuzzer can run the monitor's half-second pauses by
// the hundred; 1 is real time. Waits with a timeout and GetTickCount are not
// affected. Linux layer only: returns false on Windows.
bool SetSleepDivisor(DWORD divisor);

}  // namespace diag
