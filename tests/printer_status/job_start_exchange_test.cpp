// JobStartExchange called directly on a port in the state StartDocPort leaves it
// in (device document open, the printer's status key selected): which printers get
// which command, when the poller starts, and that polling is paused for exactly
// the ink query. The whole job through StartDocPort is in end_to_end/.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "emulator/printer_replies.h"
#include "emulator/status_app.h"
#include "printer_status/job_start.h"
#include "printer_status/remote_commands.h"
#include "printer_status/status_poller.h"
#include "status_store/status_key.h"
#include "tests/support/monitor_fixture.h"
#include "tests/support/printer_text.h"

namespace {

namespace app = emu::status_app;
using monitor_test::Bytes;
using monitor_test::DeviceIdFor;

constexpr char kPort[] = "LPT8:";
constexpr DWORD kEarlierPollFlag = 5;     // any non-zero value: polling on
constexpr DWORD kQuietInterval = 600000;  // keeps the poller from reading during a test

class JobStartExchangeFixture : public monitor_test::PrinterTest {
 protected:
  JobStartExchangeFixture() : PrinterTest("Job start ") {}

  void TearDown() override {
    // EndDocPort stops the poller before anything it uses goes away.
    if (record_ != nullptr) EndDoc(record_);
    PrinterTest::TearDown();
  }

