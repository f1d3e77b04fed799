// The device monitor's calls in the table of the port's face (port/device_calls.h).
//
// The Windows 95 table and the NT table take the same arguments for writes,
// reads, ending a document and closing; they differ in the open (the NT one names
// the port monitor's instance), in the strings (ANSI or UTF-16), and in how the
// device ID is asked for.
#include "port/device_calls.h"

#include <cstddef>
#include <cstring>

namespace {

bool IsNt(const PortRecord* record) {
  return record->face == FACE_NT;
}

}  // namespace

void KeepDeviceTable(PortRecord* record, const MONITOR* deviceMonitor) {
  record->face = FACE_WIN95;
  record->deviceMonitor = *deviceMonitor;
}

void KeepDeviceTable(PortRecord* record, const MONITOR2* portMonitor, HANDLE portMonitorInstance) {
  record->face = FACE_NT;
  record->deviceMonitorPort = portMonitorInstance;
  // The spooler hands the port monitor's table as that monitor made it: nothing
  // behind its cbSize is ours to read, and a size beyond our table's adds nothing
  // we would use.
  std::memset(&record->deviceMonitor2, 0, sizeof record->deviceMonitor2);
  std::size_t size = portMonitor->cbSize;
  if (size > sizeof(MONITOR2)) size = sizeof(MONITOR2);
  // Whole entries only: half an entry's pointer copied and called would crash the
  // spooler. (winsplp.h's MONITOR2_SIZE_WIN2K, for one, leaves out the padding
  // behind cbSize on x64, and so ends 4 bytes into pfnShutdown.)
  constexpr std::size_t firstEntry = offsetof(MONITOR2, pfnEnumPorts);
  size = size < firstEntry ? 0 : firstEntry + (size - firstEntry) / sizeof(void*) * sizeof(void*);
  std::memcpy(&record->deviceMonitor2, portMonitor, size);
}

BOOL DeviceOpenPort(PortRecord* record, SpoolerText portName) {
  if (IsNt(record)) {
    const auto open = record->deviceMonitor2.pfnOpenPort;
    if (open == nullptr) {
      SetLastError(ERROR_INVALID_FUNCTION);
      return FALSE;
    }
    return open(record->deviceMonitorPort, const_cast<LPWSTR>(portName.wide), &record->devicePort);
  }
  return record->deviceMonitor.pfnOpenPort(const_cast<LPSTR>(portName.ansi), &record->devicePort);
}

bool HasDeviceStartDoc(const PortRecord* record) {
  return !IsNt(record) || record->deviceMonitor2.pfnStartDocPort != nullptr;
}

BOOL DeviceStartDoc(PortRecord* record, SpoolerText printerName, DWORD jobId, DWORD level,
                    LPBYTE docInfo) {
  if (IsNt(record)) {
    const auto start = record->deviceMonitor2.pfnStartDocPort;
    return start != nullptr &&
           start(record->devicePort, const_cast<LPWSTR>(printerName.wide), jobId, level, docInfo);
  }
  return record->deviceMonitor.pfnStartDocPort(
      record->devicePort, const_cast<LPSTR>(printerName.ansi), jobId, level, docInfo);
}

BOOL DeviceWrite(PortRecord* record, LPBYTE buffer, DWORD count, LPDWORD written) {
  const auto write =
      IsNt(record) ? record->deviceMonitor2.pfnWritePort : record->deviceMonitor.pfnWritePort;
  if (write == nullptr) {
    *written = 0;
    return FALSE;
  }
  return write(record->devicePort, buffer, count, written);
}

BOOL DeviceRead(PortRecord* record, LPBYTE buffer, DWORD count, LPDWORD read) {
  const auto readPort =
      IsNt(record) ? record->deviceMonitor2.pfnReadPort : record->deviceMonitor.pfnReadPort;
  if (readPort == nullptr) {
    *read = 0;
    return FALSE;
  }
  return readPort(record->devicePort, buffer, count, read);
}

BOOL DeviceEndDoc(PortRecord* record) {
  const auto end =
      IsNt(record) ? record->deviceMonitor2.pfnEndDocPort : record->deviceMonitor.pfnEndDocPort;
  return end != nullptr && end(record->devicePort);
}

BOOL DeviceClose(PortRecord* record) {
  const auto close =
      IsNt(record) ? record->deviceMonitor2.pfnClosePort : record->deviceMonitor.pfnClosePort;
  return close != nullptr && close(record->devicePort);
}

bool HasDevicePrinterData(const PortRecord* record) {
  return IsNt(record) ? record->deviceMonitor2.pfnGetPrinterDataFromPort != nullptr
                      : record->deviceMonitor.pfnGetPrinterDataFromPort != nullptr;
}

BOOL DevicePrinterData(PortRecord* record, DWORD controlId, SpoolerText valueName, LPVOID inBuffer,
                       DWORD inSize, LPVOID outBuffer, DWORD outSize, LPDWORD returned) {
  if (!HasDevicePrinterData(record)) return FALSE;
  if (IsNt(record)) {
    return record->deviceMonitor2.pfnGetPrinterDataFromPort(
        record->devicePort, controlId, const_cast<LPWSTR>(valueName.wide),
        static_cast<LPWSTR>(inBuffer), inSize, static_cast<LPWSTR>(outBuffer), outSize, returned);
  }
  return record->deviceMonitor.pfnGetPrinterDataFromPort(
      record->devicePort, controlId, const_cast<LPSTR>(valueName.ansi),
      static_cast<LPSTR>(inBuffer), inSize, static_cast<LPSTR>(outBuffer), outSize, returned);
}

namespace {

// One request; the number of bytes it brought, 0 for a refusal or nothing.
DWORD AskDevice(PortRecord* record, DWORD controlId, char* out, DWORD size) {
  DWORD returned = 0;
  if (!DevicePrinterData(record, controlId, SpoolerText{}, nullptr, 0, out, size, &returned)) {
    return 0;
  }
  // A port monitor that claims more than the buffer must not lead us past it.
  return returned > size ? size : returned;
}

}  // namespace

DWORD QueryDeviceId(PortRecord* record, char (&id)[DEVICE_ID_MAX_SIZE + 1]) {
  if (!IsNt(record)) return AskDevice(record, DEVICE_ID_CONTROL_CODE, id, DEVICE_ID_BUFFER_SIZE);

  // A parallel port's driver answers with the text itself.
  const DWORD parallel = AskDevice(record, IOCTL_PAR_QUERY_DEVICE_ID, id, NT_DEVICE_ID_BUFFER_SIZE);
  if (parallel != 0) return parallel;
  // A USB printer's driver puts the ID's two length bytes in front of the text.
  // An answer of nothing but them carries no ID.
  const DWORD usb = AskDevice(record, IOCTL_USBPRINT_GET_1284_ID, id, NT_DEVICE_ID_BUFFER_SIZE);
  if (usb <= USB_DEVICE_ID_LENGTH_BYTES) return 0;
  const DWORD text = usb - USB_DEVICE_ID_LENGTH_BYTES;
  std::memmove(id, id + USB_DEVICE_ID_LENGTH_BYTES, text);
  std::memset(id + text, 0, USB_DEVICE_ID_LENGTH_BYTES);
  return text;
}
