// The poller's life against the port's: EndDocPort and ClosePort end it before
// the device document and the device port go, it never outlives its record, and
// many jobs on two ports at once leave no thread behind. Under ASan a poller that
// outlived its record reads freed memory; under TSan any unsynchronised access
// between it and the spooler threads is reported.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "status_store/status_key.h"
#include "tests/support/monitor_fixture.h"

namespace {

using monitor_test::SettledThreadCount;
using monitor_test::WaitUntil;

// Position of the first call to `slot` in the log, or the log's size.
std::size_t FirstCall(const std::vector<emu::Call>& calls, emu::Slot slot) {
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].slot == slot) return i;
  }
  return calls.size();
}

std::size_t LastCall(const std::vector<emu::Call>& calls, emu::Slot slot) {
  for (std::size_t i = calls.size(); i > 0; --i) {
    if (calls[i - 1].slot == slot) return i - 1;
  }
  return calls.size();
}

class PollerLifecycleFixture : public monitor_test::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    base_ =
        std::string("Lifecycle ") + testing::UnitTest::GetInstance()->current_test_info()->name();
    // A process's first thread may bring a runtime helper thread along (TSan
    // starts one), which would count against the poller; make one before counting.
    monitor_test::FinishesWithin(5000, [] {});
    threadsBefore_ = diag::CurrentResourceCounts().threads;
  }

  // No poller thread outlived the test's jobs.
  void ExpectThreadsAsBefore() {
    if (threadsBefore_ != diag::kUnknown) {
      EXPECT_LE(SettledThreadCount(threadsBefore_), threadsBefore_);
    }
  }

  // A matched printer that polls every `intervalMs` and answers no command, so
  // every poll is ten empty reads with pauses between: a stop finds it mid-poll.
  std::string AddPrinter(const std::string& suffix, DWORD intervalMs, bool answers) {
    const std::string printer = base_ + suffix;
    Register(printer, "KP-6600S", 1, 1, intervalMs);
    options_.deviceId = "MFG:KOVIR;MDL:KP-6600S;";
    options_.answersCommands = answers;
    options_.statusUpdateEveryMs = answers ? 5 : 0;
    return printer;
  }

  PortRecord* StartJob(const std::string& port, std::string& printer) {
    PortRecord* record = OpenPort(port, printer, options_);
    if (record == nullptr) return nullptr;
    EXPECT_TRUE(StartDoc(record, printer, 1));
    EXPECT_TRUE(HasStatusBits(record, PS_POLLER_RUN));
    return record;
  }

  std::string base_;
  long threadsBefore_ = diag::kUnknown;
  emu::PrinterOptions options_;
};

using PollerLifecycleTest = monitor_test::BothFaces<PollerLifecycleFixture>;
KOVIRLM_BOTH_FACES(PollerLifecycleTest);

TEST_P(PollerLifecycleTest, EndDocPortEndsThePollerBeforeTheDeviceDocument) {
  std::string printer = AddPrinter("", 50, false);
  PortRecord* record = StartJob("LPT5:", printer);
  ASSERT_NE(record, nullptr);
  ASSERT_TRUE(WaitUntil([] { return emu::CallsTo(emu::Slot::ReadPort).size() >= 2; }));

  EXPECT_TRUE(EndDoc(record));

  EXPECT_FALSE(HasStatusBits(record, PS_POLLER_RUN));
  EXPECT_EQ(record->pollerThread, nullptr);
  Sleep(300);  // six intervals: a poller still alive would read again
  const std::vector<emu::Call> calls = emu::Calls();
  EXPECT_LT(LastCall(calls, emu::Slot::ReadPort), FirstCall(calls, emu::Slot::EndDocPort));
  ExpectThreadsAsBefore();
}

TEST_P(PollerLifecycleTest, ClosePortMidJobEndsThePollerBeforeTheRecordGoes) {
  std::string printer = AddPrinter("", 50, false);
  PortRecord* record = StartJob("LPT5:", printer);
  ASSERT_NE(record, nullptr);
  ASSERT_TRUE(WaitUntil([] { return emu::CallsTo(emu::Slot::ReadPort).size() >= 2; }));

  EXPECT_TRUE(ClosePort(record));

  EXPECT_TRUE(monitor_test::ListedPorts().empty());
  Sleep(300);
  const std::vector<emu::Call> calls = emu::Calls();
  const std::size_t endDoc = FirstCall(calls, emu::Slot::EndDocPort);
  ASSERT_LT(endDoc, calls.size());
  EXPECT_LT(LastCall(calls, emu::Slot::ReadPort), endDoc);
  EXPECT_LT(endDoc, FirstCall(calls, emu::Slot::ClosePort));
  ExpectThreadsAsBefore();
}

