// Document bracketing, for both faces: StartDocPort and EndDocPort around the
// device monitor's own.
//
// A document selects its printer's status key in the port's own record, keeps a
// second document off a busy port, waits for the status monitor application's
// real-time thread to finish, tells the application that a job is using the port
// (LanMonExistFlag) for as long as the document runs, and keeps the record's
// printer name and handle in step with the spooler.
//
// Each port's key is its own: a document on one port never reads or writes
// another printer's key, whatever runs on the other ports. The key selection is
// written only here, on the port's spooler thread, before the port's poller starts
// (StartDocPort) and after it has ended (EndDocPort), so the poller reads it
// without a lock. No lock is held here but for the moment a call counts itself in
// and out of its port (core/port_call.h, a lock of a few ports' chain, never
// MonitorLock): the record's printer name, handle and key belong to the port's
// spooler call, and its status word is atomic, so a port waiting on its device,
// its poller or the application never holds up another port.
//
// ClosePort or Shutdown may come while StartDocPort is still at work. Its waits
// then end at once (PS_CLOSING), and it returns: FALSE with ERROR_INVALID_HANDLE
// while no document was open yet, as any call on a closed port fails; TRUE once
// one was, which the close then ends as EndDocPort does.
#include <cassert>

#include "core/port_call.h"
#include "core/port_ops.h"
#include "port/device_calls.h"
#include "port/port_record.h"
#include "printer_status/job_start.h"
#include "printer_status/status_poller.h"
#include "status_store/status_key.h"

