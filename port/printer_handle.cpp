// The port's spooler handle on its printer, taken under the printer's name in the
// form the face got it, so a name in any script opens its own printer.
#include "platform/wide_calls.h"
#include "port/port_record.h"

void OpenPrinterHandle(PortRecord* record, SpoolerText printerName) {
  if (printerName.wide != nullptr) {
    OpenPrinterWide(const_cast<LPWSTR>(printerName.wide), &record->printerHandle);
  } else if (printerName.ansi != nullptr) {
    OpenPrinterA(const_cast<LPSTR>(printerName.ansi), &record->printerHandle, nullptr);
  }
}
