// SendPrinterCommand and ReadPrinterReply: the monitor's own exchange with the
// printer, and the claim on the back channel that keeps the job-start exchange
// and the poller apart.
#include "port/back_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/monitor_fixture.h"

namespace {

// Printable and position-dependent, so a wrong chunk shows.
std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('A' + (i * 7 + i / 26) % 26);
  return bytes;
}

class BackChannelFixture : public monitor_test::MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    record_ = OpenWithDocument(kPort);
    ASSERT_NE(record_, nullptr);
    emu::ClearCalls();
    emu::ClearReceived(kPort);
  }

  static constexpr const char* kPort = "KOVIR1:";
  PortRecord* record_ = nullptr;
};
using BackChannel = monitor_test::BothFaces<BackChannelFixture>;
KOVIRLM_BOTH_FACES(BackChannel);

struct DrainCase {
  std::size_t queued;
  std::vector<DWORD> reads;  // what each device read returned
  DWORD delivered;           // the length of the reply: the last non-empty chunk
  std::size_t left = 0;      // still queued afterwards
};

// Only the last chunk reaches the reply buffer: behind its terminator the buffer
// stays as the caller left it, nothing of an earlier, longer chunk.
TEST_P(BackChannel, ReadPrinterReplyDrainsTheQueueAndDeliversTheLastNonEmptyChunk) {
  const std::size_t overTheCap = (MAX_REPLY_CHUNKS + 1) * REPLY_CHUNK_SIZE;
  const DrainCase cases[] = {
      {5000, {2047, 2047, 906}, 906},
      {2047, {2047, 0}, 2047},  // the full chunk is the reply, not the empty read after it
      {4094, {2047, 2047, 0}, 2047},
      {2046, {2046}, 2046},
      {2048, {2047, 1}, 1},
      {17, {17}, 17},
      {0, {0}, 0},
      // The drain stops after MAX_REPLY_CHUNKS full chunks, however much is queued
      // (last, since it leaves bytes queued).
      {overTheCap, std::vector<DWORD>(MAX_REPLY_CHUNKS, REPLY_CHUNK_SIZE), REPLY_CHUNK_SIZE,
       REPLY_CHUNK_SIZE},
  };
  for (const DrainCase& c : cases) {
    SCOPED_TRACE(c.queued);
    const std::string queued = Pattern(c.queued);
    emu::QueueBackChannel(kPort, queued);
    emu::ClearCalls();
    char reply[REPLY_BUFFER_SIZE];
    std::memset(reply, '#', sizeof reply);
    DWORD count = 77;

    EXPECT_EQ(ReadPrinterReply(record_, reply, &count), c.delivered);

    EXPECT_EQ(count, c.delivered);
    EXPECT_EQ(std::string(reply, c.delivered),
              queued.substr(queued.size() - c.left - c.delivered, c.delivered));
    EXPECT_EQ(reply[c.delivered], '\0');
    EXPECT_EQ(std::string(reply + c.delivered + 1, reply + sizeof reply),
              std::string(sizeof reply - c.delivered - 1, '#'));
    std::vector<DWORD> reads;
    for (const emu::Call& call : emu::CallsTo(emu::Slot::ReadPort)) {
      EXPECT_EQ(call.number, REPLY_CHUNK_SIZE) << "a read asks for one chunk";
      EXPECT_EQ(call.handle, record_->devicePort);
      reads.push_back(call.bytes);
    }
    EXPECT_EQ(reads, c.reads);
    EXPECT_EQ(emu::PendingBackChannel(kPort), c.left);
  }
}

TEST_P(BackChannel, ReadPrinterReplyStopsAfterAShortChunk) {
  emu::PrinterOptions slow;
  slow.readChunk = 100;  // the port hands out at most 100 bytes a read
  emu::SetPrinterOptions(kPort, slow);
  const std::string queued = Pattern(450);
  emu::QueueBackChannel(kPort, queued);
  char reply[REPLY_BUFFER_SIZE];
  DWORD count = 0;

  EXPECT_EQ(ReadPrinterReply(record_, reply, &count), 100u);
  EXPECT_EQ(std::string(reply), queued.substr(0, 100));
  EXPECT_EQ(emu::CallsTo(emu::Slot::ReadPort).size(), 1u);
  EXPECT_EQ(emu::PendingBackChannel(kPort), 350u);
}

