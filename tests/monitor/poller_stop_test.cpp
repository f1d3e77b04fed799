// StopStatusPoller: clear PS_POLLER_RUN, wake the poller, wait for its thread to
// end, close and forget the handle.
#include <gtest/gtest.h>

#include <atomic>

#include "printer_status/status_poller.h"
#include "tests/support/monitor_fixture.h"

namespace {

using monitor_test::FinishesWithin;
using monitor_test::MonitorTest;
using monitor_test::StandInPoller;
using monitor_test::StartStandInPoller;

using StopStatusPoller_ = monitor_test::BothFaces<MonitorTest>;
KOVIRLM_BOTH_FACES(StopStatusPoller_);

TEST_P(StopStatusPoller_, ClearsTheBitWaitsForTheThreadAndClosesItsHandle) {
  PortRecord* record = OpenPort("KOVIR1:");
  ASSERT_NE(record, nullptr);
  SetStatusBits(record, PS_JOB_ACTIVE | PS_DEVICE_DOC_OPEN);
  const long handlesBefore = diag::CurrentResourceCounts().handles;
  StandInPoller poller;
  poller.lingerMs = 500;
  // Lowest, as the poller runs; the stop raises it, so that a busy machine does
  // not keep the waiting spooler thread behind every other program.
  int priorityAtExit = THREAD_PRIORITY_LOWEST;
  poller.onExit = [&](PortRecord* r) { priorityAtExit = GetThreadPriority(r->pollerThread); };
  ASSERT_TRUE(StartStandInPoller(record, poller));
  SetThreadPriority(record->pollerThread, THREAD_PRIORITY_LOWEST);
  while (!poller.running) Sleep(1);

  const DWORD start = GetTickCount();
  StopStatusPoller(record);
  const DWORD took = GetTickCount() - start;

  EXPECT_TRUE(poller.ended);
  EXPECT_EQ(priorityAtExit, THREAD_PRIORITY_NORMAL);
  EXPECT_GE(took, 450u) << "returned before the thread had ended";
  EXPECT_EQ(record->pollerThread, nullptr);
  EXPECT_FALSE(HasStatusBits(record, PS_POLLER_RUN));
  EXPECT_TRUE(HasStatusBits(record, PS_JOB_ACTIVE | PS_DEVICE_DOC_OPEN)) << "other bits kept";
  if (handlesBefore != diag::kUnknown) {
    EXPECT_EQ(diag::CurrentResourceCounts().handles, handlesBefore) << "thread handle left open";
  }
}

TEST_P(StopStatusPoller_, StopsAPollerThatHasNotStartedRunningYet) {
  PortRecord* record = OpenPort("KOVIR1:");
  ASSERT_NE(record, nullptr);
  StandInPoller poller;
  ASSERT_TRUE(StartStandInPoller(record, poller));
  StopStatusPoller(record);  // perhaps before the thread ran a single line
  EXPECT_TRUE(poller.ended);
  EXPECT_EQ(record->pollerThread, nullptr);
}

TEST_P(StopStatusPoller_, IsNotFooledByAThreadThatEndsWithExitCodeStillActive) {
  PortRecord* record = OpenPort("KOVIR1:");
  ASSERT_NE(record, nullptr);
  StandInPoller poller;
  poller.exitCode = STILL_ACTIVE;  // 259: looks alive to anyone reading exit codes
  ASSERT_TRUE(StartStandInPoller(record, poller));

  EXPECT_TRUE(FinishesWithin(10000, [record] { StopStatusPoller(record); }))
      << "StopStatusPoller still waiting for a thread that has ended";
  EXPECT_TRUE(poller.ended);
}

// A poller that only waits on the stop event, with no time limit: it ends only if
// the stop wakes it.
DWORD WINAPI SleepsUntilWoken(LPVOID parameter) {
  auto* record = static_cast<PortRecord*>(parameter);
  while (HasStatusBits(record, PS_POLLER_RUN)) {
    WaitForSingleObject(record->pollerStopEvent, INFINITE);
  }
  return 0;
}

TEST_P(StopStatusPoller_, WakesAPollerWaitingOnTheStopEvent) {
  PortRecord* record = OpenPort("KOVIR1:");
  ASSERT_NE(record, nullptr);
  SetStatusBits(record, PS_POLLER_RUN);
  record->pollerThread = monitor_test::StartThread(SleepsUntilWoken, record);
  ASSERT_NE(record->pollerThread, nullptr);
  Sleep(50);  // let it settle into its wait (the test holds either way)

  monitor_test::BackgroundCall stop([record] { StopStatusPoller(record); });
  ASSERT_TRUE(stop.Started());
  // At once: nothing sleeps between the wake and the end of the stop.
  const bool woken = stop.FinishedWithin(400);
  // A stop that did not wake it: release the poller, and the stop waiting for it,
  // so that the test fails now rather than hang.
  if (!woken) SetEvent(record->pollerStopEvent);
  EXPECT_TRUE(woken) << "the stop did not wake a poller waiting on the stop event";
  EXPECT_EQ(WaitForSingleObject(record->pollerStopEvent, 0), WAIT_OBJECT_0);
}

TEST_P(StopStatusPoller_, WithNoThreadOnlyClearsTheBit) {
  PortRecord* record = OpenPort("KOVIR1:");
  ASSERT_NE(record, nullptr);
  SetStatusBits(record, PS_POLLER_RUN | PS_PRINTER_MATCHED);  // a poller whose thread never came

  EXPECT_TRUE(FinishesWithin(10000, [record] { StopStatusPoller(record); }));
  EXPECT_EQ(record->status.load(), PS_PRINTER_MATCHED);
  EXPECT_EQ(record->pollerThread, nullptr);
}

// The status word is changed by spooler threads while the poller reads it: every
// set and clear is one atomic step, so no change is lost to a concurrent one.
struct Flipper {
  PortRecord* record;
  DWORD bit;
  std::atomic<bool>* go;
};

DWORD WINAPI FlipBit(LPVOID parameter) {
  auto* flipper = static_cast<Flipper*>(parameter);
  while (!*flipper->go) Sleep(0);
  for (int i = 0; i < 20000; ++i) {
    SetStatusBits(flipper->record, flipper->bit);
    ClearStatusBits(flipper->record, flipper->bit);
  }
  SetStatusBits(flipper->record, flipper->bit);
  return 0;
}

TEST(StatusWord, ConcurrentChangesOfDifferentBitsAreNeverLost) {
  PortRecord record{};
  SetStatusBits(&record, PS_PRINTER_MATCHED);  // set before, touched by no one after
  std::atomic<bool> go{false};
  Flipper flippers[] = {{&record, PS_JOB_ACTIVE, &go},
                        {&record, PS_DEVICE_DOC_OPEN, &go},
                        {&record, PS_POLLER_RUN, &go}};
  HANDLE threads[3];
  for (int i = 0; i < 3; ++i) {
    threads[i] = monitor_test::StartThread(FlipBit, &flippers[i]);
    ASSERT_NE(threads[i], nullptr);
  }
  go = true;
  for (HANDLE thread : threads) {
    EXPECT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    CloseHandle(thread);
  }
  EXPECT_EQ(record.status.load(),
            PS_PRINTER_MATCHED | PS_JOB_ACTIVE | PS_DEVICE_DOC_OPEN | PS_POLLER_RUN);
}

}  // namespace
