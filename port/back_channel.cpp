// The monitor's own exchange with the printer over the port: a command out
// (SendPrinterCommand), the printer's queued replies back (ReadPrinterReply).
//
// Neither waits for anything but the device monitor, and neither takes a lock:
// the caller holds the port's back channel (ClaimBackChannel), which keeps the
// job-start exchange and the poller apart, and each of them writes and reads one
// after the other on its own thread.
//
// Reply sizes: every destination holds REPLY_BUFFER_SIZE (2048) bytes, which the
// parameter's array type enforces. A read asks for at most REPLY_CHUNK_SIZE
// (2047) bytes, so the largest reply we can deliver, one full chunk, fits with
// its terminator.
#include "port/back_channel.h"

#include <cstring>

#include "port/device_calls.h"
#include "port/device_read.h"

bool ClaimBackChannel(PortRecord* record, DWORD owner) {
  DWORD expected = CHANNEL_FREE;
  return record->channelOwner.compare_exchange_strong(expected, owner);
}

void ReleaseBackChannel(PortRecord* record) {
  record->channelOwner.store(CHANNEL_FREE);
}

BOOL SendPrinterCommand(PortRecord* record, const BYTE* bytes, DWORD length) {
  if (!HasStatusBits(record, PS_DEVICE_DOC_OPEN)) return FALSE;

  DWORD written = 0;
  // Straight to the device monitor, not through WritePort. The table's write slot
  // takes a writable buffer, but a write only reads it.
  DeviceWrite(record, const_cast<LPBYTE>(bytes), length, &written);
  return written == length;
}

DWORD ReadPrinterReply(PortRecord* record, char (&dest)[REPLY_BUFFER_SIZE], DWORD* outCount) {
  if (!HasStatusBits(record, PS_DEVICE_DOC_OPEN)) return 0;
  // Only the poller's drain is ended by a stop; the channel's holder cannot
  // change while we read on its behalf.
  const bool forPoller = record->channelOwner.load() == CHANNEL_POLLER;

  // Drain what the printer has queued and keep the last non-empty chunk: a full
  // chunk means more may be waiting, so another read follows, and the most recent
  // reply is the one that counts. When that next read finds nothing, the full
  // chunk before it is the reply, not the empty read. The drain stops after
  // MAX_REPLY_CHUNKS reads even while chunks keep coming full, so a back channel
  // that never runs dry cannot hold us here, and a poller's drain after the chunk
  // in hand once the poller is told to stop.
  char scratch[REPLY_BUFFER_SIZE];
  // The last non-empty chunk, copied out of scratch at once so that an empty read
  // that scribbles on its buffer cannot spoil it, and kept apart from `dest` so
  // that only that one chunk reaches the caller, nothing of the chunks before it.
  char last[REPLY_BUFFER_SIZE];
  DWORD delivered = 0;
  DWORD count = 0;
  DWORD chunks = 0;
  do {
    count = 0;
    ReadFromDevice(record, reinterpret_cast<LPBYTE>(scratch), REPLY_CHUNK_SIZE, &count);
    // A device monitor that claims more than it was asked for must not make us
    // write past the chunk.
    if (count > REPLY_CHUNK_SIZE) count = REPLY_CHUNK_SIZE;
    if (count != 0) {
      std::memcpy(last, scratch, count);
      delivered = count;
    }
  } while (count == REPLY_CHUNK_SIZE && ++chunks < MAX_REPLY_CHUNKS &&
           !(forPoller && !HasStatusBits(record, PS_POLLER_RUN)));

  if (delivered != 0) std::memcpy(dest, last, delivered);
  dest[delivered] = '\0';
  *outCount = delivered;
  return delivered;
}
