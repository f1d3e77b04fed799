// Reading from the device monitor on a port: the one gate every read passes, the
// spooler's ReadPort as much as the monitor's own reply reads.
#pragma once

#include "port/port_record.h"

// The device monitor's pfnReadPort, but only while a device document is open on
// the port; otherwise `*read` is 0 and the result FALSE, without calling it.
BOOL ReadFromDevice(PortRecord* record, LPBYTE buffer, DWORD count, LPDWORD read);