  // The application registers `registered`; the printer reports `deviceId`.
  void OpenJob(const std::string& registered, const std::string& deviceId, DWORD presentFlag = 1,
               emu::PrinterOptions options = {}, DWORD intervalMs = kQuietInterval) {
    options.deviceId = deviceId;
    Register(printer_, registered, presentFlag, kEarlierPollFlag, intervalMs);
    record_ = OpenAtJobStart(kPort, printer_, options);
    ASSERT_NE(record_, nullptr);
  }
};

struct ModelCase {
  const char* model;
  std::vector<std::string> commands;  // what the printer receives, in order
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ModelCase& c, std::ostream* out) {
  *out << c.model;
}

class CommandForModel : public monitor_test::CasesOnBothFaces<JobStartExchangeFixture, ModelCase> {
};

TEST_P(CommandForModel, SendsTheModelsCommandsAndStartsThePoller) {
  const ModelCase& c = Case();
  OpenJob(c.model, DeviceIdFor(c.model));

  JobStartExchange(record_);

  EXPECT_EQ(emu::Commands(kPort), c.commands);
  EXPECT_TRUE(HasStatusBits(record_, PS_PRINTER_MATCHED | PS_POLLER_RUN));
  EXPECT_NE(record_->pollerThread, nullptr);
  EXPECT_EQ(app::ReadDword(printer_, VALUE_POLL_ENABLED), kEarlierPollFlag);
}

KOVIRLM_CASES_ON_BOTH_FACES(
    Models, CommandForModel,
    testing::Values(ModelCase{"KP-6600SU", {Bytes(StatusCommandB)}},
                    ModelCase{"KP-6600S-II", {Bytes(StatusCommandB)}},
                    ModelCase{"DL-9240", {Bytes(StatusCommandB)}},
                    ModelCase{"KP-100", {Bytes(StatusCommandA)}},
                    ModelCase{"KP-210S", {Bytes(StatusCommandA), Bytes(InkQueryCommand)}}),
    [](const ModelCase& param) {
      std::string name = param.model;
      for (char& c : name) {
        if (c == '-') c = '_';
      }
      return name;
    });

struct NotIdentifiedCase {
  const char* name;
  const char* registered;
  const char* deviceId;
  bool deviceData;  // the device monitor answers device-ID queries
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const NotIdentifiedCase& c, std::ostream* out) {
  *out << c.name;
}

class NotIdentified
    : public monitor_test::CasesOnBothFaces<JobStartExchangeFixture, NotIdentifiedCase> {};

TEST_P(NotIdentified, SendsNothingAndClearsMatchedAndPollerBits) {
  const NotIdentifiedCase& c = Case();
  emu::SetDeviceDataSupported(c.deviceData);
  OpenJob(c.registered, c.deviceId);
  // Left from an earlier document; no poller thread is behind them.
  SetStatusBits(record_, PS_PRINTER_MATCHED | PS_POLLER_RUN);

  JobStartExchange(record_);

  EXPECT_EQ(emu::Received(kPort), "");
  EXPECT_FALSE(HasStatusBits(record_, PS_PRINTER_MATCHED));
  EXPECT_FALSE(HasStatusBits(record_, PS_POLLER_RUN));
  EXPECT_EQ(record_->pollerThread, nullptr);
  EXPECT_EQ(app::ReadDword(printer_, VALUE_POLL_ENABLED), kEarlierPollFlag);
}

KOVIRLM_CASES_ON_BOTH_FACES(
    Printers, NotIdentified,
    testing::Values(NotIdentifiedCase{"OtherMaker", "KP-210S", "MFG:ACME;MDL:KP-210S;", true},
                    NotIdentifiedCase{"ModelCaseDiffers", "kp-210s", "MFG:KOVIR;MDL:KP-210S;",
                                      true},
                    NotIdentifiedCase{"OtherModel", "KP-6600S", "MFG:KOVIR;MDL:KP-210S;", true},
                    NotIdentifiedCase{"NoDeviceData", "KP-210S", "MFG:KOVIR;MDL:KP-210S;", false}),
    [](const NotIdentifiedCase& param) { return param.name; });

class StatusMonitorAbsent : public monitor_test::CasesOnBothFaces<JobStartExchangeFixture, DWORD> {
};

TEST_P(StatusMonitorAbsent, MatchedPrinterGetsNoCommandAndNoPoller) {
  OpenJob("KP-210S", DeviceIdFor("KP-210S"), Case());

  JobStartExchange(record_);

  EXPECT_TRUE(HasStatusBits(record_, PS_PRINTER_MATCHED));
  EXPECT_EQ(emu::Received(kPort), "");
  EXPECT_FALSE(HasStatusBits(record_, PS_POLLER_RUN));
  EXPECT_EQ(record_->pollerThread, nullptr);
  EXPECT_FALSE(app::ReadString(printer_, VALUE_INK_LEVEL).has_value());
  EXPECT_EQ(app::ReadDword(printer_, VALUE_POLL_ENABLED), kEarlierPollFlag);
}

KOVIRLM_CASES_ON_BOTH_FACES(Flags, StatusMonitorAbsent, testing::Values(0u, 16u),
                            [](DWORD flag) { return "StMonExistFlag" + std::to_string(flag); });

using JobStartExchangeTest = monitor_test::BothFaces<JobStartExchangeFixture>;
KOVIRLM_BOTH_FACES(JobStartExchangeTest);

// The exchange never runs beside a poller: a second document while one runs is
// refused before it, so nothing more is sent and no second poller starts.
TEST_P(JobStartExchangeTest, RunningPollerMeansNoCommandAndNoInkQuery) {
  OpenJob("KP-6600S", DeviceIdFor("KP-6600S"));
  JobStartExchange(record_);
  const HANDLE thread = record_->pollerThread;
  ASSERT_NE(thread, nullptr);
  const std::string received = emu::Received(kPort);

  EXPECT_FALSE(StartDoc(record_, printer_, 2));

  EXPECT_TRUE(HasStatusBits(record_, PS_PRINTER_MATCHED | PS_POLLER_RUN));
  EXPECT_EQ(emu::Received(kPort), received);
  EXPECT_EQ(record_->pollerThread, thread);
}

TEST_P(JobStartExchangeTest, ShortStatusCommandWriteStartsNoPollerAndNoInkQuery) {
  OpenJob("KP-210S", DeviceIdFor("KP-210S"));
  emu::InjectFault(emu::Slot::WritePort, emu::Fault::ShortWrite);

  JobStartExchange(record_);

  EXPECT_TRUE(HasStatusBits(record_, PS_PRINTER_MATCHED));
  EXPECT_LT(emu::Received(kPort).size(), StatusCommandA.size());
  EXPECT_EQ(emu::CallsTo(emu::Slot::WritePort).size(), 1u);
  EXPECT_FALSE(HasStatusBits(record_, PS_POLLER_RUN));
  EXPECT_EQ(record_->pollerThread, nullptr);
  EXPECT_EQ(app::ReadDword(printer_, VALUE_POLL_ENABLED), kEarlierPollFlag);
}

// A rejected status read (first byte NUL) leaves nothing behind: its "04" at
// offsets 12-13 must not make the next, shorter reply look ready for the ink query.
TEST_P(JobStartExchangeTest, RejectedStatusReadLeavesNothingForTheNextReply) {
  emu::PrinterOptions options;
  options.answersCommands = false;
  options.readChunk = 20;  // the rejected read is these 20 bytes alone
  OpenJob("KP-210S", DeviceIdFor("KP-210S"), 1, options);
  emu::QueueBackChannel(kPort, std::string("\0STATUS KVR104IDLE;;", 20) + "OK");

  JobStartExchange(record_);

  EXPECT_EQ(emu::Commands(kPort), std::vector<std::string>{Bytes(StatusCommandA)});
}

// What the registry and the port's own copy say when the ink query reaches the
// printer, and for every device read whether the exchange's thread made it.
PortRecord* recordAtInkQuery = nullptr;
std::optional<DWORD> flagAtInkQuery;
DWORD pollEnabledAtInkQuery = 0xFFFFFFFF;
std::string printerAtInkQuery;
std::thread::id exchangeThread;
std::mutex readsLock;
std::vector<bool> readsByExchange;
// What the application writes to GetRealTimeStatusStartFlag as the status command
// and the ink query go out, and at the exchange's first read of the status reply.
std::optional<DWORD> appFlagAtStatusCommand, appFlagAtInkQuery, appFlagAtStatusRead;

BOOL WINAPI WatchingWrite(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written) {
  if (count == InkQueryCommand.size()) {
    flagAtInkQuery = app::ReadDword(printerAtInkQuery, VALUE_POLL_ENABLED);
    pollEnabledAtInkQuery = recordAtInkQuery->statusKey.pollEnabled.load();
  }
  const std::optional<DWORD> appFlag =
      count == StatusCommandA.size() ? appFlagAtStatusCommand : appFlagAtInkQuery;
  if (appFlag) app::SetDword(printerAtInkQuery, VALUE_POLL_ENABLED, *appFlag);
  return emu::DeviceMonitor()->pfnWritePort(port, buffer, count, written);
}

BOOL WINAPI WatchingRead(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read) {
  const bool byExchange = std::this_thread::get_id() == exchangeThread;
  bool firstOfExchange = false;
  {
    std::lock_guard<std::mutex> lock(readsLock);
    readsByExchange.push_back(byExchange);
    firstOfExchange =
        byExchange && std::count(readsByExchange.begin(), readsByExchange.end(), true) == 1;
  }
  if (firstOfExchange && appFlagAtStatusRead) {
    // Polling paused, the application turns it on, and the exchange's read takes
    // long enough for the poller's settings loop (every 50 ms) to come round.
    app::SetDword(printerAtInkQuery, VALUE_POLL_ENABLED, *appFlagAtStatusRead);
    Sleep(300);
  }
  return emu::DeviceMonitor()->pfnReadPort(port, buffer, count, read);
}

struct PauseCase {
  const char* name;
  std::optional<DWORD> flag;  // GetRealTimeStatusStartFlag at job start; none: missing
  DWORD restored;             // the flag after the query
  std::optional<DWORD> atStatusCommand = std::nullopt, atInkQuery = std::nullopt;  // the app's
  std::optional<DWORD> atStatusRead = std::nullopt;
};

void PrintTo(const PauseCase& c, std::ostream* out) {
  *out << c.name;
}

class InkQueryPause : public monitor_test::CasesOnBothFaces<JobStartExchangeFixture, PauseCase> {};

// The poller polls every 300 ms, so one that polled during the query would read
// before the exchange's ink reply read (500 ms after the ink command).
TEST_P(InkQueryPause, PollingIsPausedForTheInkQueryAndThenRestored) {
  const PauseCase& c = Case();
  OpenJob("KP-210S", DeviceIdFor("KP-210S"), 1, {}, 300);
  if (c.flag) {
    app::SetDword(printer_, VALUE_POLL_ENABLED, *c.flag);
  } else {
    app::DeleteValue(printer_, VALUE_POLL_ENABLED);
  }
  record_->deviceMonitor.pfnWritePort = WatchingWrite;
  record_->deviceMonitor2.pfnWritePort = WatchingWrite;
  record_->deviceMonitor.pfnReadPort = WatchingRead;
  record_->deviceMonitor2.pfnReadPort = WatchingRead;
  recordAtInkQuery = record_;
  printerAtInkQuery = printer_;
  flagAtInkQuery.reset();
  appFlagAtStatusCommand = c.atStatusCommand;
  appFlagAtInkQuery = c.atInkQuery;
  appFlagAtStatusRead = c.atStatusRead;
  exchangeThread = std::this_thread::get_id();
  {
    std::lock_guard<std::mutex> lock(readsLock);
    readsByExchange.clear();
  }

  JobStartExchange(record_);

  ASSERT_EQ(emu::Commands(kPort).size(), 2u);
  EXPECT_EQ(flagAtInkQuery, c.atStatusRead.value_or(0));
  // The port's copy is the exchange's while it holds the channel: the poller
  // loads no settings then, whatever the registry says.
  EXPECT_EQ(pollEnabledAtInkQuery, 0u);
  EXPECT_EQ(app::ReadDword(printer_, VALUE_POLL_ENABLED), c.restored);
  EXPECT_EQ(record_->statusKey.pollEnabled.load(), c.restored);
  EXPECT_EQ(app::ReadString(printer_, VALUE_INK_LEVEL),
            "IQ:" + emu::MakeInkData(emu::DefaultInkLevels()));
  EXPECT_EQ(app::ReadString(printer_, VALUE_STATUS_STRING).value_or("").find("IQ:"),
            std::string::npos);
  // Paused by the application, the poller stays silent after the query too, over
  // what would have been several polls.
  if (c.restored == 0) Sleep(1000);
  std::lock_guard<std::mutex> lock(readsLock);
  const auto pollerReads = std::count(readsByExchange.begin(), readsByExchange.end(), false);
  if (c.restored == 0) {
    EXPECT_EQ(pollerReads, 0) << "the poller read while polling was paused";
  }
  const auto lastOfExchange = std::find(readsByExchange.rbegin(), readsByExchange.rend(), true);
  EXPECT_EQ(std::count(lastOfExchange, readsByExchange.rend(), false), 0)
      << "the poller read the printer before the exchange's last read";
}

KOVIRLM_CASES_ON_BOTH_FACES(
    Flags, InkQueryPause,
    testing::Values(PauseCase{"FlagSet", kEarlierPollFlag, kEarlierPollFlag},
                    PauseCase{"FlagOff", 0u, 0u},
                    PauseCase{"FlagMissing", std::nullopt, DEFAULT_POLL_ENABLED},
                    // The application's window opens during the query: it stands, and
                    // still the poller keeps off the channel until the query is done.
                    PauseCase{"AppStartsPolling", kEarlierPollFlag, 1, std::nullopt, 1},
                    PauseCase{"AppPausesPolling", kEarlierPollFlag, 0, 0},
                    PauseCase{"AppStartsPollingAtTheStatusRead", kEarlierPollFlag, 1, std::nullopt,
                              std::nullopt, 1}),
    [](const PauseCase& param) { return param.name; });

}  // namespace
