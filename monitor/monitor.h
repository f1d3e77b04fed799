// The Windows 95 face: the two exports and the seven operations that
// InitializeMonitorEx writes into the spooler's MONITOR table. Three of them
// translate the Windows 95 spooler's ANSI strings and device table for the core
// (core/port_ops.h); the other four are the core's own.
#pragma once

#include "core/port_ops.h"
#include "platform/win32.h"
#include "port/monitor_table.h"

extern "C" {
BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved);
BOOL WINAPI InitializeMonitorEx(LPSTR registryRoot, LPMONITOR monitor);
}

BOOL WINAPI OpenPortEx(LPSTR portName, LPSTR printerName, PHANDLE outHandle,
                       LPMONITOR deviceMonitor);
BOOL WINAPI StartDocPort(HANDLE port, LPSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
BOOL WINAPI GetPrinterDataFromPort(HANDLE port, DWORD controlId, LPSTR valueName, LPSTR inBuffer,
                                   DWORD inSize, LPSTR outBuffer, DWORD outSize, LPDWORD returned);
