// The spooler's data, reads and device-data requests, passed straight through to
// the device monitor, but only while a device document is open on the port.
//
// PS_DEVICE_DOC_OPEN is the gate: set by StartDocPort once the device monitor
// accepted the document, cleared before every device EndDocPort. No call reaches
// the device monitor outside that window. Refusals set no error code.
#include "monitor/monitor.h"
#include "port/device_read.h"
#include "port/port_record.h"

namespace {

bool DeviceDocumentOpen(const PortRecord* record) {
  return HasStatusBits(record, PS_DEVICE_DOC_OPEN);
}

}  // namespace

BOOL WINAPI WritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written) {
  auto* record = static_cast<PortRecord*>(port);
  if (!DeviceDocumentOpen(record)) {
    *written = 0;
    return FALSE;
  }
  return record->deviceMonitor.pfnWritePort(record->devicePort, buffer, count, written);
}

BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read) {
  return ReadFromDevice(static_cast<PortRecord*>(port), buffer, count, read);
}

BOOL WINAPI GetPrinterDataFromPort(HANDLE port, DWORD controlId, LPSTR valueName, LPSTR inBuffer,
                                   DWORD inSize, LPSTR outBuffer, DWORD outSize, LPDWORD returned) {
  auto* record = static_cast<PortRecord*>(port);
  // Control code 0 asks for a named value, which is the spooler's business, not the
  // device's. A device monitor may not offer this slot at all; it is the only
  // slot we test before calling.
  auto deviceCall = record->deviceMonitor.pfnGetPrinterDataFromPort;
  if (!DeviceDocumentOpen(record) || controlId == 0 || deviceCall == nullptr) return FALSE;
  return deviceCall(record->devicePort, controlId, valueName, inBuffer, inSize, outBuffer, outSize,
                    returned);
}
