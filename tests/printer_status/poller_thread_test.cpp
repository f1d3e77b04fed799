// The status poller on a port with a document open, against the emulated printer
// and the status application stand-in: when it reads, how often, what it
// publishes, and how it ends.
//
// The printer on the port is another maker's, so the job-start exchange leaves the
// port alone and each test starts the poller itself. Every read the poller makes
// goes through a logging read slot patched into the record, which notes when the
// read began and how many bytes it returned.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "emulator/printer_replies.h"
#include "emulator/status_app.h"
#include "port/back_channel.h"
#include "printer_status/remote_commands.h"
#include "printer_status/status_poller.h"
#include "status_store/status_key.h"
#include "tests/support/monitor_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

struct Read {
  Clock::time_point at;
  DWORD bytes;
};

// Reads made through the patched slot. The hook runs on the reading thread just
// before the read reaches the device monitor.
struct ReadLog {
  std::mutex mutex;
  std::vector<Read> reads;
  std::size_t started = 0;
  std::function<void(std::size_t index)> beforeRead;
};

ReadLog& Log() {
  static ReadLog log;
  return log;
}

void SetBeforeRead(std::function<void(std::size_t index)> hook) {
  std::lock_guard<std::mutex> lock(Log().mutex);
  Log().beforeRead = std::move(hook);
}

BOOL WINAPI LoggedRead(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read) {
  std::function<void(std::size_t)> hook;
  std::size_t index;
  {
    std::lock_guard<std::mutex> lock(Log().mutex);
    index = Log().started++;
    hook = Log().beforeRead;
  }
  if (hook) hook(index);
  const Clock::time_point at = Clock::now();
  const BOOL result = emu::DeviceMonitor()->pfnReadPort(port, buffer, count, read);
  std::lock_guard<std::mutex> lock(Log().mutex);
  Log().reads.push_back({at, *read});
  return result;
}

using monitor_test::WaitUntil;

// A poll's reads go out one 500 ms pause apart: later than this means a pause was
// slept twice, however loaded the machine. And a stop ends a pause at once: a stop
// that takes this long slept out most of a pause.
constexpr long long kLatestNextReadMs = 900;
constexpr DWORD kStopMs = 400;

constexpr char kPort[] = "LPT7:";

class StatusPollerTestFixture : public monitor_test::PrinterTest {
 protected:
  StatusPollerTestFixture() : PrinterTest("Poller ") {}

  void SetUp() override {
    PrinterTest::SetUp();
    SetBeforeRead(nullptr);
    std::lock_guard<std::mutex> lock(Log().mutex);
    Log().reads.clear();
    Log().started = 0;
  }

  void TearDown() override {
    // EndDocPort stops the poller before anything it uses goes away.
    if (record_ != nullptr) EndDoc(record_);
    CloseHandle(readStarted_);
    PrinterTest::TearDown();
    SetBeforeRead(nullptr);
  }

  // A port with a document open on another maker's printer, the printer's key
  // selected and the poll settings given; the poller is not started yet.
  void OpenJob(DWORD pollEnabled, DWORD intervalMs, emu::PrinterOptions options = {}) {
    options.deviceId = "MFG:ACME;MDL:LX-1;";
    OpenRegistered(kPort, "LX-1", 1, pollEnabled, intervalMs, options);
    ASSERT_NE(record_, nullptr);
    ASSERT_TRUE(StartDoc(record_, printer_));
    ASSERT_FALSE(HasStatusBits(record_, PS_POLLER_RUN));
    record_->deviceMonitor.pfnReadPort = LoggedRead;
    record_->deviceMonitor2.pfnReadPort = LoggedRead;
  }

  void StartPoller() {
    started_ = Clock::now();
    ASSERT_TRUE(StartStatusPoller(record_));
    ASSERT_TRUE(HasStatusBits(record_, PS_POLLER_RUN));
    ASSERT_NE(record_->pollerThread, nullptr);
  }

  std::optional<std::string> Published() const {
    return emu::status_app::PublishedStatus(printer_);
  }

  std::vector<Read> Reads() {
    std::lock_guard<std::mutex> lock(Log().mutex);
    return Log().reads;
  }
  std::size_t ReadsStarted() {
    std::lock_guard<std::mutex> lock(Log().mutex);
    return Log().started;
  }

