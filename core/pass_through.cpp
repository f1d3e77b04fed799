// The spooler's data, reads and device-data requests, passed straight through to
// the device monitor, but only while a device document is open on the port.
//
// PS_DEVICE_DOC_OPEN is the gate: set by StartDocPort once the device monitor
// accepted the document, cleared before every device EndDocPort. No write, and on
// the Windows 95 face no device-data request, reaches the device monitor outside
// that window. Refusals set no error code.
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

// The Windows 95 spooler asks the device only inside a document, and only with a
// control code: code 0 asks for a named value, which is the spooler's business
// there. On the NT family an application's or a driver's GetPrinterData may lead
// the spooler here whenever the port is open, between jobs too, with a value name
// (code 0) or a device I/O control code: all of it is the port monitor's to
// answer. A device monitor may not offer this call at all (DevicePrinterData
// refuses then).
BOOL PrinterDataFromPort(HANDLE port, DWORD controlId, SpoolerText valueName, LPVOID inBuffer,
                         DWORD inSize, LPVOID outBuffer, DWORD outSize, LPDWORD returned) {
  const PortCall call(port);
  PortRecord* record = call.record;
  if (record == nullptr) return FALSE;
  if (record->face == FACE_WIN95 && (!DeviceDocumentOpen(record) || controlId == 0)) {
    return FALSE;
  }
  return DevicePrinterData(record, controlId, valueName, inBuffer, inSize, outBuffer, outSize,
                           returned);
}
