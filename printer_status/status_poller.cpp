// The real-time status poller.
//
// One thread per port with a document on a matched printer. It sends nothing: it
// only drains what the printer says on the back channel and publishes the latest
// reply in RealTimeStatusStrings of its own port's key for the status monitor
// application. Whether it polls, and how often, follows that key's
// GetRealTimeStatusStartFlag and GetRealTimeStatusTime, re-read on every pass (at
// least every POLL_IDLE_WAIT_MS) so that the application's changes take effect at
// once.
//
// Invariants:
// - The thread only reads the record's status word; PS_POLLER_RUN is cleared by
//   StopStatusPoller, which then sets pollerStopEvent and waits for the thread to
//   end. So the record outlives the thread, and every wait here wakes on a stop.
// - The thread never takes MonitorLock, and nothing waits for it with a lock held:
//   the stop's wait for the thread holds none.
// - A poll reads only while it holds the port's back channel. While the job-start
//   exchange holds it the poll is put off, in short waits that a stop ends, and
//   runs as soon as the channel is free.
// - A poll stores a reply only when one of its reads delivered one; a poll that
//   ends empty (ten empty reads, or a stop between reads) leaves the published
//   reply as it was.
// - The record's key path is selected before the thread starts and cleared only
//   after it has ended, so the thread reads it without a lock.

#include "printer_status/status_poller.h"

#include "port/back_channel.h"
#include "status_store/status_key.h"

namespace {

bool PollerRunning(const PortRecord* record) {
  return HasStatusBits(record, PS_POLLER_RUN);
}

// Waits `ms` milliseconds, or less when the poller is told to stop; true when it
// was. Waiting on the stop event instead of sleeping (or spinning) is what lets a
// stop end a wait at once. Every record has its event: an open that cannot create
// one fails.
bool PauseUnlessStopped(PortRecord* record, DWORD ms) {
  WaitForSingleObject(record->pollerStopEvent, ms);
  return !PollerRunning(record);
}

// One poll: up to POLL_READ_ATTEMPTS reads, POLL_READ_PAUSE_MS apart, until one
// delivers something; then publish it. False, without a read, while the job-start
// exchange holds the back channel.
bool PollOnce(PortRecord* record, char (&reply)[REPLY_BUFFER_SIZE]) {
  const BackChannelClaim channel(record, CHANNEL_POLLER);
  if (!channel.held) return false;
  if (!PollerRunning(record)) return true;
  // A stop during a pause ends the poll: the read before it delivered nothing, so
  // there is nothing to store. A reply from a read that completed is stored even
  // if a stop arrived meanwhile.
  const DWORD count = ReadReplyUntil(
      record, reply, POLL_READ_ATTEMPTS,
      [](const char(&)[REPLY_BUFFER_SIZE], DWORD delivered) { return delivered != 0; },
      [record] {
        return PollerRunning(record) && !PauseUnlessStopped(record, POLL_READ_PAUSE_MS);
      });
  if (count != 0) StoreStatusString(record->statusKey, reply);
  return true;
}

}  // namespace

BOOL StartStatusPoller(PortRecord* record) {
  // Loaded here, on the spooler thread, so that missing settings are created with
  // their defaults now: were the thread's first load to create them, it could
  // write GetRealTimeStatusStartFlag 1 back over the 0 of a running ink query.
  LoadPollSettings(record->statusKey);
  // A stop of the previous poller left the event set; the new one must not see it.
  ResetEvent(record->pollerStopEvent);
  // Set before the thread exists: the thread ends itself as soon as it sees the
  // bit clear.
  SetStatusBits(record, PS_POLLER_RUN);
  DWORD id;  // Windows 95 and 98 fail CreateThread when given nowhere to put the thread id
  record->pollerThread = CreateThread(nullptr, POLLER_STACK_SIZE, StatusPoller, record, 0, &id);
  if (record->pollerThread == nullptr) {
    // No thread to stop: a later StopStatusPoller must not wait for one, and the
    // next StartDocPort may try again.
    ClearStatusBits(record, PS_POLLER_RUN);
    return TRUE;
  }
  SetThreadPriority(record->pollerThread, THREAD_PRIORITY_LOWEST);
  return TRUE;
}

DWORD WINAPI StatusPoller(LPVOID parameter) {
  auto* record = static_cast<PortRecord*>(parameter);
  // Sized for the largest reply ReadPrinterReply can deliver, so no reply is cut
  // and nothing is written past the buffer.
  char reply[REPLY_BUFFER_SIZE];
  bool timing = false;  // an interval is being timed from startTick
  DWORD startTick = 0;

  StatusKey& settings = record->statusKey;

  while (PollerRunning(record)) {
    // While the job-start exchange holds the channel, the port's copy of the
    // settings is the exchange's too: it pauses polling there. A load of ours that
    // read the registry just before that pause would put the old value back over
    // it. The exchange took the channel before this thread existed, so the test
    // cannot race with its start.
    if (record->channelOwner.load() != CHANNEL_EXCHANGE) LoadPollSettings(settings);
    if (settings.pollEnabled.load() == 0) {
      // Suspended; a pending start tick stays, so a resumed poller polls as soon as
      // the interval since it has passed.
      PauseUnlessStopped(record, POLL_IDLE_WAIT_MS);
      continue;
    }
    const DWORD interval = settings.pollInterval.load();
    if (!timing) {
      timing = true;
      startTick = GetTickCount();
    }
    // Unsigned 32-bit difference: right across the tick counter's wrap.
    const DWORD elapsed = static_cast<DWORD>(GetTickCount() - startTick);
    if (elapsed <= interval) {
      // Wake no later than the poll is due, so a poll is never late by a pause.
      const DWORD remaining = interval - elapsed;
      PauseUnlessStopped(record, remaining < POLL_IDLE_WAIT_MS ? remaining + 1 : POLL_IDLE_WAIT_MS);
      continue;
    }
    if (!PollOnce(record, reply)) {
      // The exchange holds the channel: the poll stays due.
      PauseUnlessStopped(record, POLL_IDLE_WAIT_MS);
      continue;
    }
    timing = false;
  }
  ExitThread(0);
}