  void SendStatusCommand() {
    ASSERT_TRUE(SendPrinterCommand(record_, StatusCommandA.data(), StatusCommandA.size()));
  }

  Clock::time_point started_;
  // Set by read hooks on the poller thread; members, so they outlive the poller.
  std::optional<std::string> publishedBeforeRead_;
  HANDLE readStarted_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};
using StatusPollerTest = monitor_test::BothFaces<StatusPollerTestFixture>;
KOVIRLM_BOTH_FACES(StatusPollerTest);

TEST_P(StatusPollerTest, DisabledPollingNeverReadsAndStillStopsPromptly) {
  OpenJob(0, 200);
  emu::QueueBackChannel(kPort, emu::MakeStatusUpdate(1));
  StartPoller();
  Sleep(1200);  // six intervals

  EXPECT_EQ(ReadsStarted(), 0u);
  EXPECT_FALSE(Published().has_value());
  EXPECT_TRUE(monitor_test::FinishesWithin(5000, [this] { StopStatusPoller(record_); }));
  EXPECT_FALSE(HasStatusBits(record_, PS_POLLER_RUN));
  EXPECT_EQ(record_->pollerThread, nullptr);
}

TEST_P(StatusPollerTest, FirstPollComesOneIntervalAfterStart) {
  OpenJob(1, 600);
  emu::QueueBackChannel(kPort, emu::MakeStatusUpdate(1));
  StartPoller();

  ASSERT_TRUE(WaitUntil([&] { return Published() == emu::MakeStatusUpdate(1); }));
  const std::vector<Read> reads = Reads();
  ASSERT_GE(reads.size(), 1u);
  EXPECT_NE(reads[0].bytes, 0u);
  EXPECT_GE(MsBetween(started_, reads[0].at), 590);
}

TEST_P(StatusPollerTest, ReplyOnThirdReadIsStoredAfterTwoPauses) {
  emu::PrinterOptions options;
  options.replyDelayReads = 2;
  OpenJob(1, 200, options);
  SendStatusCommand();  // its reply is held back for two reads
  StartPoller();

  const std::string reply = emu::MakeStatusReply(true);
  ASSERT_TRUE(WaitUntil([&] { return Published() == reply; }));
  const std::vector<Read> reads = Reads();
  ASSERT_GE(reads.size(), 3u);
  EXPECT_EQ(reads[0].bytes, 0u);
  EXPECT_EQ(reads[1].bytes, 0u);
  EXPECT_EQ(reads[2].bytes, reply.size());
  EXPECT_GE(MsBetween(reads[0].at, reads[1].at), 450);
  EXPECT_GE(MsBetween(reads[1].at, reads[2].at), 450);
  EXPECT_LT(MsBetween(reads[0].at, reads[2].at), 2 * kLatestNextReadMs);
}

// A poll of ten empty reads publishes nothing and ends; the reply that becomes
// readable at the eleventh read is taken by the next poll, a whole interval later.
TEST_P(StatusPollerTest, TenEmptyReadsStoreNothingAndEndThePoll) {
  emu::PrinterOptions options;
  options.replyDelayReads = 10;
  OpenJob(1, 1500, options);
  emu::status_app::SetString(printer_, VALUE_STATUS_STRING, "earlier status");
  SendStatusCommand();
  SetBeforeRead([this](std::size_t index) {
    if (index == 10) publishedBeforeRead_ = Published();
  });
  StartPoller();

  const std::string reply = emu::MakeStatusReply(true);
  ASSERT_TRUE(WaitUntil([&] { return Published() == reply; }, 40000));
  StopStatusPoller(record_);
  const std::vector<Read> reads = Reads();
  ASSERT_GE(reads.size(), 11u);
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(reads[i].bytes, 0u) << "read " << i;
  for (std::size_t i = 1; i < 10; ++i) {
    EXPECT_GE(MsBetween(reads[i - 1].at, reads[i].at), 450) << "pause before read " << i;
    EXPECT_LT(MsBetween(reads[i - 1].at, reads[i].at), kLatestNextReadMs) << "read " << i;
  }
  EXPECT_GE(MsBetween(reads[9].at, reads[10].at), 1450);
  EXPECT_EQ(publishedBeforeRead_, "earlier status");
}

