// Spooler calls counted in and out of their port (core/port_call.h).
#include "core/port_call.h"

#include "core/port_table.h"

namespace {
// Between two looks at what a close waits for: a call that is still running waits
// on its device monitor, which takes its own time.
constexpr DWORD CLOSE_WAIT_PAUSE_MS = 10;
}  // namespace

PortCall::PortCall(HANDLE port) : record(CountCallIn(port)) {
  if (record == nullptr) SetLastError(ERROR_INVALID_HANDLE);
}

PortCall::~PortCall() {
  if (record != nullptr) record->callsInProgress.fetch_sub(1);
}

void PauseBeforeLookingAgain() {
  Sleep(CLOSE_WAIT_PAUSE_MS);
}

void WaitForPortCalls(PortRecord* record) {
  WaitUntilDone([record] { return record->callsInProgress.load() == 0; });
}
