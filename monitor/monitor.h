// The monitor's entry points: the two exports and the seven operations that
// InitializeMonitorEx writes into the spooler's MONITOR table.
#pragma once

#include "port/monitor_table.h"
#include "platform/win32.h"

extern "C" {
BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved);
BOOL WINAPI InitializeMonitorEx(LPSTR registryRoot, LPMONITOR monitor);
}

// Port open and close (port_list.cpp).
BOOL WINAPI OpenPortEx(LPSTR portName, LPSTR printerName, PHANDLE outHandle,
                       LPMONITOR deviceMonitor);
BOOL WINAPI ClosePort(HANDLE port);

// Pass-through (pass_through.cpp).
BOOL WINAPI WritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written);
BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read);
BOOL WINAPI GetPrinterDataFromPort(HANDLE port, DWORD controlId, LPSTR valueName, LPSTR inBuffer,
                                   DWORD inSize, LPSTR outBuffer, DWORD outSize,
                                   LPDWORD returned);

// Document bracketing (document.cpp).
BOOL WINAPI StartDocPort(HANDLE port, LPSTR printerName, DWORD jobId, DWORD level,
                         LPBYTE docInfo);
BOOL WINAPI EndDocPort(HANDLE port);