TEST_P(StatusPollerTest, StopDuringReadStillStoresWhatThatReadDelivered) {
  OpenJob(1, 200);
  const std::string update = emu::MakeStatusUpdate(7);
  emu::QueueBackChannel(kPort, update);
  SetBeforeRead([this](std::size_t) {
    // Hold the read until the stop has cleared PS_POLLER_RUN.
    SetEvent(readStarted_);
    WaitUntil([this] { return !HasStatusBits(record_, PS_POLLER_RUN); }, 10000);
  });
  StartPoller();

  ASSERT_EQ(WaitForSingleObject(readStarted_, 20000), WAIT_OBJECT_0);
  StopStatusPoller(record_);

  EXPECT_EQ(Published(), update);
  EXPECT_EQ(ReadsStarted(), 1u);
}

TEST_P(StatusPollerTest, StopBetweenReadsEndsThePollWithoutStoring) {
  OpenJob(1, 200);
  StartPoller();
  ASSERT_TRUE(WaitUntil([&] { return Reads().size() == 1; }));

  const std::size_t readsAtStop = ReadsStarted();
  EXPECT_TRUE(monitor_test::FinishesWithin(kStopMs, [this] { StopStatusPoller(record_); }));
  EXPECT_EQ(ReadsStarted(), readsAtStop);
  EXPECT_FALSE(Published().has_value());
}

// While the job-start exchange holds the back channel a due poll reads nothing,
// it polls as soon as the channel is free (not a whole interval after it found
// the channel held), and a stop ends its wait at once.
TEST_P(StatusPollerTest, APollWaitsWhileTheExchangeHoldsTheChannelAndPollsAfter) {
  constexpr DWORD kInterval = 2000;
  OpenJob(1, kInterval);
  emu::QueueBackChannel(kPort, emu::MakeStatusUpdate(1));
  ASSERT_TRUE(ClaimBackChannel(record_, CHANNEL_EXCHANGE));
  StartPoller();
  Sleep(kInterval + 300);  // the poll falls due and waits for the channel
  EXPECT_EQ(ReadsStarted(), 0u);
  const Clock::time_point freed = Clock::now();
  ReleaseBackChannel(record_);
  ASSERT_TRUE(WaitUntil([this] { return Published() == emu::MakeStatusUpdate(1); }));
  EXPECT_LT(MsBetween(freed, Reads().at(0).at), kInterval / 2);
  ASSERT_TRUE(WaitUntil([this] { return ClaimBackChannel(record_, CHANNEL_EXCHANGE); }));
  const std::size_t reads = ReadsStarted();
  Sleep(kInterval + 300);  // the next poll falls due and waits for the channel

  EXPECT_TRUE(monitor_test::FinishesWithin(kStopMs, [this] { StopStatusPoller(record_); }));
  EXPECT_EQ(ReadsStarted(), reads);
  ReleaseBackChannel(record_);
}

// The poller is told to stop just as a due poll has taken the back channel, before
// its first read: the registry hook clears PS_POLLER_RUN and moves the clock past
// the interval while the poller's settings load writes back a deleted flag. The
// poll reads nothing and gives the channel back, or the port's next job start
// would find it held and send nothing.
PortRecord* stopAtLoad = nullptr;
void StopAtThePollersSettingsLoad(HKEY, const char*, const char* value) {
  if (value == nullptr || std::string(value) != VALUE_POLL_ENABLED ||
      diag::CurrentThreadParameter() != stopAtLoad) {
    return;
  }
  ClearStatusBits(stopAtLoad, PS_POLLER_RUN);
  diag::SetTickCountStart(GetTickCount() + 100000);
}

TEST_P(StatusPollerTest, APollStoppedBeforeItReadsGivesTheChannelBack) {
  OpenJob(1, 60000);
  stopAtLoad = record_;
  if (!diag::SetRegistryChangeHook(StopAtThePollersSettingsLoad)) {
    GTEST_SKIP() << "registry changes cannot be watched on this platform";
  }
  StartPoller();
  Sleep(200);  // the poller times its interval
  emu::status_app::DeleteValue(printer_, VALUE_POLL_ENABLED);
  EXPECT_EQ(WaitForSingleObject(record_->pollerThread, 10000), WAIT_OBJECT_0);
  diag::SetRegistryChangeHook(nullptr);
  StopStatusPoller(record_);

  EXPECT_EQ(ReadsStarted(), 0u);
  EXPECT_EQ(record_->channelOwner.load(), CHANNEL_FREE);
}

