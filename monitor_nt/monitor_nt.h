// The NT face: the export that hands the NT family's spooler our MONITOR2 table,
// and the operations of that table whose arguments are the NT spooler's own
// (UTF-16 strings, the port monitor's MONITOR2 and instance, our monitor handle).
// The table's other four operations are the core's own (core/port_ops.h).
#pragma once

#include <cstddef>

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
// pfnShutdown. The spooler reads nothing behind it. On x64 this is 152 bytes, 4
// more than winsplp.h's MONITOR2_SIZE_WIN2K (148), which adds the entries to
// cbSize without the padding that aligns the first of them; on x86 the two agree
// (76). Ours covers pfnShutdown whole.
constexpr DWORD MONITOR2_WINDOWS_2000_SIZE =
    static_cast<DWORD>(offsetof(MONITOR2, pfnShutdown) + sizeof(void*));
