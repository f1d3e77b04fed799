// The one way a running poller thread is stopped.
//
// The handshake: clear PS_POLLER_RUN, wake the poller if it is waiting between
// passes, raise it to normal priority, then wait for its thread to end. The
// poller runs at the lowest priority; on a busy machine a thread left there would
// get the processor only after every other program, and the spooler thread waits
// for it in EndDocPort or ClosePort. The wait is on the thread handle itself,
// without a time limit: the poller ends itself as soon as it sees the bit clear,
// and nothing the poller uses (the record, the device port) may go away before it
// has. So a stop lasts at most as long as the device monitor's read in progress
// when it came: the poller's pauses and its channel waits end at once, and its
// drain ends after the chunk in hand. Waiting on the handle rather than polling
// the exit code costs no processor time and cannot mistake a thread that exited
// with code 259 (STILL_ACTIVE) for a live one.
//
// The poller never takes MonitorLock, and nothing calls this with a lock of ours
// held, so the wait cannot deadlock nor hold up another port.
#include "printer_status/status_poller.h"

void StopStatusPoller(PortRecord* record) {
  ClearStatusBits(record, PS_POLLER_RUN);
  SetEvent(record->pollerStopEvent);
  if (record->pollerThread != nullptr) {
    SetThreadPriority(record->pollerThread, THREAD_PRIORITY_NORMAL);
    WaitForSingleObject(record->pollerThread, INFINITE);
    CloseHandle(record->pollerThread);
    record->pollerThread = nullptr;
  }
}
