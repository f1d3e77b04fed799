// Port records and the spooler's port open and close.
//
// Every port opened through us has one PortRecord, and the record is the handle
// the spooler passes back on each later call. PortList owns the records; each
// record owns its printer-name copy, its printer handle, its three events and its
// poller-thread handle, and gives them all back when it is deleted.
//
// Invariants:
// - PortList is read and changed only with MonitorLock held.
// - A listed record is complete: its events exist and its device port is open.
//   Every failure on the way there (no memory, no event, the device monitor
//   refusing the port) leaves nothing listed and nothing allocated, so the same
//   port can be opened again at once.
// - A record is freed only after its poller thread has ended.
#include "monitor/port_list.h"

#include <cassert>
#include <new>

#include "monitor/monitor.h"
#include "printer_status/status_poller.h"

namespace {

// Manual-reset, so that every waiter sees the state until it is changed on
// purpose. The two idle events start signalled: no read or write runs yet, and
// ReadPrinterReply waits for writeIdleEvent without a time limit.
HANDLE CreateManualEvent(BOOL signalled) {
  return CreateEventA(nullptr, TRUE, signalled, nullptr);
}

void CloseIfOpen(HANDLE handle) {
  if (handle != nullptr) CloseHandle(handle);
}

// Gives back everything the record owns, then the record. The record must be
// out of PortList already.
void DestroyPortRecord(PortRecord* record) {
  // Only StopStatusPoller ends a poller, and it forgets the handle when the
  // thread is gone. A handle still here belongs to a thread that may yet read the
  // record, so the record outlives it.
  assert(record->pollerThread == nullptr && !HasStatusBits(record, PS_POLLER_RUN));
  if (record->pollerThread != nullptr) {
    WaitForSingleObject(record->pollerThread, INFINITE);
    CloseHandle(record->pollerThread);
  }
  if (record->printerHandle != nullptr) ClosePrinter(record->printerHandle);
  FreeString(record->printerName);
  CloseIfOpen(record->readIdleEvent);
  CloseIfOpen(record->writeIdleEvent);
  CloseIfOpen(record->pollerStopEvent);
  record->~PortRecord();
  LocalFree(record);
}

void AppendToPortList(PortRecord* record) {
  PortRecord** link = &PortList;
  while (*link != nullptr) link = &(*link)->next;
  *link = record;
}

bool UnlinkFromPortList(PortRecord* record) {
  for (PortRecord** link = &PortList; *link != nullptr; link = &(*link)->next) {
    if (*link == record) {
      *link = record->next;
      record->next = nullptr;
      return true;
    }
  }
  return false;
}

}  // namespace

PortRecord* CreatePortRecord(LPSTR portName, LPSTR printerName) {
  assert(MonitorLockHeldHere());
  // The port name lives in the same block, right behind the fixed fields.
  const DWORD nameSize = static_cast<DWORD>(lstrlenA(portName)) + 1;
  const DWORD size = static_cast<DWORD>(sizeof(PortRecord)) + nameSize;
  void* block = LocalAlloc(LMEM_ZEROINIT, size);
  if (block == nullptr) return nullptr;

  // Constructed in place so that the atomic status word is a live object.
  auto* record = new (block) PortRecord{};
  record->signature = PORT_SIGNATURE;
  record->size = size;
  record->next = nullptr;
  record->portName = reinterpret_cast<LPSTR>(record + 1);
  lstrcpyA(record->portName, portName);

  record->readIdleEvent = CreateManualEvent(TRUE);
  record->writeIdleEvent = CreateManualEvent(TRUE);
  record->pollerStopEvent = CreateManualEvent(FALSE);
  if (record->readIdleEvent == nullptr || record->writeIdleEvent == nullptr ||
      record->pollerStopEvent == nullptr) {
    DestroyPortRecord(record);
    return nullptr;
  }

  record->printerName = DuplicateString(printerName);
  // A printer the spooler cannot open leaves the handle null; StartDocPort tries
  // again with the document's printer name.
  OpenPrinterA(printerName, &record->printerHandle, nullptr);

  AppendToPortList(record);
  return record;
}

PortRecord* FindPortRecord(PortRecord* list, LPCSTR portName) {
  if (portName == nullptr) return nullptr;
  // Port names ignore letter case, as the spooler's do: "LPT1:" and "lpt1:" are
  // one port.
  for (PortRecord* record = list; record != nullptr; record = record->next) {
    if (lstrcmpiA(record->portName, portName) == 0) return record;
  }
  return nullptr;
}

BOOL DeletePortRecord(PortRecord* record) {
  assert(MonitorLockHeldHere());
  // A record we do not list is not ours to free.
  if (!UnlinkFromPortList(record)) return FALSE;
  DestroyPortRecord(record);
  return TRUE;
}

BOOL WINAPI OpenPortEx(LPSTR portName, LPSTR printerName, PHANDLE outHandle,
                       LPMONITOR deviceMonitor) {
  MonitorLockGuard lock;

  if (FindPortRecord(PortList, portName) != nullptr) {
    SetLastError(ERROR_BUSY);
    return FALSE;
  }

  PortRecord* record = CreatePortRecord(portName, printerName);
  if (record == nullptr) return FALSE;

  if (!deviceMonitor->pfnOpenPort(portName, &record->devicePort)) {
    // Forget the port again, so that the next open is not refused as busy. The
    // spooler sees the device monitor's reason, not whatever freeing set.
    const DWORD deviceError = GetLastError();
    DeletePortRecord(record);
    SetLastError(deviceError);
    return FALSE;
  }

  *outHandle = record;
  record->deviceMonitor = *deviceMonitor;
  return TRUE;
}

BOOL WINAPI ClosePort(HANDLE port) {
  auto* record = static_cast<PortRecord*>(port);

  // A running poller reads the record and the device port: it must be gone
  // before either goes. Only then is a device document still open closed, so that
  // the device port is closed with no document on it.
  if (HasStatusBits(record, PS_POLLER_RUN)) {
    StopStatusPoller(record);
    if (HasStatusBits(record, PS_DEVICE_DOC_OPEN)) {
      ClearStatusBits(record, PS_DEVICE_DOC_OPEN);
      record->deviceMonitor.pfnEndDocPort(record->devicePort);
    }
  }

  // What the device monitor answers changes nothing: the port is gone for the
  // spooler either way.
  record->deviceMonitor.pfnClosePort(record->devicePort);

  {
    MonitorLockGuard lock;
    DeletePortRecord(record);
  }
  return TRUE;
}
