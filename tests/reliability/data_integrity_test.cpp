// No byte lost, added, changed or reordered: a random job of tens of MiB (256 MiB
// under KOVIRLM_SOAK) passes to the printer byte for byte while the poller runs and
// the printer keeps talking on its back channel.
//
// The printer runs in the rig's compact mode: it keeps a count and a running
// digest of what it received instead of the bytes, and the test hashes what it
// sends the same way, so neither side holds the job in memory.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "emulator/printer_replies.h"
#include "printer_status/remote_commands.h"
#include "tests/reliability/reliability_rig.h"

namespace {

using namespace reliability;

constexpr char kPort[] = "KOVIRD:";

// The measuring instrument first: the compact mode's count and digest agree with
// the full mode's bytes, and it still recognises and answers a command block
// that arrives a byte at a time.
TEST(CompactPrinter, CountsAndDigestsWhatAFullPrinterKeeps) {
  emu::Reset();
  emu::AttachPrinter("FULL:");
  emu::AttachPrinter("COMPACT:", {.keepReceived = false});
  HANDLE full = nullptr, small = nullptr;
  ASSERT_TRUE(emu::DeviceMonitor()->pfnOpenPort(const_cast<LPSTR>("FULL:"), &full));
  ASSERT_TRUE(emu::DeviceMonitor()->pfnOpenPort(const_cast<LPSTR>("COMPACT:"), &small));
  for (HANDLE port : {full, small}) {
    ASSERT_TRUE(emu::DeviceMonitor()->pfnStartDocPort(port, nullptr, 1, 1, nullptr));
  }

  Random random(7);
  std::string sent = random.Bytes(100000);
  const std::string command = Bytes(StatusCommandA);
  sent.insert(50000, command);
  std::size_t at = 0;
  while (at < sent.size()) {
    // Byte by byte across the command, in random pieces elsewhere.
    const bool inCommand = at + 40 >= 50000 && at < 50000 + command.size() + 40;
    const std::size_t size =
        std::min<std::size_t>(sent.size() - at, inCommand ? 1 : 1 + random.Below(9000));
    for (HANDLE port : {full, small}) {
      DWORD written = 0;
      std::string piece = sent.substr(at, size);
      ASSERT_TRUE(emu::DeviceMonitor()->pfnWritePort(port, reinterpret_cast<LPBYTE>(piece.data()),
                                                     static_cast<DWORD>(size), &written));
    }
    at += size;
  }

  EXPECT_EQ(emu::Received("FULL:"), sent);
  EXPECT_LT(emu::Received("COMPACT:").size(), 64u);
  EXPECT_EQ(emu::ReceivedCount("FULL:"), sent.size());
  EXPECT_EQ(emu::ReceivedCount("COMPACT:"), sent.size());
  const std::uint64_t digest = emu::Digest(emu::kDigestStart, sent.data(), sent.size());
  EXPECT_EQ(emu::ReceivedDigest("FULL:"), digest);
  EXPECT_EQ(emu::ReceivedDigest("COMPACT:"), digest);
  // A digest that cannot tell one changed byte would measure nothing.
  sent[12345] ^= 1;
  EXPECT_NE(emu::Digest(emu::kDigestStart, sent.data(), sent.size()), digest);
  EXPECT_EQ(emu::Commands("COMPACT:"), std::vector<std::string>{command});
  EXPECT_EQ(emu::Commands("FULL:"), std::vector<std::string>{command});
  EXPECT_EQ(emu::PendingBackChannel("COMPACT:"), emu::MakeStatusReply(true).size());
  for (const emu::Call& call : emu::CallsTo(emu::Slot::WritePort)) {
    if (call.port == "COMPACT:") {
      EXPECT_TRUE(call.data.empty());
    }
  }
  emu::ClearReceived("COMPACT:");
  EXPECT_EQ(emu::ReceivedCount("COMPACT:"), 0u);
  EXPECT_EQ(emu::ReceivedDigest("COMPACT:"), emu::kDigestStart);
  for (HANDLE port : {full, small}) {
    EXPECT_TRUE(emu::DeviceMonitor()->pfnClosePort(port));
  }
  emu::Reset();
}

class DataIntegrityFixture : public ReliabilityTest {};
using DataIntegrity = monitor_test::BothFaces<DataIntegrityFixture>;
KOVIRLM_BOTH_FACES(DataIntegrity);

TEST_P(DataIntegrity, RandomJobArrivesByteExactWhileThePollerRunsAndThePrinterTalks) {
  const std::uint64_t total = Scaled<std::uint64_t>(24, 256) << 20;
  std::string printer = InstallPrinter("", "KP-6600S", 20);
  emu::PrinterOptions options{
      .deviceId = DeviceIdFor("KP-6600S"), .statusUpdateEveryMs = 5, .keepReceived = false};
  PortRecord* record = OpenPort(kPort, printer, options);
  ASSERT_NE(record, nullptr);
  const diag::ResourceCounts before = diag::CurrentResourceCounts();

  ASSERT_TRUE(Spool().StartDoc(record, &printer, 1));
  ASSERT_TRUE(HasStatusBits(record, PS_POLLER_RUN));
  emu::ClearReceived(kPort);
  const auto start = std::chrono::steady_clock::now();

  Random random(0x256);
  std::vector<char> piece(256 * 1024 + 1);
  std::uint64_t sent = 0;
  std::uint64_t digest = emu::kDigestStart;
  bool pollerSeenMidJob = false;
  while (sent < total) {
    // Mostly large pieces, with runs of tiny ones, as spoolers and drivers mix them.
    const std::uint32_t shape = random.Below(8);
    std::size_t size = shape == 0 ? 1 + random.Below(16) : 1 + random.Below(256 * 1024);
    if (size > total - sent) size = static_cast<std::size_t>(total - sent);
    random.Fill(piece.data(), size);
    digest = emu::Digest(digest, piece.data(), size);
    DWORD written = 0;
    ASSERT_TRUE(Spool().Write(record, reinterpret_cast<LPBYTE>(piece.data()),
                              static_cast<DWORD>(size), &written));
    ASSERT_EQ(written, size);
    sent += size;
    if (!pollerSeenMidJob && sent >= total / 2) {
      // Halfway, the poller must have been at work on the back channel: wait for
      // it to have read a few times, so the job is written across its polls.
      ASSERT_TRUE(WaitUntil([] { return emu::CallsTo(emu::Slot::ReadPort).size() >= 3; }));
      pollerSeenMidJob = true;
    }
  }
  EXPECT_TRUE(HasStatusBits(record, PS_POLLER_RUN));
  const std::size_t pollerReads = emu::CallsTo(emu::Slot::ReadPort).size();
  EXPECT_TRUE(Spool().EndDoc(record));
  const long long ms = MsSince(start);

  EXPECT_EQ(emu::ReceivedCount(kPort), total);
  EXPECT_EQ(emu::ReceivedDigest(kPort), digest);
  EXPECT_EQ(emu::Commands(kPort), std::vector<std::string>{});  // no block in the job
  // What the printer said while printing was published.
  const std::optional<std::string> status = app::PublishedStatus(printer);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(status->substr(0, 12), "STATUS KVR1 ");
  const diag::ResourceCounts after = diag::CurrentResourceCounts();

  char line[200];
  std::snprintf(line, sizeof line, "%llu MiB byte-exact in %lld ms (%.1f MiB/s), %zu poller reads",
                static_cast<unsigned long long>(total >> 20), ms,
                ms > 0 ? static_cast<double>(total >> 20) * 1000.0 / static_cast<double>(ms) : 0.0,
                pollerReads);
  Figure("data integrity", line);
  std::snprintf(line, sizeof line, "memory %llu KiB before, %llu KiB after",
                static_cast<unsigned long long>(before.memoryBytes >> 10),
                static_cast<unsigned long long>(after.memoryBytes >> 10));
  Figure("data integrity", line);
  // Neither side kept the job: memory grew by far less than its size.
  if (before.memoryBytes != 0 && after.memoryBytes > before.memoryBytes) {
    EXPECT_LT(after.memoryBytes - before.memoryBytes, total / 2 + (64u << 20));
  }
  options.keepReceived = true;  // an ordinary job next, checked byte for byte
  emu::SetPrinterOptions(kPort, options);
  ExpectJobWorks(record, kPort, printer, true);
}

}  // namespace