TEST_P(BackChannel, AFailedReadDeliversAnEmptyReply) {
  emu::QueueBackChannel(kPort, "waiting");
  emu::InjectFault(emu::Slot::ReadPort, emu::Fault::ReadError, 1);
  char reply[REPLY_BUFFER_SIZE];
  std::memset(reply, '#', sizeof reply);
  DWORD count = 77;

  EXPECT_EQ(ReadPrinterReply(record_, reply, &count), 0u);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(reply[0], '\0');
}

// A device read that scribbles on the buffer while returning nothing must not
// spoil the full chunk read before it.
BOOL WINAPI ScribblingReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read) {
  const BOOL result = emu::DeviceMonitor()->pfnReadPort(port, buffer, size, read);
  if (*read == 0) std::memset(buffer, '!', size);
  return result;
}

TEST_P(BackChannel, AnEmptyReadThatScribblesOnItsBufferLeavesTheFullChunkIntact) {
  record_->deviceMonitor.pfnReadPort = ScribblingReadPort;
  record_->deviceMonitor2.pfnReadPort = ScribblingReadPort;
  const std::string queued = Pattern(REPLY_CHUNK_SIZE);
  emu::QueueBackChannel(kPort, queued);
  char reply[REPLY_BUFFER_SIZE];
  DWORD count = 0;

  EXPECT_EQ(ReadPrinterReply(record_, reply, &count), REPLY_CHUNK_SIZE);
  EXPECT_EQ(std::string(reply), queued);
}

TEST_P(BackChannel, TheChannelHasOneHolderAtATime) {
  ASSERT_TRUE(ClaimBackChannel(record_, CHANNEL_EXCHANGE));
  EXPECT_FALSE(ClaimBackChannel(record_, CHANNEL_POLLER));
  EXPECT_FALSE(ClaimBackChannel(record_, CHANNEL_EXCHANGE));
  ReleaseBackChannel(record_);
  ASSERT_TRUE(ClaimBackChannel(record_, CHANNEL_POLLER));
  EXPECT_FALSE(ClaimBackChannel(record_, CHANNEL_EXCHANGE));
  ReleaseBackChannel(record_);
}

struct StopCase {
  DWORD holder;
  DWORD status;  // PS_POLLER_RUN set or clear
  std::size_t reads;
};

// A stop ends a poller's drain after the chunk in hand; the exchange's drain, and
// a running poller's, go on while chunks come full.
TEST_P(BackChannel, AStopEndsThePollersDrainBetweenChunks) {
  const StopCase cases[] = {
      {CHANNEL_POLLER, 0, 1}, {CHANNEL_POLLER, PS_POLLER_RUN, 3}, {CHANNEL_EXCHANGE, 0, 3}};
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.holder * 10 + c.reads);
    emu::QueueBackChannel(kPort, Pattern(2 * REPLY_CHUNK_SIZE + 10));
    emu::ClearCalls();
    ASSERT_TRUE(ClaimBackChannel(record_, c.holder));
    SetStatusBits(record_, c.status);
    char reply[REPLY_BUFFER_SIZE];
    DWORD count = 0;

    EXPECT_EQ(ReadPrinterReply(record_, reply, &count), c.reads == 1 ? REPLY_CHUNK_SIZE : 10u);

    EXPECT_EQ(emu::CallsTo(emu::Slot::ReadPort).size(), c.reads);
    ClearStatusBits(record_, PS_POLLER_RUN);
    ReleaseBackChannel(record_);
    ReadPrinterReply(record_, reply, &count);  // what a stopped drain left queued
  }
}

