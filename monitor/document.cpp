// Document bracketing: StartDocPort and EndDocPort around the device monitor's own.
//
// A document makes its printer's status key current, keeps a second document off a
// busy port, waits for the status monitor application's real-time thread to finish,
// tells the application that a job is using the port (LanMonExistFlag) for as long
// as the document runs, and keeps the record's printer name and handle in step with
// the spooler. The status key is module-wide: the latest StartDocPort on any port
// decides which printer's key is current, and any EndDocPort clears it.
#include "monitor/monitor.h"
#include "monitor/port_record.h"
#include "printer_status/job_start.h"
#include "status_store/status_key.h"

namespace {

// Between the device monitor's refusal of a document and our one retry.
constexpr DWORD DEVICE_DOC_RETRY_MS = 500;
// Between two reads of StRealThreadExistFlag while the application's thread runs.
// The wait itself has no limit; the pause only keeps a waiting spooler thread from
// spinning a core.
constexpr DWORD STATUS_THREAD_POLL_MS = 10;

bool SamePrinterName(LPCSTR first, LPCSTR second) {
  if (first == nullptr || second == nullptr) return first == second;
  return lstrcmpA(first, second) == 0;
}

BOOL OpenDeviceDocument(PortRecord* record, LPSTR printerName, DWORD jobId, DWORD level,
                        LPBYTE docInfo) {
  auto start = record->deviceMonitor.pfnStartDocPort;
  if (start(record->devicePort, printerName, jobId, level, docInfo)) return TRUE;
  Sleep(DEVICE_DOC_RETRY_MS);
  return start(record->devicePort, printerName, jobId, level, docInfo);
}

// The spooler may hand a document a printer name other than the one the port was
// opened with (the printer was renamed). The record follows it, and its printer
// handle is reopened under the new name.
void FollowPrinterName(PortRecord* record, LPSTR printerName) {
  if (!SamePrinterName(record->printerName, printerName)) {
    MonitorLockGuard lock;
    FreeString(record->printerName);
    record->printerName = DuplicateString(printerName);
    if (record->printerHandle != nullptr) ClosePrinter(record->printerHandle);
    record->printerHandle = nullptr;
    if (printerName != nullptr) OpenPrinterA(printerName, &record->printerHandle, nullptr);
  } else if (record->printerHandle == nullptr && printerName != nullptr) {
    OpenPrinterA(printerName, &record->printerHandle, nullptr);
  }
}

}  // namespace

BOOL WINAPI StartDocPort(HANDLE port, LPSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
  auto* record = static_cast<PortRecord*>(port);

  // The key follows the name the port was opened with (or the last document's):
  // a renamed printer's new key is used from its next document on. Even a refused
  // call below makes this key current.
  SelectStatusKey(record->printerName);

  // Test and set in one step, so that two spooler threads cannot both start a
  // document on the same port.
  if (record->status.fetch_or(PS_JOB_ACTIVE) & PS_JOB_ACTIVE) {
    SetLastError(ERROR_BUSY);
    return FALSE;
  }

  // The application's real-time thread talks to the printer itself; our document
  // waits until it is done, however long that takes. A value we cannot read counts
  // as "done".
  while (IsStatusThreadActive()) Sleep(STATUS_THREAD_POLL_MS);

  {
    MonitorLockGuard lock;
    SetLanMonitorFlag(TRUE);
  }

  if (!OpenDeviceDocument(record, printerName, jobId, level, docInfo)) {
    // No job uses the port after all: take the flag down again so the application
    // does not hold back for a document that never ran. The status key stays
    // current. The caller sees the device monitor's error, not ours.
    DWORD deviceError = GetLastError();
    {
      MonitorLockGuard lock;
      SetLanMonitorFlag(FALSE);
    }
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
  auto* record = static_cast<PortRecord*>(port);
  MonitorLockGuard lock;

  // The poller never takes MonitorLock, so waiting for it here cannot deadlock.
  if (HasStatusBits(record, PS_POLLER_RUN)) StopStatusPoller(record);

  if (record->printerHandle != nullptr) ClosePrinter(record->printerHandle);
  record->printerHandle = nullptr;

  // Cleared before the device monitor hears of it, so no pass-through call slips
  // in after the device document is gone. The device monitor is told even when no
  // document of ours reached it; what it answers changes nothing here.
  ClearStatusBits(record, PS_DEVICE_DOC_OPEN);
  record->deviceMonitor.pfnEndDocPort(record->devicePort);

  // Lowered while the key is still current; afterwards no key is current for any
  // port until the next StartDocPort.
  SetLanMonitorFlag(FALSE);
  ClearStatusKey();

  ClearStatusBits(record, PS_JOB_ACTIVE);
  return TRUE;
}
