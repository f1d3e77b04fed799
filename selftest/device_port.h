// The self-test's device monitor: one port in this process with an emulated KOVIR
// KP-210S behind it. The monitor under test is stacked on it as the spooler would
// stack it on a parallel port's monitor, through the same 13-slot table.
//
// The printer answers as the monitor expects a KOVIR printer to:
// - its IEEE 1284 device ID names MFG KOVIR and MDL KP-210S;
// - a remote-mode block (ESC ( R, length 8, 00 "REMOTE1", two-letter commands with
//   16-bit little-endian parameter lengths, ESC 00 00 00), written on its own, is
//   a command: ST is answered with the status "STATUS KVR1 04 READY;ERR:00;"
//   (ready for the ink query: "04" at offsets 12-13), IQ with the ink levels as
//   "IQ:", two length bytes and the ink data;
// - every other write is job data, kept for the byte-exact comparison;
// - while a document is open, a read that finds nothing owed gets a status
//   update, "STATUS KVR1 03 PRINTING;ERR:00;SEQ:nnnn;".
// Every slot takes one lock, since the monitor's poller reads on its own thread
// while the self-test writes the job.
#pragma once

#include "platform/spooler_nt.h"
#include "port/monitor_table.h"

namespace selftest {

constexpr char kPrinterModel[] = "KP-210S";
// What the monitor must store in InkLevel: the ink reply without its length bytes.
constexpr char kExpectedInkLevel[] = "IQ:BLACK=72%;CYAN=45%;MAGENTA=88%;YELLOW=30%;";
constexpr char kStatusUpdatePrefix[] = "STATUS KVR1 03 PRINTING;";

// What the printer has seen, copied out under its lock.
struct PrinterLog {
  DWORD commandBlocks;       // remote-mode blocks received
  DWORD statusCommands;      // ST commands among them
  BYTE statusParameter[2];   // the last ST's parameter: 00 01 is StatusCommandA
  BOOL statusResetFirst;     // the last ST's block came after ESC @ ESC @
  DWORD inkQueries;          // IQ commands
  BOOL inkQueryAfterStatus;  // the first IQ came after the first ST
  DWORD jobBytes;            // bytes of job data received (also beyond the buffer)
  DWORD statusUpdates;       // updates volunteered
  DWORD readsAfterEnd;       // reads that reached the port with no document open
};

// Prepares the device monitor and its printer, and fills `table` with its slots.
// Job data goes to `jobBuffer`, `capacity` bytes.
void SetUpDevicePort(MONITOR* table, BYTE* jobBuffer, DWORD capacity);
// The same port monitor as the NT family's spooler hands it over: a MONITOR2 of
// the Windows 2000 size, wide strings, and the device ID as a parallel port's
// driver answers IOCTL_PAR_QUERY_DEVICE_ID.
void SetUpDevicePort(MONITOR2* table, BYTE* jobBuffer, DWORD capacity);
PrinterLog ReadPrinterLog();

}  // namespace selftest
