// Events and waits: manual and auto reset, timeouts, waking across threads, and
// what bad handles give back.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/win32.h"
#include "tests/support/start_thread.h"

namespace {

struct EventGuard {
  HANDLE handle;
  ~EventGuard() {
    if (handle != nullptr) CloseHandle(handle);
  }
};

TEST(Event, ManualResetStaysSignalledUntilReset) {
  EventGuard event{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  ASSERT_NE(nullptr, event.handle);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event.handle, 0));
  ASSERT_TRUE(SetEvent(event.handle));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.handle, 0));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.handle, 0));
  ASSERT_TRUE(ResetEvent(event.handle));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event.handle, 0));
}

TEST(Event, AutoResetSatisfiesOneWaitThenResets) {
  EventGuard event{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  ASSERT_NE(nullptr, event.handle);
  ASSERT_TRUE(SetEvent(event.handle));
  ASSERT_TRUE(SetEvent(event.handle));  // signals do not accumulate
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.handle, 0));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event.handle, 0));
}

TEST(Event, InitialStateIsHonoured) {
  EventGuard manual{CreateEventA(nullptr, TRUE, TRUE, nullptr)};
  EventGuard automatic{CreateEventA(nullptr, FALSE, TRUE, nullptr)};
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(manual.handle, 0));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(automatic.handle, 0));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(automatic.handle, 0));
}

TEST(Event, TimedWaitReturnsTimeoutAfterRoughlyThatLong) {
  EventGuard event{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  DWORD start = GetTickCount();
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event.handle, 500));
  DWORD waited = GetTickCount() - start;
  EXPECT_GE(waited, 450u);
  EXPECT_LT(waited, 10000u);
}

struct Waiter {
  HANDLE event;
  std::atomic<int>* woken;
};

DWORD WINAPI WaitForever(LPVOID parameter) {
  auto* waiter = static_cast<Waiter*>(parameter);
  DWORD result = WaitForSingleObject(waiter->event, INFINITE);
  waiter->woken->fetch_add(1);
  return result;
}

TEST(Event, AutoResetReleasesOneWaiterPerSignal) {
  EventGuard event{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  std::atomic<int> woken{0};
  Waiter waiter{event.handle, &woken};
  HANDLE first = monitor_test::StartThread(WaitForever, &waiter);
  HANDLE second = monitor_test::StartThread(WaitForever, &waiter);
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);

  ASSERT_TRUE(SetEvent(event.handle));
  for (int i = 0; i < 1000 && woken.load() < 1; ++i) Sleep(10);
  ASSERT_EQ(1, woken.load());
  Sleep(200);  // the other waiter stays blocked however long we look
  EXPECT_EQ(1, woken.load());
  // The signal was consumed by the waiter it released.
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event.handle, 0));

  ASSERT_TRUE(SetEvent(event.handle));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first, 10000));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second, 10000));
  EXPECT_EQ(2, woken.load());
  CloseHandle(first);
  CloseHandle(second);
}

DWORD WINAPI WaitTenSeconds(LPVOID parameter) {
  auto* waiter = static_cast<Waiter*>(parameter);
  DWORD result = WaitForSingleObject(waiter->event, 10000);
  if (result == WAIT_OBJECT_0) waiter->woken->fetch_add(1);
  return result;
}

// SetEvent satisfies the waits blocked at that moment; a ResetEvent straight
// after it cannot take the wake-up back.
TEST(Event, ResetRightAfterSetStillReleasesBlockedWaiters) {
  EventGuard event{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<int> woken{0};
  Waiter waiter{event.handle, &woken};
  HANDLE threads[2];
  for (HANDLE& thread : threads) {
    thread = monitor_test::StartThread(WaitTenSeconds, &waiter);
    ASSERT_NE(nullptr, thread);
  }
  Sleep(1000);  // let both block
  ASSERT_TRUE(SetEvent(event.handle));
  ASSERT_TRUE(ResetEvent(event.handle));
  for (HANDLE thread : threads) {
    DWORD code = 0;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 20000));
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(WAIT_OBJECT_0, code);
    CloseHandle(thread);
  }
  EXPECT_EQ(2, woken.load());
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event.handle, 0));
}

TEST(Event, AutoResetSignalGoesToABlockedWaiterNotToALaterReset) {
  EventGuard event{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  std::atomic<int> woken{0};
  Waiter waiter{event.handle, &woken};
  HANDLE thread = monitor_test::StartThread(WaitTenSeconds, &waiter);
  ASSERT_NE(nullptr, thread);
  Sleep(1000);  // let it block
  ASSERT_TRUE(SetEvent(event.handle));
  ASSERT_TRUE(ResetEvent(event.handle));
  DWORD code = 0;
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 20000));
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(WAIT_OBJECT_0, code);
  EXPECT_EQ(1, woken.load());
  CloseHandle(thread);
}

TEST(Event, CreatingLeavesLastErrorCleared) {
  SetLastError(1234);
  EventGuard event{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  ASSERT_NE(nullptr, event.handle);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  // Setting, resetting and waiting leave the last error alone.
  SetLastError(1234);
  EXPECT_TRUE(SetEvent(event.handle));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.handle, 0));
  EXPECT_TRUE(ResetEvent(event.handle));
  EXPECT_EQ(1234u, GetLastError());
}

TEST(Event, SecondCreateOfANameOpensTheSameEvent) {
  const char* name = "kovirlm-tests-platform-named-event";
  SetLastError(1234);
  EventGuard first{CreateEventA(nullptr, TRUE, FALSE, name)};
  ASSERT_NE(nullptr, first.handle);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  EventGuard second{CreateEventA(nullptr, FALSE, TRUE, name)};
  ASSERT_NE(nullptr, second.handle);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_NE(first.handle, second.handle);
  // The second create's arguments are ignored: still manual reset, not signalled.
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(second.handle, 0));
  ASSERT_TRUE(SetEvent(first.handle));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second.handle, 0));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second.handle, 0));
}

TEST(Event, ClosedAndNullHandlesFailWithInvalidHandle) {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  ASSERT_NE(nullptr, event);
  EXPECT_TRUE(CloseHandle(event));

  SetLastError(0);
  EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(event, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(event));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(0);
  EXPECT_FALSE(SetEvent(nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(0);
  EXPECT_FALSE(ResetEvent(nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

}  // namespace
