// Whole jobs through the spooler's table on the emulated printer, with the status
// application stand-in: what StartDocPort's status exchange sends, what it
// publishes in the printer's StMonitor key, and that the poller it starts
// publishes the printer's updates while the job prints.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "emulator/printer_replies.h"
#include "emulator/status_app.h"
#include "port/back_channel.h"
#include "printer_status/remote_commands.h"
#include "status_store/status_key.h"
#include "tests/support/monitor_fixture.h"
#include "tests/support/printer_text.h"

namespace {

namespace app = emu::status_app;

using monitor_test::Bytes;

using monitor_test::WaitUntil;

bool IsPrintingUpdate(const std::optional<std::string>& text) {
  return text.has_value() && text->rfind("STATUS KVR1 03 PRINTING;", 0) == 0;
}

constexpr char kPort[] = "LPT9:";
constexpr DWORD kEarlierPollFlag = 5;     // polling on, and not the default 1
constexpr DWORD kQuietInterval = 600000;  // the poller does not read during the test
const std::string kEarlierInk = "IQ:BLACK=1%;";
const std::string kNewInk = "IQ:" + emu::MakeInkData(emu::DefaultInkLevels());

class MatchedJobFixture : public monitor_test::PrinterTest {
 protected:
  MatchedJobFixture() : PrinterTest("Matched job ") {}

  void TearDown() override {
    if (record_ != nullptr && HasStatusBits(record_, PS_JOB_ACTIVE)) {
      EndDoc(record_);
    }
    PrinterTest::TearDown();
  }

