// Port records and the spooler's port open and close.
//
// Every port opened through us, by either face, has one PortRecord, and the
// record is the handle the spooler passes back on each later call. PortList owns
// the records; each record owns its printer-name copy, its printer handle, its
// poller's stop event and its poller-thread handle, and gives them all back when
// it is deleted.
//
// Invariants:
// - MonitorLock guards PortList and nothing else. It is held only while the list
//   is searched or changed: never across a call to the device monitor, to the
//   spooler (OpenPrinterA, ClosePrinter) or a wait, so one port's slow device or
//   stopping poller never holds up another port. Each port's own state is the
//   record's (see port/port_record.h).
// - OpenPortEx lists a record before it opens anything, so that the name is
//   reserved: a second open of the same name, even one racing with the first, is
//   refused as busy. Until OpenPortEx returns, the record's device port may not be
//   open yet; nobody but OpenPortEx has its handle. A failed open unlists the
//   record and gives everything back (no memory, no event, the device monitor
//   refusing the port), so the same port can be opened again at once.
// - A record is freed only after its poller thread has ended.
#include "core/port_list.h"

#include <atomic>
#include <cassert>
#include <cstring>
#include <new>

#include "core/port_call.h"
#include "core/port_ops.h"
#include "platform/wide_calls.h"
#include "port/device_calls.h"
#include "printer_status/status_poller.h"

