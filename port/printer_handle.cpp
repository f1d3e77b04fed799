// The port's spooler handle on its printer, on the Windows 95 face only
// (port/port_record.h says why the NT face opens none).
#include "port/port_record.h"

void OpenPrinterHandle(PortRecord* record, SpoolerText printerName) {
  if (record->face != FACE_WIN95 || printerName.ansi == nullptr) return;
  OpenPrinterA(const_cast<LPSTR>(printerName.ansi), &record->printerHandle, nullptr);
}
