// The emulated printer behind the device monitor: recognising remote-mode blocks
// however the writes cut them, answering them, holding replies back, and
// volunteering status updates while a document prints.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "emulator/device_monitor.h"
#include "emulator/printer_replies.h"
#include "emulator/remote_blocks.h"
#include "tests/support/device_port.h"

namespace {

constexpr char kPort[] = "USB003";

// The three blocks as the monitor sends them, written out here independently.
const std::string kStatusA(
    "\x1B@\x1B@\x1B(R\x08\x00\x00REMOTE1ST\x02\x00\x00\x01"
    "AP\x02\x00\x00\x00\x1B\x00\x00\x00",
    33);
const std::string kStatusB(
    "\x1B@\x1B@\x1B(R\x08\x00\x00REMOTE1ST\x02\x00\x00\x03"
    "AP\x02\x00\x00\x00\x1B\x00\x00\x00",
    33);
const std::string kInkQuery("\x1B(R\x08\x00\x00REMOTE1IQ\x01\x00\x01\x1B\x00\x00\x00", 22);

class PrinterTest : public ::testing::Test {
 protected:
  void SetUp() override { emu::Reset(); }
  void TearDown() override {
    if (port != nullptr) emu::DeviceMonitor()->pfnClosePort(port);
    emu::Reset();
  }

  void OpenWith(const emu::PrinterOptions& options) {
    emu::AttachPrinter(kPort, options);
    MONITOR* table = emu::DeviceMonitor();
    ASSERT_TRUE(table->pfnOpenPort(const_cast<LPSTR>(kPort), &port));
    ASSERT_TRUE(table->pfnStartDocPort(port, const_cast<LPSTR>("Lab"), 1, 1, nullptr));
  }
  void Write(const std::string& bytes) {
    DWORD written = 0;
    ASSERT_TRUE(monitor_test::DeviceWrite(port, bytes, &written));
    ASSERT_EQ(written, bytes.size());
  }
  std::string Read(DWORD size = 2047) {
    BOOL ok = FALSE;
    std::string reply = monitor_test::DeviceRead(port, size, &ok);
    EXPECT_TRUE(ok);
    return reply;
  }

