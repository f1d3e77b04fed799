// Identifying the printer on a port from its IEEE 1284 device ID.
#pragma once

#include "monitor/port_record.h"
#include "platform/win32.h"

constexpr DWORD DEVICE_ID_CONTROL_CODE = 17;  // GetPrinterDataFromPort: read the device ID
constexpr DWORD DEVICE_ID_BUFFER_SIZE = 1024;
constexpr DWORD MODEL_NAME_SIZE = 256;
constexpr char MAKER_NAME[] = "KOVIR";

// The MDL value of the last parsed device ID (emptied at the start of each parse).
// Module-wide: a document start on any port replaces it. Code that may run while
// another port parses reads it through CopyModelName, which never sees it
// half-written.
extern char ModelName[MODEL_NAME_SIZE];
void CopyModelName(char (&out)[MODEL_NAME_SIZE]);

// Parses `text` in place (each field's ';' becomes NUL) and returns the MFG value
// inside it, or null. Sets ModelName from the MDL field, cut to 255 characters.
LPSTR ParseDeviceId(LPSTR text);

// The same for a text held in `size` bytes that need not contain a terminator:
// nothing at or behind text[size] is read or written. When the bytes hold no NUL,
// the last one is replaced by NUL, so the text and the MFG value returned end
// inside the buffer.
LPSTR ParseDeviceId(LPSTR text, DWORD size);

// TRUE when the printer's device ID names the maker in MFG and the model that the
// status monitor application registered in IDMDL.
BOOL IdentifyPrinter(PortRecord* record);
