// SendPrinterCommand and ReadPrinterReply: the monitor's own exchange with the
// printer, and the two idle events that keep a command write and a reply read
// apart.
#include "port/back_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/monitor_fixture.h"

namespace {

using monitor_test::BackgroundCall;
using monitor_test::FinishesWithin;
using monitor_test::Signalled;

// Printable and position-dependent, so a wrong chunk shows.
std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('A' + (i * 7 + i / 26) % 26);
  return bytes;
}

class BackChannel : public monitor_test::MonitorTest {
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

struct DrainCase {
  std::size_t queued;
  std::vector<DWORD> reads;  // what each device read returned
  DWORD delivered;           // the length of the reply: the last non-empty chunk
  std::size_t left = 0;      // still queued afterwards
};

// Only the last chunk reaches the reply buffer: behind its terminator the buffer
// stays as the caller left it, nothing of an earlier, longer chunk.
TEST_F(BackChannel, ReadPrinterReplyDrainsTheQueueAndDeliversTheLastNonEmptyChunk) {
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

TEST_F(BackChannel, ReadPrinterReplyStopsAfterAShortChunk) {
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

TEST_F(BackChannel, AFailedReadDeliversAnEmptyReply) {
  emu::QueueBackChannel(kPort, "waiting");
  emu::InjectFault(emu::Slot::ReadPort, emu::Fault::ReadError, 1);
  char reply[REPLY_BUFFER_SIZE];
  std::memset(reply, '#', sizeof reply);
  DWORD count = 77;

  EXPECT_EQ(ReadPrinterReply(record_, reply, &count), 0u);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(reply[0], '\0');
  EXPECT_TRUE(Signalled(record_->readIdleEvent));
}

// A device read that scribbles on the buffer while returning nothing must not
// spoil the full chunk read before it.
BOOL WINAPI ScribblingReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read) {
  const BOOL result = emu::DeviceMonitor()->pfnReadPort(port, buffer, size, read);
  if (*read == 0) std::memset(buffer, '!', size);
  return result;
}

TEST_F(BackChannel, AnEmptyReadThatScribblesOnItsBufferLeavesTheFullChunkIntact) {
  record_->deviceMonitor.pfnReadPort = ScribblingReadPort;
  const std::string queued = Pattern(REPLY_CHUNK_SIZE);
  emu::QueueBackChannel(kPort, queued);
  char reply[REPLY_BUFFER_SIZE];
  DWORD count = 0;

  EXPECT_EQ(ReadPrinterReply(record_, reply, &count), REPLY_CHUNK_SIZE);
  EXPECT_EQ(std::string(reply), queued);
}

// What the idle events looked like while the device monitor was busy: a read must
// find readIdleEvent reset and writeIdleEvent signalled, a write the reverse.
PortRecord* gWatched = nullptr;
std::atomic<int> gReads{0};
std::atomic<int> gWrites{0};
std::atomic<int> gWrongState{0};

BOOL WINAPI WatchedReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read) {
  ++gReads;
  if (Signalled(gWatched->readIdleEvent) || !Signalled(gWatched->writeIdleEvent)) ++gWrongState;
  return emu::DeviceMonitor()->pfnReadPort(port, buffer, size, read);
}

BOOL WINAPI WatchedWritePort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written) {
  ++gWrites;
  if (Signalled(gWatched->writeIdleEvent) || !Signalled(gWatched->readIdleEvent)) ++gWrongState;
  return emu::DeviceMonitor()->pfnWritePort(port, buffer, size, written);
}

TEST_F(BackChannel, ReplyReadsAndCommandWritesMarkThemselvesRunningAndIdleAfterwards) {
  gWatched = record_;
  gReads = 0;
  gWrites = 0;
  gWrongState = 0;
  record_->deviceMonitor.pfnReadPort = WatchedReadPort;
  record_->deviceMonitor.pfnWritePort = WatchedWritePort;
  emu::QueueBackChannel(kPort, Pattern(5000));
  char reply[REPLY_BUFFER_SIZE];
  DWORD count = 0;
  const BYTE command[] = {0x1B, 'R', 'M', 0x00, 0x01};

  ReadPrinterReply(record_, reply, &count);
  EXPECT_EQ(gReads, 3) << "one mark for every device read";
  EXPECT_EQ(gWrongState, 0) << "readIdleEvent signalled, or writeIdleEvent reset, during a read";
  EXPECT_TRUE(Signalled(record_->readIdleEvent));
  EXPECT_TRUE(Signalled(record_->writeIdleEvent));

  EXPECT_EQ(SendPrinterCommand(record_, command, sizeof command), TRUE);
  EXPECT_EQ(gWrites, 1);
  EXPECT_EQ(gWrongState, 0) << "writeIdleEvent signalled, or readIdleEvent reset, during a write";
  EXPECT_TRUE(Signalled(record_->readIdleEvent));
  EXPECT_TRUE(Signalled(record_->writeIdleEvent));
}

