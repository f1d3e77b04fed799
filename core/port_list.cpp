// Port records and the spooler's port open and close.
//
// Every port opened through us, by either face, has one PortRecord, and the
// record is the handle the spooler passes back on each later call. Each record
// owns its printer-name copy, its printer handle, its poller's stop event and
// its poller-thread handle, and gives them all back when it is freed.
//
// Invariants:
// - Two indexes hold the records. PortList (core/port_list.h, under MonitorLock)
//   has the ports by name while they are open: an open searches it, a close takes
//   the record off it. The port table (core/port_table.h, under a lock per chain)
//   has them by handle from their open until they are freed: every call finds its
//   port there. Neither lock is ever held across a call to the device monitor, to
//   the spooler or a wait, so one port's slow device or stopping poller never holds
//   up another port.
// - OpenPortEx lists a record before it opens anything, so that the name is
//   reserved: a second open of the same name, even one racing with the first, is
//   refused as busy. From then on the open is a call in progress on the port, and
//   a close may take the record meanwhile: a Shutdown of its instance, or a
//   ClosePort with the handle before the open handed it out. Such a close waits
//   for the open, which then closes the device port it opened and fails with
//   ERROR_INVALID_HANDLE. A failed open takes its record off the list and gives
//   everything back (no memory, no event, the device monitor refusing the port),
//   so the same port can be opened again at once.
// - Only the close that takes a port off the list closes and frees it, once every
//   call on it has left and its poller has ended. The device monitor's ClosePort
//   is called only for a device port it opened.
#include "core/port_list.h"

#include <cassert>
#include <cstring>
#include <new>

#include "core/port_call.h"
#include "core/port_ops.h"
#include "core/port_table.h"
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

// Gives back everything the record owns, then the record. The record must be off
// PortList already, and no call may be in progress on it; no lock is held.
void DestroyPortRecord(PortRecord* record) {
  // Every poller runs within a document, which a close ends first. Should a
  // thread still be here, it may yet read the record: it is stopped, not merely
  // waited for, so the wait ends.
  if (record->pollerThread != nullptr) StopStatusPoller(record);
  if (record->printerHandle != nullptr) ClosePrinter(record->printerHandle);
  FreeText(record->printerName);
  CloseIfOpen(record->pollerStopEvent);
  // Out of the table before the block goes, so that a ClosePort waiting for this
  // port to be closed sees it gone; the instance is told last, as its Shutdown may
  // return as soon as its count reaches zero.
  RemoveFromPortTable(record);
  MonitorInstance* instance = record->monitorInstance;
  record->~PortRecord();
  LocalFree(record);
  if (instance != nullptr) instance->portsAlive.fetch_sub(1);
}

void AppendToPortList(PortRecord* record) {
  assert(MonitorLockHeldHere());
  PortRecord** link = &PortList;
  while (*link != nullptr) link = &(*link)->next;
  *link = record;
}

// Unlinks the record at *link and marks it closing. MonitorLock is held.
PortRecord* TakeListed(PortRecord** link) {
  assert(MonitorLockHeldHere());
  PortRecord* record = *link;
  *link = record->next;
  record->next = nullptr;
  MarkClosing(record);
  return record;
}

// ClosePort's work on a record the caller took. A call that was still running on
// the port has returned: its waits ended on PS_CLOSING, and WaitForPortCalls saw
// it out. Only then is the port's document ended, since the call may still have
// been using the device document.
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
  if (record->devicePortOpen) DeviceClose(record);
  record->devicePortOpen = false;
  DestroyPortRecord(record);
}