  // Registers `model` and opens the port on a printer with the given options.
  void OpenPrinter(const std::string& model, DWORD intervalMs, emu::PrinterOptions options = {},
                   DWORD presentFlag = 1) {
    options.deviceId = monitor_test::DeviceIdFor(model);
    OpenRegistered(kPort, model, presentFlag, kEarlierPollFlag, intervalMs, options);
    app::SetString(printer_, VALUE_INK_LEVEL, kEarlierInk);
    ASSERT_NE(record_, nullptr);
  }
};

using MatchedJobTest = monitor_test::BothFaces<MatchedJobFixture>;
KOVIRLM_BOTH_FACES(MatchedJobTest);

TEST_P(MatchedJobTest, InkReportingModelGetsStatusAndInkQueryThenItsUpdatesPublished) {
  emu::PrinterOptions options;
  options.statusUpdateEveryMs = 2000;  // the first update falls due after the ink reply
  OpenPrinter("KP-210S", 1000, options);

  ASSERT_TRUE(StartDoc(record_, printer_));

  EXPECT_EQ(emu::Commands(kPort),
            (std::vector<std::string>{Bytes(StatusCommandA), Bytes(InkQueryCommand)}));
  EXPECT_EQ(emu::Received(kPort), Bytes(StatusCommandA) + Bytes(InkQueryCommand));
  EXPECT_EQ(app::PublishedInkLevel(printer_), kNewInk);
  EXPECT_EQ(app::ReadDword(printer_, VALUE_POLL_ENABLED), kEarlierPollFlag);
  EXPECT_TRUE(HasStatusBits(record_, PS_PRINTER_MATCHED | PS_POLLER_RUN));

  // The job itself follows the commands, unchanged.
  EXPECT_TRUE(Write(record_, "page one\f"));
  EXPECT_EQ(emu::Received(kPort), Bytes(StatusCommandA) + Bytes(InkQueryCommand) + "page one\f");

  EXPECT_TRUE(WaitUntil([&] { return IsPrintingUpdate(app::PublishedStatus(printer_)); }))
      << app::PublishedStatus(printer_).value_or("(none)");
  EXPECT_TRUE(EndDoc(record_));
  EXPECT_FALSE(HasStatusBits(record_, PS_POLLER_RUN));
}

struct InkCase {
  const char* name;
  emu::PrinterOptions options;
  std::string queuedBeforeJob;  // what the printer says on its own before the job
  bool inkQuerySent;
  std::string inkLevelAfter;
  int emptyReads = 0;       // device reads that deliver nothing, ...
  int emptyReadsAfter = 0;  // ... after this many reads that reach the printer
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const InkCase& c, std::ostream* out) {
  *out << c.name;
}

emu::PrinterOptions With(void (*change)(emu::PrinterOptions&)) {
  emu::PrinterOptions options;
  change(options);
  return options;
}

// A status reply that starts with NUL and still has "04" at offsets 12-13.
std::string NulFirstStatusReply() {
  std::string reply = emu::MakeStatusReply(true);
  reply[0] = '\0';
  return reply;
}

// A full chunk with "04" at offsets 12-13, then a short reply without: the short
// one is the status reply, and nothing of the chunk before it may count.
std::string FullChunkThenShortReply() {
  std::string chunk(REPLY_CHUNK_SIZE, 'S');
  chunk.replace(emu::kStatusCodeOffset, 2, emu::kStatusReady);
  return chunk + "HELLO";
}

class InkQuery : public monitor_test::CasesOnBothFaces<MatchedJobFixture, InkCase> {};

TEST_P(InkQuery, StoresOnlyAnInkReplyAndAlwaysRestoresPolling) {
  const InkCase& c = Case();
  OpenPrinter("KP-210S", kQuietInterval, c.options);
  if (!c.queuedBeforeJob.empty()) emu::QueueBackChannel(kPort, c.queuedBeforeJob);
  if (c.emptyReads != 0) {
    emu::InjectFault(emu::Slot::ReadPort, emu::Fault::EmptyRead, c.emptyReads, c.emptyReadsAfter);
  }

  ASSERT_TRUE(StartDoc(record_, printer_));

  std::vector<std::string> expected{Bytes(StatusCommandA)};
  if (c.inkQuerySent) expected.push_back(Bytes(InkQueryCommand));
  EXPECT_EQ(emu::Commands(kPort), expected);
  EXPECT_EQ(app::PublishedInkLevel(printer_), c.inkLevelAfter);
  EXPECT_EQ(app::ReadDword(printer_, VALUE_POLL_ENABLED), kEarlierPollFlag);
  EXPECT_FALSE(app::PublishedStatus(printer_).has_value());
  EXPECT_TRUE(HasStatusBits(record_, PS_POLLER_RUN));
}

KOVIRLM_CASES_ON_BOTH_FACES(
    Replies, InkQuery,
    testing::Values(
        InkCase{"PrinterNotReady", With([](emu::PrinterOptions& o) { o.inkReady = false; }), "",
                false, kEarlierInk},
        InkCase{"StatusReplyStartsWithNul",
                With([](emu::PrinterOptions& o) { o.answersCommands = false; }),
                NulFirstStatusReply(), false, kEarlierInk},
        InkCase{"ShortReplyBehindAFullChunk",
                With([](emu::PrinterOptions& o) { o.answersCommands = false; }),
                FullChunkThenShortReply(), false, kEarlierInk},
        InkCase{"NoInkReply", With([](emu::PrinterOptions& o) { o.answersInkQuery = false; }), "",
                true, kEarlierInk},
        InkCase{"StatusUpdatesButNoInkReply", With([](emu::PrinterOptions& o) {
                  o.answersInkQuery = false;
                  o.statusUpdateEveryMs = 20;
                }),
                "", true, kEarlierInk},
        InkCase{"RepliesAfterThreeEmptyReads",
                With([](emu::PrinterOptions& o) { o.replyDelayReads = 3; }), "", true, kNewInk},
        // Each reply gets ten reads: found on the tenth, given up after ten empty ones.
        InkCase{"StatusReplyOnTheTenthRead", {}, "", true, kNewInk, 9, 0},
        InkCase{"NoStatusReplyInTenReads", {}, "", false, kEarlierInk, 10, 0},
        InkCase{"InkReplyOnTheTenthRead", {}, "", true, kNewInk, 9, 1},
        InkCase{"NoInkReplyInTenReads", {}, "", true, kEarlierInk, 10, 1}),
    [](const InkCase& param) { return param.name; });

TEST_P(MatchedJobTest, OtherStatusModelGetsCommandBAndPollerButNoInkQuery) {
  emu::PrinterOptions options;
  options.statusUpdateEveryMs = 100;
  OpenPrinter("KP-6600S", 200, options);

  ASSERT_TRUE(StartDoc(record_, printer_));

  EXPECT_EQ(emu::Commands(kPort), std::vector<std::string>{Bytes(StatusCommandB)});
  EXPECT_TRUE(HasStatusBits(record_, PS_PRINTER_MATCHED | PS_POLLER_RUN));
  EXPECT_NE(record_->pollerThread, nullptr);
  EXPECT_EQ(app::PublishedInkLevel(printer_), kEarlierInk);
  EXPECT_TRUE(WaitUntil([&] { return IsPrintingUpdate(app::PublishedStatus(printer_)); }))
      << app::PublishedStatus(printer_).value_or("(none)");
}

// The poller's drain stops after MAX_REPLY_CHUNKS full chunks, so it sees its stop
// and EndDocPort (holding MonitorLock) does not wait for good.
TEST_P(MatchedJobTest, BackChannelThatNeverRunsDryStillLetsEndDocPortReturn) {
  emu::PrinterOptions options;
  options.neverRunsDry = true;
  OpenPrinter("KP-6600S", 100, options);
  ASSERT_TRUE(StartDoc(record_, printer_));
  ASSERT_TRUE(
      WaitUntil([] { return emu::CallsTo(emu::Slot::ReadPort).size() > MAX_REPLY_CHUNKS; }));

  PortRecord* record = record_;
  const monitor_test::SpoolerFace spooler = Spool();
  EXPECT_TRUE(monitor_test::FinishesWithin(10000, [spooler, record] { spooler.EndDoc(record); }))
      << "EndDocPort still waiting for the poller after 10 s";
  emu::SetPrinterOptions(kPort, {});  // runs dry at last, should EndDocPort still wait
  for (const emu::Call& read : emu::CallsTo(emu::Slot::ReadPort)) {
    EXPECT_EQ(read.bytes, REPLY_CHUNK_SIZE) << "the back channel ran dry";
  }
}

TEST_P(MatchedJobTest, StatusMonitorFlag16MeansNoCommandAndNoPoller) {
  OpenPrinter("KP-210S", 200, {}, 16);

  EXPECT_TRUE(StartDoc(record_, printer_));

  EXPECT_TRUE(HasStatusBits(record_, PS_PRINTER_MATCHED | PS_DEVICE_DOC_OPEN));
  EXPECT_EQ(emu::Received(kPort), "");
  EXPECT_FALSE(HasStatusBits(record_, PS_POLLER_RUN));
  EXPECT_EQ(record_->pollerThread, nullptr);
  EXPECT_EQ(app::PublishedInkLevel(printer_), kEarlierInk);
}

TEST_P(MatchedJobTest, AnotherMakersPrinterOnAPreviouslyMatchedPortGetsNothing) {
  OpenPrinter("KP-6600S", kQuietInterval);
  ASSERT_TRUE(StartDoc(record_, printer_));
  ASSERT_TRUE(HasStatusBits(record_, PS_PRINTER_MATCHED | PS_POLLER_RUN));
  ASSERT_TRUE(EndDoc(record_));
  ASSERT_TRUE(HasStatusBits(record_, PS_PRINTER_MATCHED));  // kept between documents
  emu::ClearReceived(kPort);
  emu::SetDeviceId(kPort, "MFG:ACME PRINTERS;MDL:KP-6600S;");

  EXPECT_TRUE(StartDoc(record_, printer_));

  EXPECT_FALSE(HasStatusBits(record_, PS_PRINTER_MATCHED));
  EXPECT_FALSE(HasStatusBits(record_, PS_POLLER_RUN));
  EXPECT_EQ(record_->pollerThread, nullptr);
  EXPECT_EQ(emu::Received(kPort), "");
}

}  // namespace