namespace {

// Manual-reset, so that a stop stays visible to the poller until the next poller
// is started; not signalled at first.
HANDLE CreateStopEvent() {
  return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void CloseIfOpen(HANDLE handle) {
  if (handle != nullptr) CloseHandle(handle);
}

// Gives back everything the record owns, then the record. The record must be
// out of PortList already; MonitorLock is not held.
void DestroyPortRecord(PortRecord* record) {
  // Every poller runs within a document, which ClosePort ends first. Should a
  // thread still be here, it may yet read the record: it is stopped, not merely
  // waited for, so the wait ends.
  if (record->pollerThread != nullptr) StopStatusPoller(record);
  if (record->printerHandle != nullptr) ClosePrinter(record->printerHandle);
  FreeText(record->printerName);
  CloseIfOpen(record->pollerStopEvent);
  record->~PortRecord();
  LocalFree(record);
}

void AppendToPortList(PortRecord* record) {
  assert(MonitorLockHeldHere());
  PortRecord** link = &PortList;
  while (*link != nullptr) link = &(*link)->next;
  *link = record;
}

bool UnlinkFromPortList(PortRecord* record) {
  assert(MonitorLockHeldHere());
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

PortRecord* CreatePortRecord(SpoolerText portName, SpoolerText printerName) {
  // The port name lives in the same block, right behind the fixed fields, in the
  // form the face gave it.
  const DWORD charSize = portName.wide != nullptr ? sizeof(WCHAR) : sizeof(char);
  const DWORD nameSize = (TextLength(portName) + 1) * charSize;
  const DWORD size = static_cast<DWORD>(sizeof(PortRecord)) + nameSize;
  void* block = LocalAlloc(LMEM_ZEROINIT, size);
  if (block == nullptr) return nullptr;

  // Constructed in place so that the atomic status word is a live object.
  auto* record = new (block) PortRecord{};
  record->signature = PORT_SIGNATURE;
  record->size = size;
  record->next = nullptr;
  void* nameCopy = record + 1;
  if (portName.wide != nullptr) {
    std::memcpy(nameCopy, portName.wide, nameSize);
    record->portName = WideText(static_cast<LPCWSTR>(nameCopy));
  } else {
    if (portName.ansi != nullptr) std::memcpy(nameCopy, portName.ansi, nameSize);
    record->portName = AnsiText(static_cast<LPCSTR>(nameCopy));
  }

  record->pollerStopEvent = CreateStopEvent();
  if (record->pollerStopEvent == nullptr) {
    DestroyPortRecord(record);
    return nullptr;
  }

  record->printerName = DuplicateText(printerName);
  return record;
}

PortRecord* FindPortRecord(PortRecord* list, SpoolerText portName) {
  if (IsNullText(portName)) return nullptr;
  // Port names ignore letter case, as the spooler's do: "LPT1:" and "lpt1:" are
  // one port.
  for (PortRecord* record = list; record != nullptr; record = record->next) {
    const SpoolerText listed = record->portName;
    if (portName.ansi != nullptr && listed.ansi != nullptr &&
        lstrcmpiA(listed.ansi, portName.ansi) == 0) {
      return record;
    }
    if (portName.wide != nullptr && listed.wide != nullptr &&
        CompareWideIgnoringCase(listed.wide, portName.wide) == 0) {
      return record;
    }
  }
  return nullptr;
}

bool UnlistForClosing(PortRecord* record) {
  MonitorLockGuard lock;
  if (!UnlinkFromPortList(record)) return false;
  SetStatusBits(record, PS_CLOSING);
  return true;
}

BOOL DeletePortRecord(PortRecord* record) {
  {
    MonitorLockGuard lock;
    // A record we do not list is not ours to free.
    if (!UnlinkFromPortList(record)) return FALSE;
  }
  DestroyPortRecord(record);
  return TRUE;
}

BOOL OpenPortRecord(const PortOpening& opening, PHANDLE outHandle) {
  PortRecord* record = CreatePortRecord(opening.portName, opening.printerName);
  if (record == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  record->monitorInstance = opening.monitorInstance;
  if (opening.portMonitor != nullptr) {
    KeepDeviceTable(record, opening.portMonitor, opening.portMonitorInstance);
  } else {
    KeepDeviceTable(record, opening.deviceMonitor);
  }

  // Searched and listed in one step: from here on the name is ours.
  bool busy = false;
  {
    MonitorLockGuard lock;
    busy = FindPortRecord(PortList, opening.portName) != nullptr;
    if (!busy) AppendToPortList(record);
  }
  if (busy) {
    DestroyPortRecord(record);
    SetLastError(ERROR_BUSY);
    return FALSE;
  }

  // A printer the spooler cannot open leaves the handle null; StartDocPort tries
  // again with the document's printer name.
  OpenPrinterHandle(record, opening.printerName);

  if (!DeviceOpenPort(record, opening.portName)) {
    // Forget the port again, so that the next open is not refused as busy. The
    // spooler sees the device monitor's reason, not whatever freeing set.
    const DWORD deviceError = GetLastError();
    DeletePortRecord(record);
    SetLastError(deviceError);
    return FALSE;
  }

  *outHandle = record;
  return TRUE;
}

namespace {

// ClosePorts running now, counted from before they look for their port until they
// have freed it: a Shutdown that found none of its ports listed (a ClosePort took
// one first) still returns only once that close is done, since the spooler may
// unload the DLL as soon as Shutdown returns.
std::atomic<long> ClosesInProgress{0};
constexpr DWORD CLOSE_DRAIN_PAUSE_MS = 10;

// ClosePort's work on a record the caller owns. A call that was still running on
// the port has returned: its waits ended on PS_CLOSING, and WaitForPortCalls saw
// it out.
void CloseRecord(PortRecord* record) {
  WaitForPortCalls(record);
  // A document still in progress (the spooler closes ports at shutdown and when a
  // printer is deleted mid-job, even while StartDocPort is still at work) is ended
  // as EndDocPort ends it: its poller stopped, the device document ended and
  // LanMonExistFlag lowered in its key, which would otherwise stay raised across
  // reboots. A poller runs only within a document, so none reads the record or
  // the device port after this.
  if (record->status.load() & (PS_JOB_ACTIVE | PS_DEVICE_DOC_OPEN)) CloseDocument(record);

  // What the device monitor answers changes nothing: the port is gone for the
  // spooler either way.
  DeviceClose(record);
}

// Unlists and returns the first record `instance` opened, or null when none is
// left.
PortRecord* TakeInstancePort(HANDLE instance) {
  MonitorLockGuard lock;
  for (PortRecord* record = PortList; record != nullptr; record = record->next) {
    if (record->monitorInstance == instance) {
      UnlinkFromPortList(record);
      SetStatusBits(record, PS_CLOSING);
      return record;
    }
  }
  return nullptr;
}

}  // namespace

BOOL WINAPI ClosePort(HANDLE port) {
  auto* record = static_cast<PortRecord*>(port);
  // Only the close that takes the port off the list closes and frees it. A port
  // we do not list is one already closed, or one a Shutdown is closing now: it is
  // not touched, not even read.
  ClosesInProgress.fetch_add(1);
  if (UnlistForClosing(record)) {
    CloseRecord(record);
    DestroyPortRecord(record);
  }
  ClosesInProgress.fetch_sub(1);
  return TRUE;
}

void CloseInstancePorts(HANDLE instance) {
  // One record at a time, each taken off the list under the lock and closed
  // outside it: closing waits for the port's poller and calls the device monitor.
  while (PortRecord* record = TakeInstancePort(instance)) {
    CloseRecord(record);
    DestroyPortRecord(record);
  }
  while (ClosesInProgress.load() != 0) Sleep(CLOSE_DRAIN_PAUSE_MS);
}
