// Threads: exit codes, ExitThread, waiting on thread handles, priorities, stack
// size, closing a running thread's handle, the per-thread last error, and
// Windows 95's refusal of a null thread-id pointer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "platform/diagnostics.h"
#include "platform/win32.h"
#include "tests/support/start_thread.h"

namespace {

struct Gate {
  HANDLE release;
  DWORD code;
};

DWORD WINAPI WaitAtGateThenReturn(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  WaitForSingleObject(gate->release, INFINITE);
  return gate->code;
}

TEST(Thread, ExitCodeIsStillActiveWhileRunningThenTheReturnValue) {
  Gate gate{CreateEventA(nullptr, TRUE, FALSE, nullptr), 42};
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, WaitAtGateThenReturn, &gate, 0, &id);
  ASSERT_NE(nullptr, thread);
  EXPECT_NE(0u, id);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), code);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 50));

  ASSERT_TRUE(SetEvent(gate.release));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(42u, code);
  // An ended thread stays signalled for every later wait.
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0));
  EXPECT_TRUE(CloseHandle(thread));
  CloseHandle(gate.release);
}

TEST(Thread, NullThreadIdFailsWithInvalidParameterAndStartsNoThread) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine, like Windows NT, accepts a null thread id; Windows 95 and 98 refuse it";
#endif
  const diag::ResourceCounts before = diag::CurrentResourceCounts();
  Gate gate{CreateEventA(nullptr, TRUE, TRUE, nullptr), 0};
  SetLastError(0);
  EXPECT_EQ(nullptr, CreateThread(nullptr, 0, WaitAtGateThenReturn, &gate, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  CloseHandle(gate.release);
  // A thread, even one that ended at once, would leave its handle open.
  EXPECT_EQ(before.handles, diag::CurrentResourceCounts().handles);
  EXPECT_EQ(before.threads, diag::CurrentResourceCounts().threads);
}

std::atomic<bool> ranPastExitThread{false};

void LeaveFromDeepInside(int depth) {
  if (depth < 0) return;
  if (depth == 0) ExitThread(77);
  LeaveFromDeepInside(depth - 1);
  ranPastExitThread = true;
}

DWORD WINAPI CallExitThread(LPVOID) {
  LeaveFromDeepInside(5);
  ranPastExitThread = true;
  return 1;
}

TEST(Thread, ExitThreadEndsTheThreadWithItsCode) {
  ranPastExitThread = false;
  HANDLE thread = monitor_test::StartThread(CallExitThread, nullptr);
  ASSERT_NE(nullptr, thread);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(77u, code);
  EXPECT_FALSE(ranPastExitThread.load());
  CloseHandle(thread);
}

struct Finish {
  HANDLE release;
  HANDLE done;
};

DWORD WINAPI SignalWhenReleased(LPVOID parameter) {
  auto* finish = static_cast<Finish*>(parameter);
  WaitForSingleObject(finish->release, INFINITE);
  SetEvent(finish->done);
  return 0;
}

TEST(Thread, ClosingTheHandleOfARunningThreadLetsItFinish) {
  Finish finish{CreateEventA(nullptr, TRUE, FALSE, nullptr),
                CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  HANDLE thread = monitor_test::StartThread(SignalWhenReleased, &finish);
  ASSERT_NE(nullptr, thread);
  EXPECT_TRUE(CloseHandle(thread));
  ASSERT_TRUE(SetEvent(finish.release));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(finish.done, 10000));
  CloseHandle(finish.release);
  CloseHandle(finish.done);
}

TEST(Thread, PriorityIsKeptAndCheckedBeforeAndAfterTheThreadEnds) {
  Gate gate{CreateEventA(nullptr, TRUE, FALSE, nullptr), 0};
  HANDLE thread = monitor_test::StartThread(WaitAtGateThenReturn, &gate);
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(thread));
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_LOWEST));
  EXPECT_EQ(THREAD_PRIORITY_LOWEST, GetThreadPriority(thread));
  SetLastError(0);
  EXPECT_FALSE(SetThreadPriority(thread, 5));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_EQ(THREAD_PRIORITY_LOWEST, GetThreadPriority(thread));

  ASSERT_TRUE(SetEvent(gate.release));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
  EXPECT_EQ(THREAD_PRIORITY_LOWEST, GetThreadPriority(thread));
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL));
  EXPECT_EQ(THREAD_PRIORITY_BELOW_NORMAL, GetThreadPriority(thread));
  CloseHandle(thread);
  CloseHandle(gate.release);

  SetLastError(0);
  EXPECT_EQ(THREAD_PRIORITY_ERROR_RETURN, GetThreadPriority(thread));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  EXPECT_FALSE(SetThreadPriority(thread, THREAD_PRIORITY_NORMAL));
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeThread(thread, &code));
}

constexpr SIZE_T kStackUse = 3 * 1024 * 1024;

DWORD WINAPI UseALotOfStack(LPVOID) {
  // Well beyond the 1 MiB a thread gets by default.
  volatile unsigned char block[kStackUse];
  for (SIZE_T i = 0; i < kStackUse; i += 4096) block[i] = static_cast<unsigned char>(i >> 12);
  DWORD sum = 0;
  for (SIZE_T i = 0; i < kStackUse; i += 4096) sum += block[i];
  return sum;
}

TEST(Thread, RequestedStackSizeIsAvailable) {
  HANDLE thread = monitor_test::StartThread(UseALotOfStack, nullptr, 4 * 1024 * 1024);
  ASSERT_NE(nullptr, thread);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 30000));
  DWORD expected = 0;
  for (SIZE_T i = 0; i < kStackUse; i += 4096) expected += static_cast<unsigned char>(i >> 12);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(expected, code);
  CloseHandle(thread);
}

struct ErrorProbe {
  DWORD seenBefore;
  DWORD seenAfter;
};

DWORD WINAPI SetOwnLastError(LPVOID parameter) {
  auto* probe = static_cast<ErrorProbe*>(parameter);
  probe->seenBefore = GetLastError();
  SetLastError(2222);
  probe->seenAfter = GetLastError();
  return 0;
}

TEST(Thread, LastErrorBelongsToEachThread) {
  SetLastError(1111);
  ErrorProbe probe{0xDEAD, 0xDEAD};
  HANDLE thread = monitor_test::StartThread(SetOwnLastError, &probe);
  ASSERT_NE(nullptr, thread);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
  EXPECT_EQ(0u, probe.seenBefore);  // a new thread starts with no error
  EXPECT_EQ(2222u, probe.seenAfter);
  EXPECT_EQ(1111u, GetLastError());
  CloseHandle(thread);
}

TEST(Thread, SleepAndTickCountAgree) {
  DWORD start = GetTickCount();
  Sleep(300);
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 280u);
  EXPECT_LT(elapsed, 10000u);
}

}  // namespace
