// The spooler's data, reads and device-data requests, passed straight through to
// the device monitor, but only while a device document is open on the port.
//
// PS_DEVICE_DOC_OPEN is the gate: set by StartDocPort once the device monitor
// accepted the document, cleared before every device EndDocPort. No call reaches
// the device monitor outside that window. Refusals set no error code.
#include "core/port_ops.h"
#include "port/device_calls.h"
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
  return DeviceWrite(record, buffer, count, written);
}

BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read) {
  return ReadFromDevice(static_cast<PortRecord*>(port), buffer, count, read);
}

BOOL PrinterDataFromPort(PortRecord* record, DWORD controlId, SpoolerText valueName,
                         LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize,
                         LPDWORD returned) {
  // Control code 0 asks for a named value, which is the spooler's business, not the
  // device's. A device monitor may not offer this call at all.
  if (!DeviceDocumentOpen(record) || controlId == 0 || !HasDevicePrinterData(record)) return FALSE;
  return DevicePrinterData(record, controlId, valueName, inBuffer, inSize, outBuffer, outSize,
                           returned);
}
