// The NT face: the export that hands the NT family's spooler our MONITOR2 table,
// and the operations of that table whose arguments are the NT spooler's own
// (UTF-16 strings, the port monitor's MONITOR2 and instance, our monitor handle).
// The table's other four operations are the core's own (core/port_ops.h).
#pragma once

#include "core/port_ops.h"
#include "platform/spooler_nt.h"
#include "platform/win32.h"

extern "C" LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor);

BOOL WINAPI OpenPortExNt(HANDLE monitor, HANDLE portMonitorInstance, LPWSTR portName,
                         LPWSTR printerName, PHANDLE outHandle, LPMONITOR2 portMonitor);
BOOL WINAPI StartDocPortNt(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level,
                           LPBYTE docInfo);
BOOL WINAPI GetPrinterDataFromPortNt(HANDLE port, DWORD controlId, LPWSTR valueName,
                                     LPWSTR inBuffer, DWORD inSize, LPWSTR outBuffer, DWORD outSize,
                                     LPDWORD returned);
VOID WINAPI ShutdownNt(HANDLE monitor);

// The size of the table we fill: the Windows 2000 layout, which ends at
// pfnShutdown. The spooler reads nothing behind it.
constexpr DWORD MONITOR2_WINDOWS_2000_SIZE =
    static_cast<DWORD>(offsetof(MONITOR2, pfnShutdown) + sizeof(void*));