// The stop that ended the first document's poller is not seen by the second's:
// its waits, between polls and between the reads of a poll, last as long as they
// should, where a stop still pending would have it spin on the key and the port.
TEST_P(PollerLifecycleTest, SecondDocumentsPollerWaitsBetweenPollsAndReads) {
  std::string printer = AddPrinter("", 300, false);
  PortRecord* record = StartJob("LPT5:", printer);
  ASSERT_NE(record, nullptr);
  ASSERT_TRUE(EndDoc(record));
  ASSERT_TRUE(StartDoc(record, printer, 2));
  ASSERT_TRUE(HasStatusBits(record, PS_POLLER_RUN));
  const std::size_t readsBefore = emu::CallsTo(emu::Slot::ReadPort).size();
  const long long opensBefore = diag::RegistryKeyOpens();
  const auto start = std::chrono::steady_clock::now();
  Sleep(1000);  // a 300 ms wait, then the first reads of a poll, 500 ms apart
  const long long opens = diag::RegistryKeyOpens() - opensBefore;
  const auto reads = static_cast<long long>(emu::CallsTo(emu::Slot::ReadPort).size() - readsBefore);
  const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  // Per second: the settings are read every 50 ms at most, the port every 500 ms.
  if (opensBefore != diag::kUnknown) {
    EXPECT_LT(opens * 1000, 100 * ms) << opens << " key opens in " << ms << " ms";
  }
  EXPECT_LT(reads * 1000, 10 * ms) << reads << " reads in " << ms << " ms";
}

// Two spooler threads print job after job on two ports; every fifth job the port
// is closed in the middle of the job and opened again.
struct Worker {
  std::string port;
  std::string printer;
  PortRecord* record = nullptr;
  monitor_test::SpoolerFace spooler{monitor_test::Face::Win95};
  std::atomic<int> failures{0};
  std::atomic<int> pollersStarted{0};
};

DWORD WINAPI PrintJobs(LPVOID parameter) {
  auto* worker = static_cast<Worker*>(parameter);
  for (DWORD job = 1; job <= 15; ++job) {
    if (!worker->spooler.StartDoc(worker->record, &worker->printer, job)) {
      ++worker->failures;
      continue;
    }
    if (HasStatusBits(worker->record, PS_POLLER_RUN)) ++worker->pollersStarted;
    char page[] = "page";
    DWORD written = 0;
    worker->spooler.Write(worker->record, reinterpret_cast<LPBYTE>(page), 4, &written);
    Sleep(job % 4 * 15);
    if (job % 5 != 0) {
      if (!worker->spooler.EndDoc(worker->record)) ++worker->failures;
      continue;
    }
    if (!worker->spooler.Close(worker->record)) ++worker->failures;
    HANDLE handle = nullptr;
    if (!worker->spooler.OpenPort(worker->port, &worker->printer, &handle)) {
      ++worker->failures;
      return 1;
    }
    worker->record = static_cast<PortRecord*>(handle);
  }
  return 0;
}

TEST_P(PollerLifecycleTest, ManyJobsOnTwoPortsAtOnceLeaveNoPollerBehind) {
  Worker workers[2];
  workers[0].port = "LPT5:";
  workers[1].port = "LPT6:";
  workers[0].printer = AddPrinter(" A", 10, true);
  workers[1].printer = AddPrinter(" B", 10, true);
  HANDLE threads[2];
  for (Worker& worker : workers) {
    worker.spooler = Spool();
    worker.record = OpenPort(worker.port, worker.printer, options_);
    ASSERT_NE(worker.record, nullptr);
  }
  for (int i = 0; i < 2; ++i) {
    threads[i] = monitor_test::StartThread(PrintJobs, &workers[i]);
    ASSERT_NE(threads[i], nullptr);
  }
  for (HANDLE thread : threads) {
    EXPECT_EQ(WaitForSingleObject(thread, 120000), WAIT_OBJECT_0);
    CloseHandle(thread);
  }

  for (Worker& worker : workers) {
    EXPECT_EQ(worker.failures.load(), 0) << worker.port;
    EXPECT_FALSE(HasStatusBits(worker.record, PS_POLLER_RUN)) << worker.port;
    EXPECT_EQ(worker.record->pollerThread, nullptr) << worker.port;
    // Each port's key is its own: the other port's documents never take it away.
    EXPECT_EQ(worker.pollersStarted.load(), 15) << worker.port;
  }
  ExpectThreadsAsBefore();
}

}  // namespace
