// The printer-status work at the start of a job, run by StartDocPort once the
// device document is open.
//
// For a printer that identifies as the maker's registered model, and only while
// the status monitor application is present: send the model's status command and,
// if every byte of it went out, start the poller. For the one model that reports
// ink levels, also read the status reply, ask for the ink levels and publish the
// answer in InkLevel.
//
// Everything here reads and writes only this port's own key and model.
//
// Nothing here fails StartDocPort: every failure only skips the rest of the work.
// Its pauses end when the port is being closed, and the exchange with them.
// The exchange runs with no poller on the port (EndDocPort stopped the last one,
// and a second document on the port is refused), and it holds the port's back
// channel from before it starts the poller to its end, so the new poller reads
// nothing until the exchange is done, whatever the application writes meanwhile.
// The ink query also pauses polling in the registry (GetRealTimeStatusStartFlag
// 0), which the application sees; afterwards the earlier value goes back only if
// the flag still holds that 0. So a non-zero value the application wrote during
// the query stands, while a 0 it wrote is overwritten: the registry cannot tell
// that 0 from the query's own.

#include "printer_status/job_start.h"

#include <cstring>

#include "port/back_channel.h"
#include "printer_status/device_id.h"
#include "printer_status/remote_commands.h"
#include "printer_status/status_poller.h"
#include "status_store/status_key.h"

namespace {

constexpr DWORD REPLY_TRIES = 10;
constexpr DWORD REPLY_PAUSE_MS = 500;
// Where a status reply says the printer is ready for the ink query.
constexpr DWORD INK_READY_OFFSET = 12;
constexpr char INK_READY[] = "04";

// Sends the registered model's status command; TRUE only if all of it was written.
BOOL SendStatusCommand(PortRecord* record) {
  char model[REGISTERED_MODEL_SIZE];
  if (!ReadRegisteredModel(record->statusKey, model)) return FALSE;
  const StatusCommand& command = ChooseStatusCommand(model);
  return SendPrinterCommand(record, command.data(), static_cast<DWORD>(command.size()));
}

// Up to REPLY_TRIES reads, until a reply arrives whose first byte is set. A reply
// starting with NUL counts as none: the buffer is zeroed before each read, so that
// is all an empty read leaves behind.
bool ReadStatusReply(PortRecord* record, char (&reply)[REPLY_BUFFER_SIZE]) {
  return ReadReplyUntil(
             record, reply, REPLY_TRIES,
             [](const char(&read)[REPLY_BUFFER_SIZE], DWORD) { return read[0] != '\0'; },
             [record] { return PauseUnlessClosing(record, REPLY_PAUSE_MS); }) != 0;
}

bool ReadyForInkQuery(const char (&statusReply)[REPLY_BUFFER_SIZE]) {
  return std::memcmp(statusReply + INK_READY_OFFSET, INK_READY, sizeof INK_READY - 1) == 0;
}

// Up to REPLY_TRIES reads, after a pause that gives the printer time to answer,
// until a reply containing the ink marker arrives; returns its length, or 0.
DWORD ReadInkReply(PortRecord* record, char (&reply)[REPLY_BUFFER_SIZE]) {
  if (!PauseUnlessClosing(record, REPLY_PAUSE_MS)) return 0;
  return ReadReplyUntil(
      record, reply, REPLY_TRIES,
      [](const char(&read)[REPLY_BUFFER_SIZE], DWORD count) {
        return count != 0 &&
               ReplyContains(INK_REPLY_MARKER, INK_REPLY_MARKER_LENGTH, read, count) != FALSE;
      },
      [record] { return PauseUnlessClosing(record, REPLY_PAUSE_MS); });
}

void QueryInkLevel(PortRecord* record) {
  StatusKey& key = record->statusKey;
  LoadPollSettings(key);
  const DWORD saved = key.pollEnabled.load();
  SetPollEnabled(key, 0);

  char reply[REPLY_BUFFER_SIZE];
  if (ReadStatusReply(record, reply) && ReadyForInkQuery(reply) &&
      SendPrinterCommand(record, InkQueryCommand.data(),
                         static_cast<DWORD>(InkQueryCommand.size()))) {
    const DWORD count = ReadInkReply(record, reply);
    if (count != 0) {
      StripInkLengthBytes(reply, count);
      StoreInkLevel(key, reply);
    }
  }

  LoadPollSettings(key);
  if (key.pollEnabled.load() == 0) SetPollEnabled(key, saved);
}

}  // namespace

void JobStartExchange(PortRecord* record) {
  // Set only by a status command written in full in this very exchange: the ink
  // query follows only the status reply it asked for.
  BOOL sent = FALSE;
  // Taken before this document's poller exists; no other poller runs on the port,
  // so the channel is always free here.
  const BackChannelClaim channel(record, CHANNEL_EXCHANGE);

  if (IdentifyPrinter(record)) {
    SetStatusBits(record, PS_PRINTER_MATCHED);
    if (IsStatusMonitorPresent(record->statusKey)) {
      sent = SendStatusCommand(record);
      if (sent) StartStatusPoller(record);
    }
  } else {
    // No poller can be running here: EndDocPort stopped the last one and a second
    // document on the port is refused.
    ClearStatusBits(record, PS_PRINTER_MATCHED | PS_POLLER_RUN);
  }

  // The order of the tests matters: asking whether the application is present
  // writes its flag's default back when the value is missing.
  if (!HasStatusBits(record, PS_PRINTER_MATCHED) || !IsStatusMonitorPresent(record->statusKey)) {
    return;
  }
  if (lstrcmpA(record->modelName, INK_REPORTING_MODEL) == 0 && sent) QueryInkLevel(record);
}
