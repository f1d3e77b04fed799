// Is the printer on this port the maker's, and the model that the status monitor
// application registered? Asked at every document start, after the device
// document opened; all printer-status work depends on the answer.
//
// The device ID comes straight from the device monitor: our GetPrinterDataFromPort
// would answer only while our bookkeeping says a device document is open, and it
// is the device monitor that talks to the printer.
#include "printer_status/device_id.h"

#include <string_view>

#include "status_store/status_key.h"

BOOL IdentifyPrinter(PortRecord* record) {
  // Whatever an earlier document found, this identification alone decides.
  record->modelName[0] = '\0';
  // The ID in the port's face's way (port/device_calls.h). The buffer's last byte
  // stays NUL, so even a reply that fills it is parsed without reading past it. A
  // port that gives no ID (a network or file port on the NT family) is no printer
  // of ours: no status work is done on it.
  char deviceId[DEVICE_ID_MAX_SIZE + 1] = {};
  if (QueryDeviceId(record, deviceId) == 0) return FALSE;

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
