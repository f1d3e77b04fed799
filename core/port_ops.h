// The port operations both faces share: opening and closing ports, bracketing
// documents, passing data through. Each face (monitor/ for the Windows 95 spooler,
// monitor_nt/ for the NT family's) only translates its spooler's calls into these:
// its strings become SpoolerText and its device monitor's table is handed over as
// it came. Everything a port does is decided here and below.
//
// Which calls may overlap on one port: the spooler makes one call at a time on a
// port in normal printing; the port's poller runs beside them on its own thread.
// ClosePort, and the NT face's Shutdown, may come while another call on the port
// is still running or blocked: they end its waits, wait for it to return and only
// then end the port's document and free the record (core/port_call.h). Different
// ports' calls run at the same time and never wait for each other.
#pragma once

#include "platform/win32.h"
#include "port/port_record.h"
#include "status_store/spooler_text.h"

// What a face hands over to open a port: the names as its spooler gave them and
// the device monitor's table in its own layout (exactly one of the two).
struct PortOpening {
  SpoolerText portName;
  SpoolerText printerName;
  const MONITOR* deviceMonitor = nullptr;  // Windows 95 face
  const MONITOR2* portMonitor = nullptr;   // NT face
  HANDLE portMonitorInstance = nullptr;    // NT face: the port monitor's hMonitorPort
  HANDLE monitorInstance = nullptr;        // NT face: our instance that opens the port
};

// Prepares MonitorLock, once per process whichever face's entry comes first.
void InitializeMonitorLock();

// OpenPortEx for either face: the record is the handle stored in *outHandle.
BOOL OpenPortRecord(const PortOpening& opening, PHANDLE outHandle);
// StartDocPort for either face, with the document's printer name as the spooler
// gave it.
BOOL StartDocument(HANDLE port, SpoolerText printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
// GetPrinterDataFromPort for either face; the buffers pass through untouched.
BOOL PrinterDataFromPort(HANDLE port, DWORD controlId, SpoolerText valueName, LPVOID inBuffer,
                         DWORD inSize, LPVOID outBuffer, DWORD outSize, LPDWORD returned);
// Closes every port that `instance` opened, one after the other, each as
// ClosePort closes it (a document in progress ended first). For the NT face's
// Shutdown; no thread of ours is left on those ports afterwards.
void CloseInstancePorts(HANDLE instance);

// The calls whose arguments are the same on both faces: both spooler tables hold
// these very functions.
BOOL WINAPI WritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written);
BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read);
BOOL WINAPI EndDocPort(HANDLE port);
// EndDocPort's work on a port the caller has in hand (a call in, or a close).
void CloseDocument(PortRecord* record);
BOOL WINAPI ClosePort(HANDLE port);