// Two threads claiming at once: never both hold the channel.
struct Claimer {
  PortRecord* record;
  DWORD holder;
  std::atomic<int>* inside;
  std::atomic<int>* overlaps;
  std::atomic<int>* ready;
};

DWORD WINAPI ClaimAndRelease(LPVOID parameter) {
  auto* claimer = static_cast<Claimer*>(parameter);
  for (++*claimer->ready; *claimer->ready < 2;) Sleep(0);  // both start together
  // For a while rather than a count, so that the two overlap however the threads
  // are scheduled on a loaded machine.
  for (const DWORD start = GetTickCount(); GetTickCount() - start < 300;) {
    if (!ClaimBackChannel(claimer->record, claimer->holder)) continue;
    if (++*claimer->inside != 1) ++*claimer->overlaps;
    --*claimer->inside;
    ReleaseBackChannel(claimer->record);
  }
  return 0;
}

TEST_P(BackChannel, ClaimsFromTwoThreadsAtOnceNeverBothHoldTheChannel) {
  std::atomic<int> inside{0}, overlaps{0}, ready{0};
  Claimer claimers[] = {{record_, CHANNEL_EXCHANGE, &inside, &overlaps, &ready},
                        {record_, CHANNEL_POLLER, &inside, &overlaps, &ready}};
  HANDLE threads[2];
  for (int i = 0; i < 2; ++i) threads[i] = monitor_test::StartThread(ClaimAndRelease, &claimers[i]);
  for (HANDLE thread : threads) {
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    CloseHandle(thread);
  }
  EXPECT_EQ(overlaps, 0);
}

// Only the holder gives the channel back: a read or a write on its behalf leaves
// the claim as it was.
TEST_P(BackChannel, AReplyReadAndACommandWriteLeaveTheClaimAlone) {
  emu::QueueBackChannel(kPort, "reply");
  const BYTE command[] = {0x1B, 'S', 'T'};
  char reply[REPLY_BUFFER_SIZE];
  DWORD count = 0;
  ASSERT_TRUE(ClaimBackChannel(record_, CHANNEL_EXCHANGE));

  EXPECT_EQ(ReadPrinterReply(record_, reply, &count), 5u);
  EXPECT_EQ(SendPrinterCommand(record_, command, sizeof command), TRUE);

  EXPECT_EQ(record_->channelOwner.load(), CHANNEL_EXCHANGE);
  ReleaseBackChannel(record_);
  EXPECT_EQ(ReadPrinterReply(record_, reply, &count), 0u);
  EXPECT_EQ(record_->channelOwner.load(), CHANNEL_FREE);
}

struct CommandCase {
  const char* what;
  emu::Fault fault;
  BOOL expected;
  std::size_t bytesOnTheWire;
};

TEST_P(BackChannel, SendPrinterCommandIsTrueOnlyWhenEveryByteWasWritten) {
  const CommandCase cases[] = {
      {"all written", emu::Fault::None, TRUE, 6},
      {"half written", emu::Fault::ShortWrite, FALSE, 3},
      {"write refused", emu::Fault::Refuse, FALSE, 0},
  };
  // NUL and escape bytes go out as they are: the length is never recomputed.
  const BYTE command[] = {0x1B, 0x00, 'I', 'Q', 0x00, 0x0D};
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.what);
    emu::ClearReceived(kPort);
    emu::ClearCalls();
    if (c.fault != emu::Fault::None) emu::InjectFault(emu::Slot::WritePort, c.fault, 1);

    EXPECT_EQ(SendPrinterCommand(record_, command, sizeof command), c.expected);

    EXPECT_EQ(emu::Received(kPort),
              std::string(reinterpret_cast<const char*>(command), c.bytesOnTheWire));
    const std::vector<emu::Call> writes = emu::CallsTo(emu::Slot::WritePort);
    ASSERT_EQ(writes.size(), 1u) << "one write, no retry";
    EXPECT_EQ(writes[0].number, sizeof command);
    EXPECT_EQ(writes[0].handle, record_->devicePort);
  }
}

}  // namespace
