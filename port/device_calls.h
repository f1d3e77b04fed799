// The device monitor below a port, reached through the table of the port's own
// face: MONITOR for a port the Windows 95 spooler opened, MONITOR2 for one the
// NT family's spooler opened. Everything above calls these and never a table
// entry itself, so the code that decides what to send is the same for both.
//
// Each call takes the device port handle first, as both tables do, and passes the
// spooler's strings on in the form the face got them.
#pragma once

#include "port/port_record.h"

// Windows 95: GetPrinterDataFromPort's control code for the IEEE 1284 device ID,
// and the bytes asked for.
constexpr DWORD DEVICE_ID_CONTROL_CODE = 17;
constexpr DWORD DEVICE_ID_BUFFER_SIZE = 1024;
// NT family: the device ID is a device I/O control to the port's driver, parallel
// first, then USB. Some USB printers fail the request for a very large buffer;
// 4094 bytes are safe.
constexpr DWORD NT_DEVICE_ID_BUFFER_SIZE = 4094;
// The USB answer starts with the ID's length, two bytes, most significant first.
constexpr DWORD USB_DEVICE_ID_LENGTH_BYTES = 2;
// The largest device ID either face's request can bring back.
constexpr DWORD DEVICE_ID_MAX_SIZE = NT_DEVICE_ID_BUFFER_SIZE;

// Copies the device monitor's table into the record. An NT table is copied up to
// its cbSize and no further, in whole entries: a shorter table than ours leaves
// the entries it does not have null, and an entry that cbSize cuts in two is one
// the table does not have.
void KeepDeviceTable(PortRecord* record, const MONITOR* deviceMonitor);
void KeepDeviceTable(PortRecord* record, const MONITOR2* portMonitor, HANDLE portMonitorInstance);

// Opens `portName` (the name as the spooler gave it) on the device monitor into
// record->devicePort. FALSE, with ERROR_INVALID_FUNCTION, when the table has no
// open entry.
BOOL DeviceOpenPort(PortRecord* record, SpoolerText portName);
// Whether the device monitor's table has StartDocPort (a Windows 95 table always
// does: its entries are called as found).
bool HasDeviceStartDoc(const PortRecord* record);
BOOL DeviceStartDoc(PortRecord* record, SpoolerText printerName, DWORD jobId, DWORD level,
                    LPBYTE docInfo);
BOOL DeviceWrite(PortRecord* record, LPBYTE buffer, DWORD count, LPDWORD written);
// Not gated: port/device_read.h is the gate every read of ours passes.
BOOL DeviceRead(PortRecord* record, LPBYTE buffer, DWORD count, LPDWORD read);
BOOL DeviceEndDoc(PortRecord* record);
BOOL DeviceClose(PortRecord* record);

// Whether the device monitor offers GetPrinterDataFromPort at all.
bool HasDevicePrinterData(const PortRecord* record);
// The device monitor's GetPrinterDataFromPort; the buffers are passed on as the
// spooler gave them (ANSI or UTF-16 by the face).
BOOL DevicePrinterData(PortRecord* record, DWORD controlId, SpoolerText valueName, LPVOID inBuffer,
                       DWORD inSize, LPVOID outBuffer, DWORD outSize, LPDWORD returned);

// Asks the device monitor for the printer's IEEE 1284 device ID in the face's way
// and leaves the ID text alone at the start of `id` (length bytes removed, and
// their room zeroed). Returns the number of bytes of it, 0 when the port gave none
// (no entry for the request, a refusal, or an empty answer): then the port has no
// device ID. The last byte of `id` is never written, so a zeroed buffer stays
// terminated whatever the device sends.
DWORD QueryDeviceId(PortRecord* record, char (&id)[DEVICE_ID_MAX_SIZE + 1]);
