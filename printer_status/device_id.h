// Identifying the printer on a port from its IEEE 1284 device ID.
#pragma once

#include "platform/win32.h"
#include "port/device_calls.h"
#include "port/port_record.h"

constexpr char MAKER_NAME[] = "KOVIR";

// Parses the device ID held in `size` bytes of `text`, which need not contain a
// terminator, in place (each field's ';' becomes NUL) and returns the MFG value
// inside it, or null. Nothing at or behind text[size] is read or written; when the
// bytes hold no NUL, the last one is replaced by NUL, so the text and the MFG value
// returned end inside the buffer. `model` receives the MDL value, cut to 255
// characters, or "" when the text has none.
LPSTR ParseDeviceId(LPSTR text, DWORD size, char (&model)[MODEL_NAME_SIZE]);

// TRUE when the printer's device ID names the maker in MFG and the model that the
// status monitor application registered in IDMDL in this port's key. Leaves the
// parsed model in the record's modelName.
BOOL IdentifyPrinter(PortRecord* record);
