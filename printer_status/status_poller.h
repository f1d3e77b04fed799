// The real-time status poller: one low-priority thread per port with a document
// on a matched printer, draining the back channel and publishing the latest reply.
#pragma once

#include "monitor/port_record.h"

constexpr SIZE_T POLLER_STACK_SIZE = 0x4000;
constexpr DWORD POLL_READ_ATTEMPTS = 10;
constexpr DWORD POLL_READ_PAUSE_MS = 500;
// The longest pause between two passes of the wait loop, so between two reads of
// the poll settings: a changed setting takes effect within this time, and a stop
// ends the pause at once (it waits on the stop event). Short enough to feel
// immediate, long enough that a waiting poller costs next to nothing even when
// dozens of ports print at once.
constexpr DWORD POLL_IDLE_WAIT_MS = 50;

BOOL StartStatusPoller(PortRecord* record);
DWORD WINAPI StatusPoller(LPVOID record);
