// Test rig: an emulated device monitor (the port monitor the spooler stacks us on)
// driving one emulated printer per port name. Tests and the demo use it; the
// product never includes it.
//
// The table returned by DeviceMonitor() has the Windows 95 layout. Every call made
// through it is logged with its arguments as it returns (so the log's order is the
// order in which calls ended), and every slot the monitor calls can be made to
// fail on demand. Spooler threads and poller threads may call in at once:
// each port has its own lock, so calls on one port act one at a time, in the
// order they get the port, while calls on different ports never wait for each
// other (a real port monitor's ports do not).
//
// What the slots do, beyond passing bytes to and from the printer:
// - pfnOpenPort fails with ERROR_FILE_NOT_FOUND when no printer is attached to the
//   name and with ERROR_BUSY when the port is already open, unless shared opens
//   are allowed (SetSharedOpens), as a network port monitor allows them. Handles are the rig's
//   own numbers, never reused: any call with a handle that is not open fails with
//   ERROR_INVALID_HANDLE.
// - pfnStartDocPort fails with ERROR_BUSY while a document is open.
// - pfnWritePort and pfnReadPort fail with ERROR_INVALID_HANDLE while no document
//   is open; they set the count to 0 on every failure.
// - pfnEndDocPort succeeds also with no document open; pfnClosePort abandons an
//   open document.
// - pfnGetPrinterDataFromPort answers control code 17 with the device ID: the raw
//   bytes, cut to the output size, a NUL behind them only if there is room (so an
//   ID that fills the buffer arrives unterminated), and the number of ID bytes
//   copied as the returned size. Every other control code fails with
//   ERROR_INVALID_PARAMETER. The port need not have a document open.
// - A fault is used up only by calls with a valid handle (and, for reads and
//   writes, an open document). A fault that makes no sense for a slot (a short
//   write on a read) acts as Refuse. A faulted read never reaches the printer, so
//   it does not count towards replyDelayReads.
// - A port set off line (SetOffline) blocks each pfnReadPort and pfnWritePort
//   call for the set time before the call goes on as it would otherwise, as a
//   port monitor does while it waits out its time-out. The blocked call holds no
//   lock: the port's other calls, the other ports and the test go on meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "emulator/printer_replies.h"
#include "platform/spooler_nt.h"
#include "platform/win32.h"
#include "port/monitor_table.h"

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
  OverReport,  // ReadPort: fills the whole buffer with '?', returns TRUE and reports twice as
               // many bytes as were asked for: a device monitor that lies about its count
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
// Lets pfnOpenPort open a port that is open already, giving out another handle.
// Off after Reset().
void SetSharedOpens(bool shared);

// NT mode: the same port monitor through a MONITOR2 of the Windows 2000 size, the
// same slots filled, names in UTF-16 (logged in UTF-8). Its pfnOpenPort wants
// kPortMonitorInstance as the port monitor's instance handle (ERROR_INVALID_HANDLE
// otherwise); its pfnGetPrinterDataFromPort answers the device-ID controls by the
// printer's PortKind, not control code 17.
MONITOR2* DeviceMonitor2();
inline const HANDLE kPortMonitorInstance = reinterpret_cast<HANDLE>(0x4D4F4E32);  // "MON2"
// A table whose cbSize ends behind pfnClosePort, as an older or smaller port
// monitor's might; the entries behind it are still filled, so a monitor that reads
// past cbSize calls them (and the log shows it). Reset() restores the full size.
constexpr DWORD kShortMonitor2Size = static_cast<DWORD>(offsetof(MONITOR2, pfnAddPort));
void SetDeviceMonitor2Size(DWORD cbSize);
// Leaves a slot's entry out of the NT table (null), as a port monitor that does
// not offer the call. Reset() puts it back.
void RemoveDeviceMonitor2Entry(Slot slot);
// Holds every pfnOpenPort (of either table) at its start until released, as a
// port monitor whose device takes its time to answer; HeldOpens() says how many
// wait now. Reset() releases them.
void HoldOpens(bool hold);
std::size_t HeldOpens();

// Forgets every printer, call and fault and restores the table.
void Reset();

// The device ID the maker's printer of `model` reports.
inline std::string DeviceIdFor(const std::string& model) {
  return "MFG:KOVIR;CMD:REMOTE1;MDL:" + model + ";CLS:PRINTER;";
}

// Printers. A port whose name has no printer attached cannot be opened
// (pfnOpenPort fails with ERROR_FILE_NOT_FOUND). Port names match ignoring case.
// How the printer is attached, which decides the NT table's device-ID answers.
enum class PortKind {
  Parallel,  // answers IOCTL_PAR_QUERY_DEVICE_ID
  Usb,       // answers IOCTL_USBPRINT_GET_1284_ID, two length bytes first
  Network,   // answers neither
};

