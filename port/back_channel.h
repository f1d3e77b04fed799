// The monitor's own exchange with the printer over the port: commands out,
// replies back. Used by the job-start exchange and the status poller.
#pragma once

#include <cstring>

#include "port/port_record.h"

// Every reply buffer handed to ReadPrinterReply holds this many bytes: the largest
// reply it can deliver (2047 bytes, one full read chunk) plus its terminator. The
// array-reference parameter makes the compiler hold every caller to it.
constexpr DWORD REPLY_BUFFER_SIZE = 2048;
// The most a single read asks of the device monitor, so a chunk always has room
// for its terminator in a REPLY_BUFFER_SIZE buffer.
constexpr DWORD REPLY_CHUNK_SIZE = REPLY_BUFFER_SIZE - 1;
// The most chunks one reply read drains. A printer or device monitor whose back
// channel never runs dry would otherwise keep the read going for good, and with it
// the poller (which then never sees its stop) or the spooler thread.
constexpr DWORD MAX_REPLY_CHUNKS = 64;

// Who holds a port's back channel (PortRecord::channelOwner). The job-start
// exchange holds it from before it starts the poller until it ends, a poll for
// its reads; so the poller never reads while the exchange runs, whatever the
// status application writes meanwhile. Each holder is one thread doing one thing
// at a time, so a holder's writes and reads never overlap either.
constexpr DWORD CHANNEL_FREE = 0;
constexpr DWORD CHANNEL_EXCHANGE = 1;
constexpr DWORD CHANNEL_POLLER = 2;

// Takes the channel for `owner` if it is free; never waits. True when taken.
bool ClaimBackChannel(PortRecord* record, DWORD owner);
// Gives back a channel taken by ClaimBackChannel.
void ReleaseBackChannel(PortRecord* record);

// Holds the channel, if it could be taken, for the guard's scope.
struct BackChannelClaim {
  BackChannelClaim(PortRecord* claimed, DWORD owner)
      : record(claimed), held(ClaimBackChannel(claimed, owner)) {}
  ~BackChannelClaim() {
    if (held) ReleaseBackChannel(record);
  }
  BackChannelClaim(const BackChannelClaim&) = delete;
  BackChannelClaim& operator=(const BackChannelClaim&) = delete;

  PortRecord* record;
  const bool held;
};

// Writes `length` bytes straight to the device monitor; TRUE only if all of them
// were written. FALSE at once when no device document is open.
BOOL SendPrinterCommand(PortRecord* record, const BYTE* bytes, DWORD length);

// Drains what the printer has queued (at most MAX_REPLY_CHUNKS chunks) and
// delivers the last non-empty chunk alone into `dest`, NUL-terminated; returns its
// length (0 when nothing was read, with dest[0] NUL). Bytes of `dest` behind the
// terminator stay as the caller left them. With no device document open it
// returns 0 and leaves `dest` and `*outCount` alone. A drain for a poll (the
// poller holds the channel) also ends between two chunks once PS_POLLER_RUN is
// clear, so a talkative printer cannot hold up a stop; the job-start exchange is
// not stopped that way.
DWORD ReadPrinterReply(PortRecord* record, char (&dest)[REPLY_BUFFER_SIZE], DWORD* outCount);

// Reads replies until one is accepted: at most `reads` reads, each into a zeroed
// `reply`, with `pause()` between two of them. `accept(reply, count)` decides
// whether a read delivered what the caller waits for; a pause that returns false
// (the caller was told to stop) ends the attempts. Returns the accepted reply's
// count, or 0 when none was accepted.
template <typename Accept, typename Pause>
DWORD ReadReplyUntil(PortRecord* record, char (&reply)[REPLY_BUFFER_SIZE], DWORD reads,
                     Accept accept, Pause pause) {
  for (DWORD read = 1;; ++read) {
    std::memset(reply, 0, sizeof reply);
    DWORD count = 0;
    ReadPrinterReply(record, reply, &count);
    if (accept(static_cast<const char(&)[REPLY_BUFFER_SIZE]>(reply), count)) return count;
    if (read >= reads || !pause()) return 0;
  }
}
