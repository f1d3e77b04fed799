// Test rig: an emulated device monitor (the port monitor the spooler stacks us on)
// driving one emulated printer per port name. Tests and the demo use it; the
// product never includes it.
//
// The table returned by DeviceMonitor() has the Windows 95 layout. Every call made
// through it is logged with its arguments, and every slot the monitor calls can be
// made to fail on demand. State is process-wide and guarded by its own mutex, so
// spooler threads and poller threads may call in at once.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "emulator/printer_replies.h"
#include "monitor/monitor_table.h"
#include "platform/win32.h"

namespace emu {

enum class Slot {
  OpenPort,
  StartDocPort,
  WritePort,
  ReadPort,
  EndDocPort,
  ClosePort,
  GetPrinterDataFromPort
};

enum class Fault {
  None,
  Refuse,      // the call returns FALSE (with SetLastError(ERROR_ACCESS_DENIED)), nothing done
  ShortWrite,  // WritePort: accepts only half the bytes (at least one fewer), returns TRUE
  EmptyRead,   // ReadPort / GetPrinterDataFromPort: returns TRUE with 0 bytes
  ReadError,   // ReadPort: returns FALSE with 0 bytes (and leaves the back channel alone)
};

// How many of the next calls of a slot get the fault: 1 (once), 2 (twice), or
// kAlways. Cleared by ClearFaults() and Reset().
constexpr int kAlways = -1;

struct Call {
  Slot slot;
  std::string port;  // port name the device port handle belongs to
  std::string text;  // printer name (StartDocPort), value name (GetPrinterData)
  DWORD number = 0;  // job id (StartDocPort), control id (GetPrinterData), byte count asked
  DWORD result = 0;  // the BOOL returned
  DWORD bytes = 0;   // bytes written / read / returned
  // Further arguments and effects, where the slot has them.
  HANDLE handle = nullptr;  // the device port handle passed (or stored, for OpenPort)
  DWORD level = 0;          // StartDocPort: level
  DWORD inSize = 0;         // GetPrinterDataFromPort: input size
  DWORD outSize = 0;        // GetPrinterDataFromPort: output size
  bool inBuffer = false;    // GetPrinterDataFromPort: an input buffer was given
  DWORD error = 0;          // the last-error code set when the call failed
  std::string data;         // bytes accepted (WritePort), delivered (ReadPort, GetPrinterData)
};

// The emulated device monitor's table. pfnEnumPorts, pfnAddPort, pfnConfigurePort,
// pfnDeletePort and pfnSetPortTimeOuts are null; the other slots are filled, and
// pfnGetPrinterDataFromPort can be removed with SetDeviceDataSupported(false).
MONITOR* DeviceMonitor();
void SetDeviceDataSupported(bool supported);

// Forgets every printer, call and fault and restores the table.
void Reset();

// Printers. A port whose name has no printer attached cannot be opened
// (pfnOpenPort fails with ERROR_FILE_NOT_FOUND). Port names match ignoring case.
struct PrinterOptions {
  std::string deviceId = "MFG:KOVIR;CMD:REMOTE1;MDL:KP-210S;CLS:PRINTER;";
  bool answersCommands = true;         // reply to status commands and the ink query
  bool inkReady = true;                // status reply carries "04" at offsets 12-13
  int replyDelayReads = 0;             // a reply becomes readable only after this many reads
  std::size_t readChunk = 0;           // the most one read returns (0: as much as asked)
  DWORD statusUpdateEveryMs = 0;       // while a document is open, queue a status update
                                       // this often (0: never)
  bool answersInkQuery = true;         // with answersCommands: also answer the ink query
  InkLevels ink = DefaultInkLevels();  // what the ink reply reports
};
void AttachPrinter(const std::string& portName, const PrinterOptions& options = {});
void DetachPrinter(const std::string& portName);

// Raw device-ID bytes, as many as given (they need not be terminated).
void SetDeviceId(const std::string& portName, const std::string& bytes);
void SetPrinterOptions(const std::string& portName, const PrinterOptions& options);
// Appends bytes the printer has to say to its back channel.
void QueueBackChannel(const std::string& portName, const std::string& bytes);
std::size_t PendingBackChannel(const std::string& portName);

// Everything the printer received, in order: job bytes and commands alike.
std::string Received(const std::string& portName);
void ClearReceived(const std::string& portName);
// The remote-mode blocks the printer recognised in what it received, in order,
// each with its exact bytes.
std::vector<std::string> Commands(const std::string& portName);

// Whether the device monitor has a document open / the port open.
bool DocumentOpen(const std::string& portName);
bool PortOpen(const std::string& portName);
// The device port handle pfnOpenPort gave out for the port, or null when it is not open.
HANDLE PortHandle(const std::string& portName);

// Fault injection.
void InjectFault(Slot slot, Fault fault, int times = 1);
void ClearFaults();

// The call log.
std::vector<Call> Calls();
std::vector<Call> CallsTo(Slot slot);
void ClearCalls();

const char* SlotName(Slot slot);

}  // namespace emu
