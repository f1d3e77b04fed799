// The monitor's own exchange with the printer over the port: commands out,
// replies back. Used by the job-start exchange and the status poller.
#pragma once

#include "monitor/port_record.h"

// Every reply buffer handed to ReadPrinterReply holds this many bytes: the largest
// reply it can deliver (2047 bytes, one full read chunk) plus its terminator. The
// array-reference parameter makes the compiler hold every caller to it.
constexpr DWORD REPLY_BUFFER_SIZE = 2048;
// The most a single read asks of the device monitor, so a chunk always has room
// for its terminator in a REPLY_BUFFER_SIZE buffer.
constexpr DWORD REPLY_CHUNK_SIZE = REPLY_BUFFER_SIZE - 1;
// How long a command write waits for a running reply read to finish.
constexpr DWORD READ_IDLE_WAIT_MS = 5000;

// Writes `length` bytes straight to the device monitor; TRUE only if all of them
// were written. FALSE at once when no device document is open.
BOOL SendPrinterCommand(PortRecord* record, const BYTE* bytes, DWORD length);

// Drains everything the printer has queued and delivers the last non-empty chunk
// into `dest`, NUL-terminated; returns its length (0 when nothing was read). With
// no device document open it returns 0 and leaves `dest` and `*outCount` alone.
DWORD ReadPrinterReply(PortRecord* record, char (&dest)[REPLY_BUFFER_SIZE], DWORD* outCount);
