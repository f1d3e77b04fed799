// The spooler's table of monitor operations in its Windows 95 layout: 13 slots.
// The spooler hands us one to fill (InitializeMonitorEx) and the device monitor
// below us hands us its own, of the same layout, at OpenPortEx.
#pragma once

#include "platform/win32.h"

struct MONITOR {
  BOOL(WINAPI* pfnEnumPorts)(LPSTR name, DWORD level, LPBYTE ports, DWORD bufferSize,
                             LPDWORD needed, LPDWORD returned);
  BOOL(WINAPI* pfnOpenPort)(LPSTR name, PHANDLE handle);
  BOOL(WINAPI* pfnOpenPortEx)(LPSTR portName, LPSTR printerName, PHANDLE handle,
                              MONITOR* deviceMonitor);
  BOOL(WINAPI* pfnStartDocPort)(HANDLE port, LPSTR printerName, DWORD jobId, DWORD level,
                                LPBYTE docInfo);
  BOOL(WINAPI* pfnWritePort)(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written);
  BOOL(WINAPI* pfnReadPort)(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read);
  BOOL(WINAPI* pfnEndDocPort)(HANDLE port);
  BOOL(WINAPI* pfnClosePort)(HANDLE port);
  BOOL(WINAPI* pfnAddPort)(LPSTR name, HWND window, LPSTR monitorName);
  BOOL(WINAPI* pfnConfigurePort)(LPSTR name, HWND window, LPSTR portName);
  BOOL(WINAPI* pfnDeletePort)(LPSTR name, HWND window, LPSTR portName);
  BOOL(WINAPI* pfnGetPrinterDataFromPort)(HANDLE port, DWORD controlId, LPSTR valueName,
                                          LPSTR inBuffer, DWORD inSize, LPSTR outBuffer,
                                          DWORD outSize, LPDWORD returned);
  BOOL(WINAPI* pfnSetPortTimeOuts)(HANDLE port, LPCOMMTIMEOUTS timeouts, DWORD reserved);
};
using LPMONITOR = MONITOR*;

static_assert(sizeof(MONITOR) == 13 * sizeof(void*), "the Windows 95 table has 13 slots");