// Takes every port `instance` opened off the list, marked closing, in one pass,
// and refuses its later opens. The records come back chained through `next`.
PortRecord* TakeInstancePorts(MonitorInstance* instance) {
  MonitorLockGuard lock;
  instance->shutDown = true;
  PortRecord* taken = nullptr;
  PortRecord** tail = &taken;
  for (PortRecord** link = &PortList; *link != nullptr;) {
    if ((*link)->monitorInstance != instance) {
      link = &(*link)->next;
      continue;
    }
    *tail = TakeListed(link);
    tail = &(*tail)->next;
  }
  return taken;
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

PortRecord* FindPortRecord(PortRecord* list, SpoolerText portName,
                           const MonitorInstance* instance) {
  if (IsNullText(portName)) return nullptr;
  // Port names ignore letter case, as the spooler's do: "LPT1:" and "lpt1:" are
  // one port.
  for (PortRecord* record = list; record != nullptr; record = record->next) {
    if (record->monitorInstance != instance) continue;
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

bool TakeForClosing(PortRecord* record) {
  MonitorLockGuard lock;
  // Only pointers are compared: a record we do not list is never read.
  for (PortRecord** link = &PortList; *link != nullptr; link = &(*link)->next) {
    if (*link == record) {
      TakeListed(link);
      return true;
    }
  }
  return false;
}

BOOL OpenPortRecord(const PortOpening& opening, PHANDLE outHandle) {
  PortRecord* record = CreatePortRecord(opening.portName, opening.printerName);
  if (record == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  if (opening.portMonitor != nullptr) {
    KeepDeviceTable(record, opening.portMonitor, opening.portMonitorInstance);
  } else {
    KeepDeviceTable(record, opening.deviceMonitor);
  }
  // The open is a call on the port from the moment it is listed.
  record->callsInProgress.store(1);

  // Searched and listed in one step: from here on the name is ours.
  MonitorInstance* instance = opening.monitorInstance;
  DWORD refusal = ERROR_SUCCESS;
  {
    MonitorLockGuard lock;
    if (instance != nullptr && instance->shutDown) {
      refusal = ERROR_INVALID_HANDLE;
    } else if (FindPortRecord(PortList, opening.portName, instance) != nullptr) {
      refusal = ERROR_BUSY;
    } else {
      record->monitorInstance = instance;
      if (instance != nullptr) instance->portsAlive.fetch_add(1);
      AppendToPortList(record);
      AddToPortTable(record);
    }
  }
  if (refusal != ERROR_SUCCESS) {
    record->callsInProgress.store(0);
    DestroyPortRecord(record);
    SetLastError(refusal);
    return FALSE;
  }

  // A printer the spooler cannot open leaves the handle null; StartDocPort tries
  // again with the document's printer name.
  OpenPrinterHandle(record, opening.printerName);

  if (!DeviceOpenPort(record, opening.portName)) {
    // Forget the port again, so that the next open is not refused as busy. The
    // spooler sees the device monitor's reason, not whatever freeing set; unless a
    // close took the port meanwhile, which frees it once we have left.
    const DWORD deviceError = GetLastError();
    const bool ours = TakeForClosing(record);
    record->callsInProgress.fetch_sub(1);
    if (!ours) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    DestroyPortRecord(record);
    SetLastError(deviceError);
    return FALSE;
  }
  record->devicePortOpen = true;

  if (!CountOutUnlessClosing(record)) {
    // A close came while the device port opened, and waits for us: the spooler
    // gets no handle, and the device port is closed as it was opened, here.
    DeviceClose(record);
    record->devicePortOpen = false;
    record->callsInProgress.fetch_sub(1);
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Counted out: a close from now on closes a port that was open.
  *outHandle = record;
  return TRUE;
}

BOOL WINAPI ClosePort(HANDLE port) {
  auto* record = static_cast<PortRecord*>(port);
  // Only the close that takes the port off the list closes and frees it.
  if (TakeForClosing(record)) {
    CloseRecord(record);
    return TRUE;
  }
  // A port we do not list is one closed already, or one that another close (a
  // Shutdown of its instance) is closing now: it is not touched, not even read,
  // and the call returns once that close has freed it.
  WaitUntilDone([port] { return !InPortTable(port); });
  return TRUE;
}

void CloseInstancePorts(MonitorInstance* instance) {
  PortRecord* taken = TakeInstancePorts(instance);
  // Closed one at a time outside the lock: closing waits for the port's calls and
  // its poller, and calls the device monitor. All of them are marked closing
  // already, so none of them is still waiting for anything meanwhile.
  while (taken != nullptr) {
    PortRecord* next = taken->next;
    taken->next = nullptr;
    CloseRecord(taken);
    taken = next;
  }
  // Ports of the instance that a ClosePort or a failed open took first are closed
  // on that call's thread: the spooler may unload the DLL as soon as we return.
  WaitUntilDone([instance] { return instance->portsAlive.load() == 0; });
}
