// Is the printer on this port the maker's, and the model that the status monitor
// application registered? Asked at every document start, after the device
// document opened; all printer-status work depends on the answer.
//
// The device ID comes straight from the device monitor's own slot: our
// GetPrinterDataFromPort would answer only while our bookkeeping says a device
// document is open, and it is the device monitor that talks to the printer.
#include "printer_status/device_id.h"

#include <string_view>

#include "status_store/status_key.h"

BOOL IdentifyPrinter(PortRecord* record) {
  // Whatever an earlier document found, this identification alone decides.
  record->modelName[0] = '\0';
  const auto query = record->deviceMonitor.pfnGetPrinterDataFromPort;
  if (query == nullptr) return FALSE;

  // The query gets 1024 bytes; the byte behind them stays NUL, so even a reply
  // that fills them all is parsed without reading past the buffer.
  char deviceId[DEVICE_ID_BUFFER_SIZE + 1] = {};
  DWORD returned = 0;
  if (!query(record->devicePort, DEVICE_ID_CONTROL_CODE, nullptr, nullptr, 0, deviceId,
             DEVICE_ID_BUFFER_SIZE, &returned) ||
      returned == 0) {
    return FALSE;
  }

  const LPSTR manufacturer = ParseDeviceId(deviceId, sizeof deviceId, record->modelName);
  if (manufacturer == nullptr || manufacturer[0] == '\0') return FALSE;
  // Byte-wise and case-sensitive: "Kovir Corp" is not the maker, "THE KOVIR CO" is.
  if (std::string_view(manufacturer).find(MAKER_NAME) == std::string_view::npos) return FALSE;
  // A device ID without a model names no model: it cannot match any registration,
  // not even an empty IDMDL.
  if (record->modelName[0] == '\0') return FALSE;

  char registered[REGISTERED_MODEL_SIZE];
  if (!ReadRegisteredModel(record->statusKey, registered)) return FALSE;
  return lstrcmpA(record->modelName, registered) == 0 ? TRUE : FALSE;
}
