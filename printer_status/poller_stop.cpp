// The one way a running poller thread is stopped.
//
// The handshake: clear PS_POLLER_RUN, wake the poller if it is waiting between
// passes, then wait for its thread to end. The wait is on the thread handle
// itself, without a time limit: the poller ends itself as soon as it sees the bit
// clear (a read already in progress completes first), and nothing the poller uses
// (the record, the device port) may go away before it has. Waiting on the handle
// rather than polling the exit code costs no processor time and cannot mistake a
// thread that exited with code 259 (STILL_ACTIVE) for a live one.
//
// The poller never takes MonitorLock, and nothing calls this with a lock of ours
// held, so the wait cannot deadlock nor hold up another port.
#include "printer_status/status_poller.h"

void StopStatusPoller(PortRecord* record) {
  ClearStatusBits(record, PS_POLLER_RUN);
  if (record->pollerStopEvent != nullptr) SetEvent(record->pollerStopEvent);
  if (record->pollerThread != nullptr) {
    WaitForSingleObject(record->pollerThread, INFINITE);
    CloseHandle(record->pollerThread);
    record->pollerThread = nullptr;
  }
}
