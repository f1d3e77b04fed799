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
// How long a command write waits for a running reply read to finish.
constexpr DWORD READ_IDLE_WAIT_MS = 5000;
// The most chunks one reply read drains. A printer or device monitor whose back
// channel never runs dry would otherwise keep the read going for good, and with it
// the poller (which then never sees its stop) or the spooler thread.
constexpr DWORD MAX_REPLY_CHUNKS = 64;

// Writes `length` bytes straight to the device monitor; TRUE only if all of them
// were written. FALSE at once when no device document is open.
BOOL SendPrinterCommand(PortRecord* record, const BYTE* bytes, DWORD length);

// Drains what the printer has queued (at most MAX_REPLY_CHUNKS chunks) and
// delivers the last non-empty chunk alone into `dest`, NUL-terminated; returns its
// length (0 when nothing was read, with dest[0] NUL). Bytes of `dest` behind the
// terminator stay as the caller left them. With no device document open it
// returns 0 and leaves `dest` and `*outCount` alone.
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
