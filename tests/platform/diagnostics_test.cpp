// The resource probes the leak tests rely on, and the stand-in spooler. Counts
// the Windows build cannot take are kUnknown there and their checks are skipped;
// the thread count and the spooler's refusals hold in both builds.
#include "platform/diagnostics.h"

#include <gtest/gtest.h>

#include "tests/support/start_thread.h"

namespace {

TEST(Diagnostics, HeapBlocksAreCountedExactly) {
  long before = diag::CurrentResourceCounts().heapBlocks;
  if (before == diag::kUnknown) GTEST_SKIP() << "heap blocks are not countable here";
  HLOCAL first = LocalAlloc(LPTR, 16);
  HLOCAL second = LocalAlloc(LMEM_FIXED, 0);
  EXPECT_EQ(before + 2, diag::CurrentResourceCounts().heapBlocks);
  LocalFree(first);
  EXPECT_EQ(before + 1, diag::CurrentResourceCounts().heapBlocks);
  LocalFree(second);
  LocalFree(nullptr);
  EXPECT_EQ(before, diag::CurrentResourceCounts().heapBlocks);
}

TEST(Diagnostics, HandlesAreCountedUntilClosed) {
  long before = diag::CurrentResourceCounts().handles;
  if (before == diag::kUnknown) GTEST_SKIP() << "handles are not countable here";
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(before + 1, diag::CurrentResourceCounts().handles);
  CloseHandle(event);
  CloseHandle(event);  // a second close changes nothing
  EXPECT_EQ(before, diag::CurrentResourceCounts().handles);
}

TEST(Diagnostics, OpenKeysAndKeyOpensAreCounted) {
  diag::ResourceCounts before = diag::CurrentResourceCounts();
  long long opensBefore = diag::RegistryKeyOpens();
  if (before.openKeys == diag::kUnknown || opensBefore == diag::kUnknown) {
    GTEST_SKIP() << "registry keys are not countable here";
  }
  HKEY first = nullptr, second = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &first));
  EXPECT_EQ(before.openKeys, diag::CurrentResourceCounts().openKeys);  // a root is no new key
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, nullptr, 0, KEY_READ,
                                           nullptr, &first, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(first, "", 0, KEY_READ, &second));
  EXPECT_EQ(before.openKeys + 2, diag::CurrentResourceCounts().openKeys);
  EXPECT_EQ(opensBefore + 3, diag::RegistryKeyOpens());
  HKEY missing = nullptr;
  EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(first, "kovirlm-no-such-key", 0, KEY_READ, &missing));
  EXPECT_EQ(opensBefore + 3, diag::RegistryKeyOpens());  // failed opens do not count
  RegCloseKey(first);
  RegCloseKey(second);
  EXPECT_EQ(before.openKeys, diag::CurrentResourceCounts().openKeys);
}

DWORD WINAPI WaitForRelease(LPVOID parameter) {
  WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
  return 0;
}

// The thread count may lag an ended thread for a moment under Windows; wait for
// it to settle rather than sampling once.
bool ThreadCountBecomes(long expected) {
  for (int i = 0; i < 500; ++i) {
    if (diag::CurrentResourceCounts().threads == expected) return true;
    Sleep(20);
  }
  return false;
}

TEST(Diagnostics, ThreadsAreCountedWhileAliveAndNotAfter) {
  long before = diag::CurrentResourceCounts().threads;
  ASSERT_NE(diag::kUnknown, before);
  EXPECT_GE(before, 1);  // at least the caller
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE threads[2];
  for (HANDLE& thread : threads) {
    thread = monitor_test::StartThread(WaitForRelease, release);
    ASSERT_NE(nullptr, thread);
  }
  EXPECT_TRUE(ThreadCountBecomes(before + 2));
  SetEvent(release);
  for (HANDLE thread : threads) {
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
  }
  EXPECT_TRUE(ThreadCountBecomes(before));
  CloseHandle(release);
}

TEST(Diagnostics, ProcessMemoryIsReported) {
  EXPECT_GT(diag::CurrentResourceCounts().memoryBytes, 0u);
}

TEST(Diagnostics, TickCountCanStartJustBeforeTheWrap) {
  if (!diag::SetTickCountStart(0xFFFFFF00u)) GTEST_SKIP() << "the real clock is used here";
  DWORD start = GetTickCount();
  EXPECT_GE(start, 0xFFFFFF00u);
  Sleep(400);
  DWORD later = GetTickCount();
  EXPECT_LT(later, start);  // wrapped past zero
  DWORD elapsed = later - start;
  EXPECT_GE(elapsed, 380u);
  EXPECT_LT(elapsed, 10000u);
}

TEST(Diagnostics, PlannedEventCreationFailureHitsExactlyOneCall) {
  if (!diag::FailEventCreation(1)) GTEST_SKIP() << "failures cannot be injected here";
  long before = diag::CurrentResourceCounts().handles;
  HANDLE first = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetLastError(0);
  HANDLE second = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(static_cast<DWORD>(ERROR_OUTOFMEMORY), GetLastError());
  HANDLE third = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_NE(nullptr, first);
  EXPECT_EQ(nullptr, second);
  EXPECT_NE(nullptr, third);
  EXPECT_EQ(before + 2, diag::CurrentResourceCounts().handles);
  CloseHandle(first);
  CloseHandle(third);
}

TEST(Spooler, UnknownPrinterIsRefusedWithInvalidPrinterName) {
  HANDLE printer = nullptr;
  char name[] = "kovirlm-tests no such printer";
  SetLastError(0);
  EXPECT_FALSE(OpenPrinterA(name, &printer, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME), GetLastError());
  SetLastError(0);
  EXPECT_FALSE(OpenPrinterA(name, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  SetLastError(0);
  EXPECT_FALSE(ClosePrinter(nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST(Spooler, NamedPrinterOpensUntilRemoved) {
  char name[] = "kovirlm-tests stand-in printer";
  if (!diag::AddSpoolerPrinter(name)) GTEST_SKIP() << "the real spooler answers here";
  long before = diag::OpenPrinterHandles();
  HANDLE first = nullptr, second = nullptr;
  ASSERT_TRUE(OpenPrinterA(name, &first, nullptr));
  ASSERT_TRUE(OpenPrinterA(name, &second, nullptr));
  EXPECT_NE(first, second);
  EXPECT_EQ(before + 2, diag::OpenPrinterHandles());
  // Printer handles are the spooler's, not kernel handles.
  EXPECT_FALSE(CloseHandle(first));
  EXPECT_TRUE(ClosePrinter(first));
  EXPECT_FALSE(ClosePrinter(first));
  EXPECT_TRUE(ClosePrinter(second));
  EXPECT_EQ(before, diag::OpenPrinterHandles());

  char otherCase[] = "KOVIRLM-TESTS STAND-IN PRINTER";
  HANDLE printer = nullptr;
  EXPECT_FALSE(OpenPrinterA(otherCase, &printer, nullptr));
  EXPECT_TRUE(diag::RemoveSpoolerPrinter(name));
  EXPECT_FALSE(diag::RemoveSpoolerPrinter(name));
  SetLastError(0);
  EXPECT_FALSE(OpenPrinterA(name, &printer, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME), GetLastError());
}

}  // namespace
