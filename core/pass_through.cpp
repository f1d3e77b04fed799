// The spooler's data, reads and device-data requests, passed straight through to
// the device monitor, but only while a device document is open on the port.
//
// PS_DEVICE_DOC_OPEN is the gate: set by StartDocPort once the device monitor
// accepted the document, cleared before every device EndDocPort. No call reaches
// the device monitor outside that window. Refusals set no error code.
#include "core/port_call.h"
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
  const PortCall call(port);
  if (call.record == nullptr || !DeviceDocumentOpen(call.record)) {
    *written = 0;
    return FALSE;
  }
  return DeviceWrite(call.record, buffer, count, written);
}

BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read) {
  const PortCall call(port);
  if (call.record == nullptr) {
    *read = 0;
    return FALSE;
  }
  return ReadFromDevice(call.record, buffer, count, read);
}

BOOL PrinterDataFromPort(HANDLE port, DWORD controlId, SpoolerText valueName, LPVOID inBuffer,
                         DWORD inSize, LPVOID outBuffer, DWORD outSize, LPDWORD returned) {
  const PortCall call(port);
  PortRecord* record = call.record;
  // Control code 0 asks for a named value, which is the spooler's business, not the
  // device's. A device monitor may not offer this call at all.
  if (record == nullptr || !DeviceDocumentOpen(record) || controlId == 0 ||
      !HasDevicePrinterData(record)) {
    return FALSE;
  }
  return DevicePrinterData(record, controlId, valueName, inBuffer, inSize, outBuffer, outSize,
                           returned);
}
