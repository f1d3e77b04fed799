// The port operations both faces share: opening and closing ports, bracketing
// documents, passing data through. Each face (monitor/ for the Windows 95 spooler,
// monitor_nt/ for the NT family's) only translates its spooler's calls into these:
// its strings become SpoolerText and its device monitor's table is handed over as
// it came. Everything a port does is decided here and below.
//
// Which calls may overlap on one port: the spooler makes one call at a time on a
// port in normal printing; the port's poller runs beside them on its own thread.
// ClosePort, and the NT face's Shutdown, may come while another call on the port
// is still running or blocked, its OpenPortEx included: they end its waits, wait
// for it to return and only then end the port's document and free the record
// (core/port_call.h). Different ports' calls run at the same time and never wait
// for each other.
#pragma once

#include <atomic>

#include "platform/win32.h"
#include "port/port_record.h"
#include "status_store/spooler_text.h"

// One NT spooler instance of ours: the handle InitializePrintMonitor2 gives out
// and the spooler passes to OpenPortEx and Shutdown. Each instance has port names
// of its own (a clustered spooler beside the node's own opens the same names), and
// its Shutdown closes its own ports and waits for nothing else.
struct MonitorInstance {
  DWORD signature;                // INSTANCE_SIGNATURE (monitor_nt/); never tested
  bool shutDown;                  // Shutdown has begun: no port opens through it any more
                                  // (written and read under MonitorLock)
  std::atomic<DWORD> portsAlive;  // its records not yet freed, listed or being closed
};

// What a face hands over to open a port: the names as its spooler gave them and
// the device monitor's table in its own layout (exactly one of the two).
struct PortOpening {
  SpoolerText portName;
  SpoolerText printerName;
  const MONITOR* deviceMonitor = nullptr;      // Windows 95 face
  const MONITOR2* portMonitor = nullptr;       // NT face
  HANDLE portMonitorInstance = nullptr;        // NT face: the port monitor's hMonitorPort
  MonitorInstance* monitorInstance = nullptr;  // NT face: our instance that opens the port
};

// Prepares MonitorLock and the port table's locks, once per process whichever
// face's entry comes first.
void InitializeMonitorLock();
// Deletes them again, for a DLL that is being unloaded (the NT face's entry point
// at a dynamic unload): no critical-section record of ours may outlive the image.
// A later InitializeMonitorLock prepares them afresh.
void DeleteMonitorLock();

// OpenPortEx for either face: the record is the handle stored in *outHandle.
BOOL OpenPortRecord(const PortOpening& opening, PHANDLE outHandle);
// StartDocPort for either face, with the document's printer name as the spooler
// gave it.
BOOL StartDocument(HANDLE port, SpoolerText printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
// GetPrinterDataFromPort for either face; the buffers pass through untouched.
BOOL PrinterDataFromPort(HANDLE port, DWORD controlId, SpoolerText valueName, LPVOID inBuffer,
                         DWORD inSize, LPVOID outBuffer, DWORD outSize, LPDWORD returned);
// The NT face's Shutdown: takes every port that `instance` opened off the list and
// marks it closing, all in one step, so that each port's call in progress ends its
// waits at once; then closes them one after the other, each as ClosePort closes it
// (a document in progress ended first), and returns only once every port of the
// instance is freed, those that a ClosePort or a failing OpenPortEx is still
// closing too. No thread of ours is left on those ports afterwards, and none of
// another instance is waited for.
void CloseInstancePorts(MonitorInstance* instance);

// The calls whose arguments are the same on both faces: both spooler tables hold
// these very functions.
BOOL WINAPI WritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written);
BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read);
BOOL WINAPI EndDocPort(HANDLE port);
// EndDocPort's work on a port the caller has in hand (a call in, or a close).
void CloseDocument(PortRecord* record);
BOOL WINAPI ClosePort(HANDLE port);
