// PS_DEVICE_DOC_OPEN is set by StartDocPort once the device monitor accepted the
// document and cleared before every device EndDocPort, so no read reaches the
// device monitor outside that window. A refusal sets no error code.
#include "port/device_read.h"

#include "port/device_calls.h"

BOOL ReadFromDevice(PortRecord* record, LPBYTE buffer, DWORD count, LPDWORD read) {
  if (!HasStatusBits(record, PS_DEVICE_DOC_OPEN)) {
    *read = 0;
    return FALSE;
  }
  return DeviceRead(record, buffer, count, read);
}
