// Resource counts under Windows (and Wine), from what the system itself reports:
// the threads of this process from a Toolhelp snapshot and the process's private
// memory. Heap blocks, handles and key opens have no trustworthy source here
// (Wine's GetProcessHandleCount reports nothing), so they are kUnknown, and the
// hooks that only the Linux layer provides report false.
#include <windows.h>
// windows.h first: the two below depend on it.
#include <psapi.h>
#include <tlhelp32.h>

#include "platform/diagnostics.h"

namespace {

long ThreadsOfThisProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return diag::kUnknown;
  const DWORD self = GetCurrentProcessId();
  long count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == self) ++count;
    entry.dwSize = sizeof(entry);
  }
  CloseHandle(snapshot);
  return count;
}

std::uint64_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(GetCurrentProcess(),
                            reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof(counters))) {
    return 0;
  }
  // Wine fills only the basic counters; there the commit charge (PagefileUsage)
  // is the same figure as PrivateUsage on Windows.
  return counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
}

}  // namespace

diag::ResourceCounts diag::CurrentResourceCounts() {
  ResourceCounts counts{};
  counts.heapBlocks = kUnknown;
  counts.handles = kUnknown;
  counts.openKeys = kUnknown;
  counts.threads = ThreadsOfThisProcess();
  counts.memoryBytes = PrivateBytes();
  return counts;
}

long long diag::RegistryKeyOpens() {
  return kUnknown;
}

bool diag::SetTickCountStart(DWORD) {
  return false;
}

bool diag::AddSpoolerPrinter(const char*) {
  return false;
}

bool diag::RemoveSpoolerPrinter(const char*) {
  return false;
}

long diag::OpenPrinterHandles() {
  return kUnknown;
}

bool diag::FailEventCreation(int) {
  return false;
}

bool diag::FailNextThreadCreation() {
  return false;
}

bool diag::FailNextHeapAllocation() {
  return false;
}

bool diag::SetRegistryChangeHook(RegistryChangeHook) {
  return false;
}

LPVOID diag::CurrentThreadParameter() {
  return nullptr;
}

bool diag::SetSleepDivisor(DWORD) {
  return false;
}
