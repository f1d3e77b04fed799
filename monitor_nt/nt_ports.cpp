// The NT spooler's port calls whose arguments are its own: UTF-16 strings, and
// the port monitor's MONITOR2 with its instance handle. Each hands them to the
// core as they came; nothing is decided here.
#include "monitor_nt/monitor_nt.h"

BOOL WINAPI OpenPortExNt(HANDLE monitor, HANDLE portMonitorInstance, LPWSTR portName,
                         LPWSTR printerName, PHANDLE outHandle, LPMONITOR2 portMonitor) {
  if (portMonitor == nullptr || outHandle == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  PortOpening opening;
  opening.portName = WideText(portName);
  opening.printerName = WideText(printerName);
  opening.portMonitor = portMonitor;
  opening.portMonitorInstance = portMonitorInstance;
  opening.monitorInstance = static_cast<MonitorInstance*>(monitor);
  return OpenPortRecord(opening, outHandle);
}

BOOL WINAPI StartDocPortNt(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level,
                           LPBYTE docInfo) {
  return StartDocument(port, WideText(printerName), jobId, level, docInfo);
}

BOOL WINAPI GetPrinterDataFromPortNt(HANDLE port, DWORD controlId, LPWSTR valueName,
                                     LPWSTR inBuffer, DWORD inSize, LPWSTR outBuffer, DWORD outSize,
                                     LPDWORD returned) {
  return PrinterDataFromPort(port, controlId, WideText(valueName), inBuffer, inSize, outBuffer,
                             outSize, returned);
}
