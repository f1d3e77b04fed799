// The Windows 95 spooler's port calls whose arguments are its own: ANSI strings
// and the device monitor's 13-slot table. Each hands them to the core as they
// came; nothing is decided here.
#include "monitor/monitor.h"

BOOL WINAPI OpenPortEx(LPSTR portName, LPSTR printerName, PHANDLE outHandle,
                       LPMONITOR deviceMonitor) {
  PortOpening opening;
  opening.portName = AnsiText(portName);
  opening.printerName = AnsiText(printerName);
  opening.deviceMonitor = deviceMonitor;
  return OpenPortRecord(opening, outHandle);
}

BOOL WINAPI StartDocPort(HANDLE port, LPSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
  return StartDocument(port, AnsiText(printerName), jobId, level,
                       docInfo);
}

BOOL WINAPI GetPrinterDataFromPort(HANDLE port, DWORD controlId, LPSTR valueName, LPSTR inBuffer,
                                   DWORD inSize, LPSTR outBuffer, DWORD outSize, LPDWORD returned) {
  return PrinterDataFromPort(port, controlId, AnsiText(valueName),
                             inBuffer, inSize, outBuffer, outSize, returned);
}
