// Threads of this process, from a Toolhelp snapshot (Windows 95 has Toolhelp; the
// monitor's poller is the only thread it may add).
#pragma once

#include <windows.h>

namespace selftest {

// Threads alive in this process, or 0 when no snapshot can be taken.
DWORD CountOwnThreads();
// Waits up to `limitMs` for the count to become `expected`; returns the last count.
// The limit only keeps a wrong count from hanging the test.
DWORD WaitForThreadCount(DWORD expected, DWORD limitMs);

}  // namespace selftest
