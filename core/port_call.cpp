// Spooler calls counted in and out of their port (core/port_call.h).
#include "core/port_call.h"

#include "core/port_list.h"

namespace {
// Between two looks at a closing port's calls in progress: a call that is still
// running waits on its device monitor, which takes its own time.
constexpr DWORD CALL_DRAIN_PAUSE_MS = 10;
}  // namespace

PortCall::PortCall(HANDLE port) : record(nullptr) {
  {
    MonitorLockGuard lock;
    for (PortRecord* listed = PortList; listed != nullptr; listed = listed->next) {
      if (listed == port) {
        listed->callsInProgress.fetch_add(1);
        record = listed;
        break;
      }
    }
  }
  if (record == nullptr) SetLastError(ERROR_INVALID_HANDLE);
}

PortCall::~PortCall() {
  if (record != nullptr) record->callsInProgress.fetch_sub(1);
}

void WaitForPortCalls(PortRecord* record) {
  while (record->callsInProgress.load() != 0) Sleep(CALL_DRAIN_PAUSE_MS);
}
