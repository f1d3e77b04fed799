#include "selftest/thread_count.h"

#include <tlhelp32.h>

namespace selftest {

DWORD CountOwnThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  const DWORD self = GetCurrentProcessId();
  DWORD count = 0;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == self) ++count;
    entry.dwSize = sizeof entry;
  }
  CloseHandle(snapshot);
  return count;
}

DWORD WaitForThreadCount(DWORD expected, DWORD limitMs) {
  const DWORD start = GetTickCount();
  DWORD count = CountOwnThreads();
  while (count != expected && GetTickCount() - start < limitMs) {
    Sleep(20);
    count = CountOwnThreads();
  }
  return count;
}

}  // namespace selftest
