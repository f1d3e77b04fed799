// Critical sections: recursive entry by the owner, exclusion of everyone else.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/win32.h"
#include "tests/support/start_thread.h"

namespace {

struct Contender {
  CRITICAL_SECTION* section;
  std::atomic<bool> entered{false};
};

DWORD WINAPI EnterAndLeave(LPVOID parameter) {
  auto* contender = static_cast<Contender*>(parameter);
  EnterCriticalSection(contender->section);
  contender->entered = true;
  LeaveCriticalSection(contender->section);
  return 0;
}

TEST(CriticalSection, OwnerMayEnterAgainAndOthersWaitForTheLastLeave) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);  // would deadlock if not recursive

  Contender contender;
  contender.section = &section;
  HANDLE thread = monitor_test::StartThread(EnterAndLeave, &contender);
  ASSERT_NE(nullptr, thread);
  LeaveCriticalSection(&section);
  // Still held once: the other thread stays out however long we look.
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 200));
  EXPECT_FALSE(contender.entered.load());

  LeaveCriticalSection(&section);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
  EXPECT_TRUE(contender.entered.load());
  CloseHandle(thread);
  DeleteCriticalSection(&section);
}

struct Counter {
  CRITICAL_SECTION section;
  long value = 0;  // guarded by section; deliberately not atomic
  int rounds = 0;
};

DWORD WINAPI CountUnderLock(LPVOID parameter) {
  auto* counter = static_cast<Counter*>(parameter);
  for (int i = 0; i < counter->rounds; ++i) {
    EnterCriticalSection(&counter->section);
    EnterCriticalSection(&counter->section);
    long seen = counter->value;
    if ((i & 63) == 0) Sleep(0);  // invite a switch inside the section
    counter->value = seen + 1;
    LeaveCriticalSection(&counter->section);
    LeaveCriticalSection(&counter->section);
  }
  return 0;
}

TEST(CriticalSection, NoIncrementIsLostBetweenThreads) {
  Counter counter;
  counter.rounds = 20000;
  InitializeCriticalSection(&counter.section);
  constexpr int kThreads = 4;
  HANDLE threads[kThreads];
  for (HANDLE& thread : threads) {
    thread = monitor_test::StartThread(CountUnderLock, &counter);
    ASSERT_NE(nullptr, thread);
  }
  for (HANDLE thread : threads) {
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 60000));
    CloseHandle(thread);
  }
  EXPECT_EQ(kThreads * 20000L, counter.value);
  DeleteCriticalSection(&counter.section);
}

// What Windows leaves undefined the layer refuses, ending the process with a
// message: a section never initialised (a zero-filled global) or one already
// deleted. Windows tells neither from a live section, so only the layer is tested.
TEST(CriticalSectionDeathTest, NeverInitialisedOrAlreadyDeletedEndsTheProcess) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows does not tell such a section from a live one";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  CRITICAL_SECTION never{};
  EXPECT_DEATH(EnterCriticalSection(&never), "EnterCriticalSection.*never initialised");
  CRITICAL_SECTION gone;
  InitializeCriticalSection(&gone);
  DeleteCriticalSection(&gone);
  EXPECT_DEATH(LeaveCriticalSection(&gone), "LeaveCriticalSection.*deleted already");
  EXPECT_DEATH(DeleteCriticalSection(&gone), "DeleteCriticalSection.*deleted already");
#endif
}

}  // namespace
