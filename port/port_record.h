// The per-port record and its status bits.
//
// One PortRecord exists per port the spooler opened through us, through either
// face; it is the handle the spooler passes back on every port call. The record
// is the same for both faces: it keeps the port's and printer's names in the form
// the face got them (SpoolerText), and a copy of the device monitor's table in its
// face's layout, which only port/device_calls.cpp reads. The core's port list and
// port table hold the records (core/port_list.h, core/port_table.h); a record owns
// its printer-name copy, its printer handle (Windows 95 face only), its poller's
// stop event and its poller-thread handle, and holds the state of the printer on
// its port: the status key its documents use, the model its last identification
// found, and the poll settings. Nothing one port does touches another port's
// printer state.
//
// Sharing: `status` is changed by spooler threads (StartDocPort, EndDocPort,
// ClosePort, Shutdown, the job-start exchange) and read by the record's poller
// thread, so it is atomic and only ever changed with fetch_or / fetch_and. The
// poll settings in `statusKey` are atomic too (the poller loads them, the ink
// query pauses polling). `channelOwner` says who holds the back channel: the
// job-start exchange (spooler thread) or a poll (poller thread) takes it with one
// compare-exchange and gives it back when done (port/back_channel.h).
// `callsInProgress` counts the spooler calls running on the port, its open
// included (core/port_call.h). Every other field is written by one spooler call
// at a time: the spooler makes one call at a time on a port, and a close (ClosePort,
// Shutdown) that comes during a call marks the port PS_CLOSING, waits for the call
// to leave, and only then touches the record; the poller reads them only while it
// runs, between a document's start and its end. So the record needs no lock of its
// own: `next` belongs to MonitorLock and `nextInTable` to its chain's lock.
#pragma once

#include <atomic>

#include "platform/spooler_nt.h"
#include "platform/win32.h"
#include "port/monitor_table.h"
#include "status_store/spooler_text.h"
#include "status_store/status_key.h"

constexpr DWORD PORT_SIGNATURE = 0x4F50;  // the bytes 50 4F: "PO"
constexpr DWORD MODEL_NAME_SIZE = 256;    // an MDL value of up to 255 characters

struct MonitorInstance;  // an NT spooler instance of ours (core/port_ops.h)

// The spooler a port was opened through, and so its strings and its device
// monitor's table: ANSI and MONITOR (Windows 95), UTF-16 and MONITOR2 (NT family).
constexpr DWORD FACE_WIN95 = 95;
constexpr DWORD FACE_NT = 2000;

// Status bits; every other bit of the word stays zero.
constexpr DWORD PS_JOB_ACTIVE = 0x01;       // a document is in progress on this port
constexpr DWORD PS_DEVICE_DOC_OPEN = 0x40;  // the device monitor has an open document
constexpr DWORD PS_PRINTER_MATCHED = 0x80;  // the printer passed IdentifyPrinter
constexpr DWORD PS_POLLER_RUN = 0x800;      // the poller may run; it ends when this clears
constexpr DWORD PS_CLOSING = 0x1000;        // ClosePort or Shutdown took the port: every wait of
                                            // a call in progress ends, and no new call gets in

struct PortRecord {
  DWORD signature;                   // PORT_SIGNATURE; set at creation, never tested
  DWORD size;                        // allocation size: fixed fields + port name + NUL
  PortRecord* next;                  // next record in the port list (MonitorLock)
  PortRecord* nextInTable;           // next record in its chain of the port table
  SpoolerText portName;              // copy stored right behind the fixed fields
  std::atomic<DWORD> status;         // PS_* bits
  SpoolerText printerName;           // DuplicateText copy, owned
  HANDLE devicePort;                 // the device monitor's handle for this port
  bool devicePortOpen;               // the device monitor opened devicePort, and it is not
                                     // closed yet: only then does a close close it
  HANDLE printerHandle;              // OpenPrinterA handle (Windows 95 face), or null
  HANDLE pollerThread;               // the status poller's thread handle, or null
  DWORD face;                        // FACE_WIN95 or FACE_NT
  MONITOR deviceMonitor;             // Windows 95 face: copy of the device monitor's table
  MONITOR2 deviceMonitor2;           // NT face: copy of the port monitor's table, up to its
                                     // cbSize; entries it does not have stay null
  HANDLE deviceMonitorPort;          // NT face: the port monitor's instance (hMonitorPort)
  MonitorInstance* monitorInstance;  // NT face: the instance of ours that opened the port, set
                                     // once the port is listed; null on the Windows 95 face
  HANDLE pollerStopEvent;            // manual-reset; set when PS_POLLER_RUN is cleared, so a
                                     // waiting poller wakes at once
  StatusKey statusKey;               // this printer's key (selected per document) and poll settings
  char modelName[MODEL_NAME_SIZE];   // MDL of this port's last identification; "" if none
  std::atomic<DWORD> channelOwner;   // who holds the back channel (CHANNEL_*); 0: free
  std::atomic<DWORD> callsInProgress;  // spooler calls running on the port, its open included
                                       // (core/port_call.h)
};

static_assert(std::atomic<DWORD>::is_always_lock_free,
              "the status word lives in a zero-filled heap block");

// Status-word helpers: every change is one atomic read-modify-write, so a bit set
// by one thread is never lost to another thread's update.
inline void SetStatusBits(PortRecord* record, DWORD bits) {
  record->status.fetch_or(bits);
}
inline void ClearStatusBits(PortRecord* record, DWORD bits) {
  record->status.fetch_and(~bits);
}
// Sleeps `ms` milliseconds, or less once the port is being closed; false when it
// is. For the pauses of a spooler call on the port (a retry, the job-start
// exchange, the wait on the application's thread), so that ClosePort or Shutdown
// coming meanwhile does not wait them out.
bool PauseUnlessClosing(PortRecord* record, DWORD ms);

inline bool HasStatusBits(const PortRecord* record, DWORD bits) {
  return (record->status.load() & bits) == bits;
}

// Copies `text` into a fresh zero-filled local-heap block of its length and
// terminator, in the source's form (ANSI or UTF-16); a null source or a failed
// allocation gives a null string.
SpoolerText DuplicateText(SpoolerText text);
void FreeText(SpoolerText text);

// Opens the record's printer handle into record->printerHandle on the Windows 95
// face (OpenPrinterA), which stays null when the spooler refuses or the name is
// null. The NT face opens none: each OpenPrinterW and ClosePrinter would be a call
// back into the spooler from inside one of its calls, and nothing uses the handle.
void OpenPrinterHandle(PortRecord* record, SpoolerText printerName);
