// The real-time status poller: one low-priority thread per port with a document
// on a matched printer, draining the back channel and publishing the latest reply.
#pragma once

#include "monitor/port_record.h"

constexpr SIZE_T POLLER_STACK_SIZE = 0x4000;
constexpr DWORD POLL_READ_ATTEMPTS = 10;
constexpr DWORD POLL_READ_PAUSE_MS = 500;
constexpr DWORD POLL_IDLE_WAIT_MS = 10;  // pause between passes of the wait loop

BOOL StartStatusPoller(PortRecord* record);
DWORD WINAPI StatusPoller(LPVOID record);