struct PrinterOptions {
  std::string deviceId = DeviceIdFor("KP-210S");
  PortKind kind = PortKind::Parallel;
  bool answersCommands = true;  // reply to status commands and the ink query
  bool inkReady = true;         // status reply carries "04" at offsets 12-13
  int replyDelayReads = 0;      // a reply becomes readable only after this many reads (with 2, the
                                // third read after the command returns it)
  std::size_t readChunk = 0;    // the most one read returns (0: as much as asked)
  // While a document is open, a status update falls due this often (0: never).
  // Updates are queued when a read arrives and the printer owes no reply (none
  // readable, none held back); several due since the last read collapse into the
  // newest, numbered by how many periods have passed.
  DWORD statusUpdateEveryMs = 0;
  // While a document is open, every read is filled in full (as much as asked, at
  // most readChunk): behind whatever is queued, the printer always has more status
  // text to say, as a printer or device monitor whose back channel never runs dry.
  bool neverRunsDry = false;
  bool answersInkQuery = true;         // with answersCommands: also answer the ink query
  InkLevels ink = DefaultInkLevels();  // what the ink reply reports
  // Keep every received byte (Received(), and the bytes of each WritePort in the
  // call log). False is the compact mode for very long jobs: only the count and
  // the running digest of the received bytes are kept (ReceivedCount,
  // ReceivedDigest), plus the tail of a remote-mode block not complete yet, so
  // blocks are still recognised and answered; WritePort calls are logged without
  // their bytes.
  bool keepReceived = true;
};
// Attaching to a name that has a printer replaces it with a fresh one (nothing
// received, nothing queued, no document open).
void AttachPrinter(const std::string& portName, const PrinterOptions& options = {});
void DetachPrinter(const std::string& portName);

// Raw device-ID bytes, as many as given (they need not be terminated).
void SetDeviceId(const std::string& portName, const std::string& bytes);
// Replaces every option (the device ID included); what the printer received and
// has queued stays.
void SetPrinterOptions(const std::string& portName, const PrinterOptions& options);
// Appends bytes the printer has to say to its back channel, readable at once.
void QueueBackChannel(const std::string& portName, const std::string& bytes);
// Off line: every read and write on the port blocks for `blockMs` first; 0 ends
// it and releases the calls blocked now at once (so does Reset). Attaching a
// printer again puts its port back on line.
void SetOffline(const std::string& portName, DWORD blockMs);
// How many reads and writes on the port are waiting out its block right now: a
// test knows when the port's poller is stuck in its device.
std::size_t BlockedCalls(const std::string& portName);
// Bytes still to be read, replies held back by replyDelayReads included.
std::size_t PendingBackChannel(const std::string& portName);

// Everything the printer received, in order: job bytes and commands alike.
std::string Received(const std::string& portName);
// How many bytes the printer received, and their running digest (Digest from
// kDigestStart over all of them, in order), since it was attached or last cleared.
// Kept in both modes.
std::uint64_t ReceivedCount(const std::string& portName);
std::uint64_t ReceivedDigest(const std::string& portName);
// 64-bit FNV-1a, continued from `digest` over `count` bytes: a test hashes what it
// sent the same way and compares, without keeping the bytes.
constexpr std::uint64_t kDigestStart = 0xcbf29ce484222325ull;
std::uint64_t Digest(std::uint64_t digest, const char* bytes, std::size_t count);
// Forgets the received bytes (count and digest too) and the recognised blocks (a block cut in half
// by the clear is lost).
void ClearReceived(const std::string& portName);
// The remote-mode blocks the printer recognised in what it received, in order,
// each with its exact bytes, including an ESC @ ESC @ right in front of it. A
// block split over several writes is recognised when its last byte arrives.
std::vector<std::string> Commands(const std::string& portName);

// Whether the device monitor has a document open / the port open.
bool DocumentOpen(const std::string& portName);
bool PortOpen(const std::string& portName);
// The device port handle pfnOpenPort gave out for the port, or null when it is not open.
HANDLE PortHandle(const std::string& portName);

// Fault injection. The first `after` calls of the slot (counted as faults are used
// up) pass unharmed, then `times` calls get the fault: a fault can hit the n-th
// call of a slot, such as the second write of a job's start.
void InjectFault(Slot slot, Fault fault, int times = 1, int after = 0);
void ClearFaults();

// The call log.
std::vector<Call> Calls();
std::vector<Call> CallsTo(Slot slot);
void ClearCalls();

// Watching the calls as they happen (the demo's timeline, the benchmarks' read
// times): `hook` gets each call as it is logged, on the thread that made it and
// with the rig's log lock (and the call's port lock) held, so calls reach it one
// at a time and in log order; it may write the registry (a status application
// acting at the moment of a call) but must not call back into the rig. With `keepLog` false the
// calls go to the hook only, so a long run does not grow the log. Reset() removes the hook.
using CallHook = std::function<void(const Call&)>;
void SetCallHook(CallHook hook, bool keepLog = true);

const char* SlotName(Slot slot);

}  // namespace emu