  HANDLE port = nullptr;
};

TEST_F(PrinterTest, StatusCommandIsAnsweredWithReadyStatus) {
  OpenWith({});
  Write(kStatusA);
  ASSERT_EQ(emu::Commands(kPort), std::vector<std::string>{kStatusA});
  const std::string reply = Read();
  ASSERT_GE(reply.size(), 14u);
  EXPECT_EQ(reply.substr(12, 2), "04");
  EXPECT_EQ(reply, emu::MakeStatusReply(true));
  EXPECT_EQ(Read(), "") << "one command, one reply";
}

TEST_F(PrinterTest, PrinterNotReadyAnswersWithoutTheReadyCode) {
  OpenWith({.inkReady = false});
  Write(kStatusB);
  const std::string reply = Read();
  ASSERT_GE(reply.size(), 14u);
  EXPECT_NE(reply.substr(12, 2), "04");
}

TEST_F(PrinterTest, InkQueryIsAnsweredWithMarkerLengthAndInkData) {
  OpenWith({.ink = emu::InkLevels{{{"BLACK", 5}, {"CYAN", 100}}}});
  Write(kInkQuery);
  const std::string reply = Read();
  const std::string data = "BLACK=5%;CYAN=100%;";
  ASSERT_EQ(reply.size(), 5 + data.size());
  EXPECT_EQ(reply.substr(0, 3), "IQ:");
  EXPECT_EQ(static_cast<unsigned char>(reply[3]), data.size());
  EXPECT_EQ(reply[4], '\0');
  EXPECT_EQ(reply.substr(5), data);
}

TEST_F(PrinterTest, SilentPrinterRecognisesButDoesNotAnswer) {
  OpenWith({.answersInkQuery = false});
  Write(kInkQuery);
  EXPECT_EQ(emu::Commands(kPort).size(), 1u);
  EXPECT_EQ(Read(), "");
  emu::SetPrinterOptions(kPort, {.answersCommands = false, .answersInkQuery = false});
  Write(kStatusA);
  EXPECT_EQ(emu::Commands(kPort).size(), 2u);
  EXPECT_EQ(Read(), "");
}

// Every way of cutting a status command into two writes, with job data around it.
TEST_F(PrinterTest, BlockSplitAtAnyByteIsRecognisedOnce) {
  OpenWith({});
  for (std::size_t cut = 1; cut < kStatusA.size(); ++cut) {
    emu::ClearReceived(kPort);
    const std::string stream = "job" + kStatusA + "more";
    Write(stream.substr(0, 3 + cut));
    EXPECT_TRUE(emu::Commands(kPort).empty()) << cut;
    Write(stream.substr(3 + cut));
    EXPECT_EQ(emu::Commands(kPort), std::vector<std::string>{kStatusA}) << cut;
    EXPECT_EQ(emu::Received(kPort), stream);
    EXPECT_EQ(Read(), emu::MakeStatusReply(true)) << cut;
  }
}

TEST_F(PrinterTest, ByteByByteWritesAndBackToBackBlocks) {
  OpenWith({});
  const std::string stream = kStatusB + kInkQuery + "\x1B(R\x09" + kInkQuery;
  for (char c : stream) Write(std::string(1, c));
  const std::vector<std::string> expected = {kStatusB, kInkQuery, kInkQuery};
  EXPECT_EQ(emu::Commands(kPort), expected);
  EXPECT_EQ(Read(), emu::MakeStatusReply(true) + emu::MakeInkReply(emu::DefaultInkLevels()) +
                        emu::MakeInkReply(emu::DefaultInkLevels()));
}

TEST(RemoteBlocks, MalformedBlocksAreSkippedAndIncompleteOnesWaited) {
  struct Case {
    const char* name;
    std::string stream;
    std::size_t blocks;
    bool waiting;  // the scan stops at an unfinished block
  };
  const Case cases[] = {
      {"wrong length", std::string("\x1B(R\x07\x00\x00REMOTE1\x1B\x00\x00\x00", 16), 0, false},
      {"wrong keyword", std::string("\x1B(R\x08\x00\x00REMOTE2\x1B\x00\x00\x00", 17), 0, false},
      {"no terminator yet", kInkQuery.substr(0, 20), 0, true},
      {"parameter cut", kStatusA.substr(0, 22), 0, true},
      {"bad terminator", kInkQuery.substr(0, 19) + std::string("\x01\x00\x00", 3), 0, false},
      {"reset without block", std::string("\x1B@\x1B@plain text"), 0, false},
      {"two blocks", kStatusA + kStatusB, 2, false},
  };
  for (const Case& c : cases) {
    std::vector<emu::RemoteBlock> blocks;
    const std::size_t resume = emu::ScanRemoteBlocks(c.stream, 0, blocks);
    EXPECT_EQ(blocks.size(), c.blocks) << c.name;
    EXPECT_EQ(resume < c.stream.size(), c.waiting) << c.name;
  }
  std::vector<emu::RemoteBlock> blocks;
  emu::ScanRemoteBlocks(kStatusA, 0, blocks);
  ASSERT_EQ(blocks.size(), 1u);
  ASSERT_EQ(blocks[0].commands.size(), 2u);
  EXPECT_EQ(blocks[0].commands[0].name, "ST");
  EXPECT_EQ(blocks[0].commands[0].parameter, std::string("\x00\x01", 2));
  EXPECT_EQ(blocks[0].commands[1].name, "AP");
  EXPECT_EQ(blocks[0].begin, 0u);
  EXPECT_EQ(blocks[0].end, 33u);
}

TEST_F(PrinterTest, DelayedReplyIsReturnedByTheThirdReadAfterTwoEmptyOnes) {
  OpenWith({.replyDelayReads = 2});
  Write(kStatusA);
  EXPECT_EQ(emu::PendingBackChannel(kPort), emu::MakeStatusReply(true).size());
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(Read(), emu::MakeStatusReply(true));
}

TEST_F(PrinterTest, FaultedReadsDoNotCountTowardsTheDelay) {
  OpenWith({.replyDelayReads = 1});
  Write(kStatusA);
  emu::InjectFault(emu::Slot::ReadPort, emu::Fault::EmptyRead, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Read(), "") << i;
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(Read(), emu::MakeStatusReply(true));
}

TEST_F(PrinterTest, StatusUpdatesFlowOnlyWhileTheDocumentIsOpen) {
  OpenWith({.statusUpdateEveryMs = 20});
  Sleep(100);  // at least four periods
  const std::string update = Read();
  ASSERT_GE(update.size(), 14u);
  EXPECT_EQ(update.substr(12, 2), "03");
  EXPECT_NE(update.find("PRINTING"), std::string::npos);
  EXPECT_EQ(update.find("STATUS", 1), std::string::npos) << "due updates collapse into one";

  ASSERT_TRUE(emu::DeviceMonitor()->pfnEndDocPort(port));
  // A new document counts its updates afresh: one period into it an update is due
  // again, although the first document had already numbered several.
  ASSERT_TRUE(emu::DeviceMonitor()->pfnStartDocPort(port, const_cast<LPSTR>("Lab"), 2, 1, nullptr));
  Sleep(30);
  const std::string next = Read();
  EXPECT_NE(next.find("PRINTING;ERR:00;SEQ:"), std::string::npos) << next;
}

// Replies come alone: an update never rides along with the answer to a command,
// held back or not, so the monitor stores clean status and ink replies.
TEST_F(PrinterTest, RepliesComeAloneAndUpdatesFollowOnceTheyAreRead) {
  OpenWith({.replyDelayReads = 1, .statusUpdateEveryMs = 10});
  Write(kStatusA);
  Sleep(30);
  EXPECT_EQ(Read(), "") << "the reply is still held back";
  EXPECT_EQ(Read(), emu::MakeStatusReply(true));
  Write(kInkQuery);
  Sleep(30);
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(Read(), emu::MakeInkReply(emu::DefaultInkLevels()));
  const std::string update = Read();
  ASSERT_GE(update.size(), 14u);
  EXPECT_EQ(update.substr(12, 2), "03");
}

// Spooler and poller threads call in at once; the rig must stay consistent (and
// race-free under the thread sanitizer).
TEST_F(PrinterTest, ConcurrentWritersAndReadersLoseNothing) {
  OpenWith({});
  constexpr int kRounds = 200;
  std::thread writer([&] {
    for (int i = 0; i < kRounds; ++i) Write(kInkQuery);
  });
  std::size_t total = 0;
  std::thread reader([&] {
    for (int i = 0; i < kRounds * 2; ++i) total += Read(97).size();
  });
  std::thread logger([] {
    for (int i = 0; i < kRounds; ++i) {
      (void)emu::Calls();
      (void)emu::PendingBackChannel(kPort);
    }
  });
  writer.join();
  reader.join();
  logger.join();
  total += emu::PendingBackChannel(kPort);
  EXPECT_EQ(emu::Commands(kPort).size(), static_cast<std::size_t>(kRounds));
  EXPECT_EQ(total, kRounds * emu::MakeInkReply(emu::DefaultInkLevels()).size());
}

}  // namespace
