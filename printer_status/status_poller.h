// The real-time status poller: one low-priority thread per port with a document
// on a matched printer, draining the back channel and publishing the latest reply.
#pragma once

#include "port/port_record.h"

constexpr SIZE_T POLLER_STACK_SIZE = 0x4000;
constexpr DWORD POLL_READ_ATTEMPTS = 10;
constexpr DWORD POLL_READ_PAUSE_MS = 500;
// The longest pause between two passes of the wait loop, so between two reads of
// the poll settings: a changed setting takes effect within this time, and a stop
// ends the pause at once (it waits on the stop event). Short enough to feel
// immediate, long enough that a waiting poller costs next to nothing even when
// dozens of ports print at once.
constexpr DWORD POLL_IDLE_WAIT_MS = 50;

// Loads the port's poll settings (creating missing defaults in its key) and starts
// the poller thread with PS_POLLER_RUN set. TRUE always; without a thread the bit
// is clear again.
BOOL StartStatusPoller(PortRecord* record);
// Clears PS_POLLER_RUN, wakes the poller, waits until its thread has ended and
// closes the thread handle.
void StopStatusPoller(PortRecord* record);
DWORD WINAPI StatusPoller(LPVOID record);