// The start tick is taken just before GetTickCount wraps and the interval ends
// after it: an elapsed time computed any way but as an unsigned difference either
// polls at once or never.
TEST_P(StatusPollerTest, TickCounterWrapNeitherStallsNorHurriesThePoll) {
  OpenJob(1, 400);
  if (!diag::SetTickCountStart(0xFFFFFFFFu - 150)) {
    GTEST_SKIP() << "the tick counter cannot be moved on this platform";
  }
  emu::QueueBackChannel(kPort, emu::MakeStatusUpdate(1));
  StartPoller();

  ASSERT_TRUE(WaitUntil([&] { return Published() == emu::MakeStatusUpdate(1); }, 10000));
  EXPECT_GE(MsBetween(started_, Reads().at(0).at), 390);
  emu::QueueBackChannel(kPort, emu::MakeStatusUpdate(2));
  EXPECT_TRUE(WaitUntil([&] { return Published() == emu::MakeStatusUpdate(2); }, 10000));
}

TEST_P(StatusPollerTest, SettingsChangedMidJobTakeEffectWithoutRestart) {
  emu::PrinterOptions options;
  options.statusUpdateEveryMs = 50;  // every poll finds an update
  OpenJob(0, 600000, options);
  StartPoller();
  const HANDLE thread = record_->pollerThread;

  Sleep(500);
  EXPECT_EQ(ReadsStarted(), 0u) << "polling is off";
  emu::status_app::SetDword(printer_, VALUE_POLL_ENABLED, 1);
  Sleep(500);
  EXPECT_EQ(ReadsStarted(), 0u) << "the ten-minute interval has not passed";

  emu::status_app::SetDword(printer_, VALUE_POLL_INTERVAL, 200);
  ASSERT_TRUE(WaitUntil([&] { return Published().has_value(); }));
  EXPECT_EQ(Published()->rfind("STATUS KVR1 03 PRINTING;", 0), 0u) << *Published();

  emu::status_app::SetDword(printer_, VALUE_POLL_ENABLED, 0);
  Sleep(700);  // a poll under way ends with its one read
  const std::size_t readsWhileOff = ReadsStarted();
  Sleep(1000);
  EXPECT_EQ(ReadsStarted(), readsWhileOff);

  emu::status_app::SetDword(printer_, VALUE_POLL_ENABLED, 1);
  EXPECT_TRUE(WaitUntil([&] { return ReadsStarted() > readsWhileOff; }));
  EXPECT_EQ(record_->pollerThread, thread);
}

TEST_P(StatusPollerTest, ThreadThatCannotBeCreatedLeavesNothingToStop) {
  OpenJob(1, 200);
  if (!diag::FailNextThreadCreation()) {
    GTEST_SKIP() << "thread creation cannot be made to fail on this platform";
  }
  // Missing settings get their defaults on the caller's thread, before any poller.
  emu::status_app::DeleteValue(printer_, VALUE_POLL_ENABLED);
  emu::status_app::DeleteValue(printer_, VALUE_POLL_INTERVAL);
  EXPECT_TRUE(StartStatusPoller(record_));
  EXPECT_FALSE(HasStatusBits(record_, PS_POLLER_RUN));
  EXPECT_EQ(record_->pollerThread, nullptr);
  EXPECT_EQ(emu::status_app::ReadDword(printer_, VALUE_POLL_ENABLED), DEFAULT_POLL_ENABLED);
  EXPECT_EQ(emu::status_app::ReadDword(printer_, VALUE_POLL_INTERVAL), DEFAULT_POLL_INTERVAL_MS);
  emu::status_app::SetDword(printer_, VALUE_POLL_INTERVAL, 200);
  // The document ends without waiting for a thread that never existed, and the
  // next poller on the port starts normally.
  EXPECT_TRUE(monitor_test::FinishesWithin(5000, [this] { EndDoc(record_); }));
  ASSERT_TRUE(StartDoc(record_, printer_, 2));
  record_->deviceMonitor.pfnReadPort = LoggedRead;
  record_->deviceMonitor2.pfnReadPort = LoggedRead;
  emu::QueueBackChannel(kPort, emu::MakeStatusUpdate(1));
  StartPoller();
  EXPECT_TRUE(WaitUntil([&] { return Published() == emu::MakeStatusUpdate(1); }, 10000));
}

}  // namespace