TEST_F(BackChannel, AReplyReadWaitsUntilARunningCommandWriteHasFinished) {
  emu::QueueBackChannel(kPort, "reply");
  ResetEvent(record_->writeIdleEvent);  // a command write is under way
  char reply[REPLY_BUFFER_SIZE] = {};
  DWORD delivered = 77;
  PortRecord* record = record_;
  {
    BackgroundCall read([record, &reply, &delivered] {
      DWORD count = 0;
      delivered = ReadPrinterReply(record, reply, &count);
    });
    ASSERT_TRUE(read.Started());
    // The read finds the write running and must not touch the device meanwhile.
    EXPECT_FALSE(read.FinishedWithin(300));
    EXPECT_TRUE(emu::CallsTo(emu::Slot::ReadPort).empty());

    SetEvent(record_->writeIdleEvent);  // the write is done
    EXPECT_TRUE(read.FinishedWithin(10000));
  }
  EXPECT_EQ(delivered, 5u);
  EXPECT_STREQ(reply, "reply");
}

TEST_F(BackChannel, ACommandWriteWaitsUntilARunningReplyReadHasFinished) {
  ResetEvent(record_->readIdleEvent);  // a reply read is under way
  const BYTE command[] = {0x1B, 'S', 'T'};
  BOOL result = FALSE;
  PortRecord* record = record_;
  const DWORD start = GetTickCount();
  DWORD took = 0;
  {
    BackgroundCall write([record, &command, &result] {
      result = SendPrinterCommand(record, command, sizeof command);
    });
    ASSERT_TRUE(write.Started());
    EXPECT_FALSE(write.FinishedWithin(300));
    EXPECT_TRUE(emu::CallsTo(emu::Slot::WritePort).empty());

    SetEvent(record_->readIdleEvent);  // the read is done
    EXPECT_TRUE(write.FinishedWithin(10000));
    took = GetTickCount() - start;
  }
  EXPECT_EQ(result, TRUE);
  EXPECT_EQ(emu::Received(kPort), std::string("\x1BST"));
  // Its wait for a read is bounded at 5000 ms; going well before that shows it
  // went because the read ended, not because it gave up waiting.
  EXPECT_LT(took, 4500u) << "the write did not go when the read ended";
}

TEST_F(BackChannel, ACommandWriteGoesAheadAfterWaitingFiveSecondsForAReadThatDoesNotEnd) {
  ResetEvent(record_->readIdleEvent);  // a read that never finishes
  const BYTE command[] = {0x1B, 'S', 'T'};
  BOOL result = FALSE;
  PortRecord* record = record_;
  const DWORD start = GetTickCount();

  ASSERT_TRUE(FinishesWithin(15000, [record, &command, &result] {
    result = SendPrinterCommand(record, command, sizeof command);
  }));
  const DWORD waited = GetTickCount() - start;

  EXPECT_GE(waited, 4500u);
  EXPECT_EQ(result, TRUE);
  EXPECT_EQ(emu::Received(kPort), std::string("\x1BST"));
  EXPECT_FALSE(Signalled(record_->readIdleEvent)) << "the write must not mark the read as done";
  EXPECT_TRUE(Signalled(record_->writeIdleEvent));
  SetEvent(record_->readIdleEvent);
}

struct CommandCase {
  const char* what;
  emu::Fault fault;
  BOOL expected;
  std::size_t bytesOnTheWire;
};

TEST_F(BackChannel, SendPrinterCommandIsTrueOnlyWhenEveryByteWasWritten) {
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
    EXPECT_TRUE(Signalled(record_->writeIdleEvent));
  }
}

}  // namespace