namespace {

// Between the device monitor's refusal of a document and our one retry.
constexpr DWORD DEVICE_DOC_RETRY_MS = 500;
// Between two reads of StRealThreadExistFlag while the application's thread runs:
// the first pause is short, so a flag that clears at once costs next to nothing,
// and each later one doubles up to the longest, so a long wait keeps a waiting
// spooler thread from costing the machine anything.
constexpr DWORD STATUS_THREAD_FIRST_PAUSE_MS = 10;
constexpr DWORD STATUS_THREAD_LONGEST_PAUSE_MS = 100;
// The longest the document waits for the application's thread. A thread that
// really talks to the printer is done long before; a flag still up after this was
// left behind by an application that crashed, was killed or lost power while
// StMonExistFlag still says it is there, and both values outlive a reboot.
constexpr DWORD STATUS_THREAD_WAIT_LIMIT_MS = 2 * 60 * 1000;

// Only while the application is there: one that closed or was removed with its
// thread flag left up has no thread talking to the printer. Asked again on every
// pass, so an application that closes meanwhile releases the wait too. One that
// died saying it is there is waited for STATUS_THREAD_WAIT_LIMIT_MS at most, timed
// from the start of the wait (an unsigned difference, right across the tick
// counter's wrap); then the document goes on. A close of the port ends it too.
void WaitWhileStatusThreadActive(PortRecord* record) {
  const StatusKey& key = record->statusKey;
  const DWORD start = GetTickCount();
  DWORD pause = STATUS_THREAD_FIRST_PAUSE_MS;
  while (IsStatusThreadActive(key) && IsStatusMonitorPresent(key) &&
         static_cast<DWORD>(GetTickCount() - start) < STATUS_THREAD_WAIT_LIMIT_MS &&
         PauseUnlessClosing(record, pause)) {
    pause = pause * 2 < STATUS_THREAD_LONGEST_PAUSE_MS ? pause * 2 : STATUS_THREAD_LONGEST_PAUSE_MS;
  }
}

// A device monitor without the entry is not asked again: the second try would
// find it missing too.
BOOL OpenDeviceDocument(PortRecord* record, SpoolerText printerName, DWORD jobId, DWORD level,
                        LPBYTE docInfo) {
  if (!HasDeviceStartDoc(record)) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  if (DeviceStartDoc(record, printerName, jobId, level, docInfo)) return TRUE;
  if (!PauseUnlessClosing(record, DEVICE_DOC_RETRY_MS)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return DeviceStartDoc(record, printerName, jobId, level, docInfo);
}

// The spooler may hand a document a printer name other than the one the port was
// opened with (the printer was renamed). The record follows it, and its printer
// handle is reopened under the new name, the old name's closed. A document
// without a name keeps the port's printer: only a name that is given is followed.
void FollowPrinterName(PortRecord* record, SpoolerText printerName) {
  if (IsNullText(printerName)) printerName = record->printerName;
  if (!SameText(record->printerName, printerName)) {
    FreeText(record->printerName);
    record->printerName = DuplicateText(printerName);
    if (record->printerHandle != nullptr) ClosePrinter(record->printerHandle);
    record->printerHandle = nullptr;
    OpenPrinterHandle(record, printerName);
  } else if (record->printerHandle == nullptr) {
    OpenPrinterHandle(record, printerName);
  }
}

}  // namespace

BOOL StartDocument(HANDLE port, SpoolerText printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
  const PortCall call(port);
  PortRecord* record = call.record;
  if (record == nullptr) return FALSE;

  // Test and set in one step. A second document while one is in progress is
  // refused and changes nothing else: the running document keeps its key, which
  // its poller may be using.
  if (record->status.fetch_or(PS_JOB_ACTIVE) & PS_JOB_ACTIVE) {
    SetLastError(ERROR_BUSY);
    return FALSE;
  }

  // The document's own printer's key: the one it names (a renamed printer, or
  // another printer object sharing the port), else the port's. No poller runs on
  // the port now: EndDocPort stopped the last one.
  SelectStatusKey(record->statusKey, IsNullText(printerName) ? record->printerName : printerName);

  // The application's real-time thread talks to the printer itself; our document
  // waits until it is done, or the application is gone, or the wait's limit has
  // passed. A value we cannot read counts as "done".
  WaitWhileStatusThreadActive(record);
  if (HasStatusBits(record, PS_CLOSING)) {
    // The port is being closed: no document starts, and the flag was never raised.
    ClearStatusBits(record, PS_JOB_ACTIVE);
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }

  SetLanMonitorFlag(record->statusKey, TRUE);

  if (!OpenDeviceDocument(record, printerName, jobId, level, docInfo)) {
    // No job uses the port after all: take the flag down again so the application
    // does not hold back for a document that never ran. The key stays selected.
    // The caller sees the device monitor's error, not whatever lowering the flag
    // set (or ours: a device monitor without the entry, a port being closed).
    DWORD deviceError = GetLastError();
    SetLanMonitorFlag(record->statusKey, FALSE);
    ClearStatusBits(record, PS_JOB_ACTIVE);
    SetLastError(deviceError);
    return FALSE;
  }

  FollowPrinterName(record, printerName);
  SetStatusBits(record, PS_DEVICE_DOC_OPEN);

  // The job-start status exchange with the printer; its outcome never fails the
  // document.
  JobStartExchange(record);

  return TRUE;
}

BOOL WINAPI EndDocPort(HANDLE port) {
  const PortCall call(port);
  if (call.record == nullptr) return FALSE;
  CloseDocument(call.record);
  return TRUE;
}

void CloseDocument(PortRecord* record) {
  // Only a document that ran raised LanMonExistFlag. After a refused StartDocPort
  // the flag is down already, and another port's document on the same printer may
  // have raised it since: it is not ours to lower.
  const bool documentRan = HasStatusBits(record, PS_JOB_ACTIVE);

  if (HasStatusBits(record, PS_POLLER_RUN)) StopStatusPoller(record);

  if (record->printerHandle != nullptr) ClosePrinter(record->printerHandle);
  record->printerHandle = nullptr;

  // Cleared before the device monitor hears of it, so no pass-through call slips
  // in after the device document is gone. The device monitor is told even when no
  // document of ours reached it; what it answers changes nothing here.
  ClearStatusBits(record, PS_DEVICE_DOC_OPEN);
  DeviceEndDoc(record);

  // Lowered in this document's key, which is then forgotten until the port's next
  // document. The poller that read the key has ended.
  if (documentRan) SetLanMonitorFlag(record->statusKey, FALSE);
  assert(record->pollerThread == nullptr);
  ClearStatusKey(record->statusKey);

  ClearStatusBits(record, PS_JOB_ACTIVE);
}
