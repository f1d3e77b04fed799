// The self-test's device monitor and its emulated printer (see device_port.h).
// Fixed buffers only: this program has no C runtime and no heap containers.
#include "selftest/device_port.h"

namespace selftest {
namespace {

constexpr char kDeviceId[] = "MFG:KOVIR;CMD:REMOTE1;MDL:KP-210S;CLS:PRINTER;";
constexpr DWORD kDeviceIdControl = 17;
constexpr char kStatusReply[] = "STATUS KVR1 04 READY;ERR:00;";
constexpr char kInkData[] = "BLACK=72%;CYAN=45%;MAGENTA=88%;YELLOW=30%;";
constexpr BYTE kReset[] = {0x1B, 0x40, 0x1B, 0x40};
constexpr BYTE kIntroducer[] = {0x1B, 0x28, 0x52, 0x08, 0x00, 0x00, 0x52,
                                0x45, 0x4D, 0x4F, 0x54, 0x45, 0x31};
constexpr BYTE kTerminator[] = {0x1B, 0x00, 0x00, 0x00};

// The one port's handle. A function, not a constant: a pointer made from a number is
// not a constant expression, and nothing here may need start-up code to run.
HANDLE PortHandle() {
  return reinterpret_cast<HANDLE>(0x4B56);
}

// Everything the printer has to say and has seen. Guarded by `lock`.
struct Printer {
  CRITICAL_SECTION lock;
  BOOL documentOpen;
  char backChannel[512];
  DWORD pending;  // bytes in backChannel, oldest first
  BYTE* job;
  DWORD capacity;
  PrinterLog log;
};
Printer printer;

bool SameBytes(const BYTE* a, const BYTE* b, DWORD count) {
  for (DWORD i = 0; i < count; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

void Say(const char* bytes, DWORD count) {
  if (count > sizeof printer.backChannel - printer.pending) return;  // a full printer drops it
  for (DWORD i = 0; i < count; ++i) printer.backChannel[printer.pending + i] = bytes[i];
  printer.pending += count;
}

void AnswerInkQuery() {
  const DWORD length = sizeof kInkData - 1;
  char reply[3 + 2 + sizeof kInkData] = {'I', 'Q', ':', static_cast<char>(length & 0xFF),
                                         static_cast<char>(length >> 8)};
  for (DWORD i = 0; i < length; ++i) reply[5 + i] = kInkData[i];
  Say(reply, 5 + length);
}

// A write that is one whole remote-mode block, perhaps after the reset: the
// commands are logged and answered, and true is returned. Anything else is job
// data (false), as a printer that is not in remote mode prints what it gets.
bool TakeCommandBlock(const BYTE* bytes, DWORD count) {
  DWORD at = 0;
  const bool reset = count >= sizeof kReset && SameBytes(bytes, kReset, sizeof kReset);
  if (reset) at = sizeof kReset;
  if (count - at < sizeof kIntroducer + sizeof kTerminator ||
      !SameBytes(bytes + at, kIntroducer, sizeof kIntroducer) ||
      !SameBytes(bytes + count - sizeof kTerminator, kTerminator, sizeof kTerminator)) {
    return false;
  }
  const DWORD end = count - sizeof kTerminator;
  // Check the commands' shape before acting on any of them.
  DWORD p = at + sizeof kIntroducer;
  while (p + 4 <= end) p += 4 + (bytes[p + 2] | (bytes[p + 3] << 8));
  if (p != end) return false;

  ++printer.log.commandBlocks;
  for (p = at + sizeof kIntroducer; p < end; p += 4 + (bytes[p + 2] | (bytes[p + 3] << 8))) {
    const DWORD parameterLength = bytes[p + 2] | (bytes[p + 3] << 8);
    if (bytes[p] == 'S' && bytes[p + 1] == 'T') {
      ++printer.log.statusCommands;
      printer.log.statusParameter[0] = parameterLength > 0 ? bytes[p + 4] : 0xFF;
      printer.log.statusParameter[1] = parameterLength > 1 ? bytes[p + 5] : 0xFF;
      printer.log.statusResetFirst = reset;
      Say(kStatusReply, sizeof kStatusReply - 1);
    } else if (bytes[p] == 'I' && bytes[p + 1] == 'Q') {
      if (printer.log.inkQueries++ == 0) {
        printer.log.inkQueryAfterStatus = printer.log.statusCommands != 0;
      }
      AnswerInkQuery();
    }
  }
  return true;
}

void VolunteerStatusUpdate() {
  char update[64];
  const int length =
      wsprintfA(update, "%sERR:00;SEQ:%04lu;", kStatusUpdatePrefix, ++printer.log.statusUpdates);
  Say(update, static_cast<DWORD>(length));
}

struct PrinterLock {
  PrinterLock() { EnterCriticalSection(&printer.lock); }
  ~PrinterLock() { LeaveCriticalSection(&printer.lock); }
};

BOOL WINAPI OpenPort(LPSTR, PHANDLE handle) {
  *handle = PortHandle();
  return TRUE;
}

BOOL WINAPI StartDocPort(HANDLE port, LPSTR, DWORD, DWORD, LPBYTE) {
  if (port != PortHandle()) return FALSE;
  PrinterLock lock;
  printer.documentOpen = TRUE;
  return TRUE;
}

BOOL WINAPI WritePort(HANDLE port, LPBYTE bytes, DWORD count, LPDWORD written) {
  *written = 0;
  if (port != PortHandle()) return FALSE;
  PrinterLock lock;
  if (!TakeCommandBlock(bytes, count)) {
    for (DWORD i = 0; i < count; ++i) {
      const DWORD at = printer.log.jobBytes + i;
      if (at < printer.capacity) printer.job[at] = bytes[i];
    }
    printer.log.jobBytes += count;
  }
  *written = count;
  return TRUE;
}

BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read) {
  *read = 0;
  if (port != PortHandle()) return FALSE;
  PrinterLock lock;
  if (!printer.documentOpen) {
    ++printer.log.readsAfterEnd;
    return FALSE;
  }
  if (printer.pending == 0) VolunteerStatusUpdate();
  const DWORD taken = count < printer.pending ? count : printer.pending;
  for (DWORD i = 0; i < taken; ++i) buffer[i] = static_cast<BYTE>(printer.backChannel[i]);
  for (DWORD i = taken; i < printer.pending; ++i) {
    printer.backChannel[i - taken] = printer.backChannel[i];
  }
  printer.pending -= taken;
  *read = taken;
  return TRUE;
}

BOOL WINAPI EndDocPort(HANDLE port) {
  if (port != PortHandle()) return FALSE;
  PrinterLock lock;
  printer.documentOpen = FALSE;
  printer.pending = 0;
  return TRUE;
}

BOOL WINAPI ClosePort(HANDLE port) {
  return port == PortHandle() ? TRUE : FALSE;
}

// Control code 17: the device ID, terminated when there is room.
BOOL WINAPI GetPrinterDataFromPort(HANDLE port, DWORD controlId, LPSTR, LPSTR, DWORD, LPSTR out,
                                   DWORD outSize, LPDWORD returned) {
  if (port != PortHandle() || controlId != kDeviceIdControl || out == nullptr) return FALSE;
  DWORD copied = 0;
  for (; copied < sizeof kDeviceId - 1 && copied < outSize; ++copied)
    out[copied] = kDeviceId[copied];
  if (copied < outSize) out[copied] = '\0';
  *returned = copied;
  return TRUE;
}

BOOL WINAPI OpenPortNt(HANDLE, LPWSTR, PHANDLE handle) {
  *handle = PortHandle();
  return TRUE;
}

BOOL WINAPI StartDocPortNt(HANDLE port, LPWSTR, DWORD jobId, DWORD level, LPBYTE info) {
  return StartDocPort(port, nullptr, jobId, level, info);
}

// The parallel port driver's answer: the device ID and a NUL.
BOOL WINAPI GetPrinterDataFromPortNt(HANDLE port, DWORD controlId, LPWSTR, LPWSTR, DWORD,
                                     LPWSTR out, DWORD outSize, LPDWORD returned) {
  if (controlId != IOCTL_PAR_QUERY_DEVICE_ID || outSize < sizeof kDeviceId) return FALSE;
  return GetPrinterDataFromPort(port, kDeviceIdControl, nullptr, nullptr, 0,
                                reinterpret_cast<LPSTR>(out), outSize, returned);
}

void SetUpPrinter(BYTE* jobBuffer, DWORD capacity) {
  InitializeCriticalSection(&printer.lock);
  printer.job = jobBuffer;
  printer.capacity = capacity;
}

}  // namespace

void SetUpDevicePort(MONITOR2* table, BYTE* jobBuffer, DWORD capacity) {
  SetUpPrinter(jobBuffer, capacity);
  table->cbSize = static_cast<DWORD>(reinterpret_cast<BYTE*>(&table->pfnShutdown) -
                                     reinterpret_cast<BYTE*>(table) + sizeof table->pfnShutdown);
  table->pfnOpenPort = OpenPortNt;
  table->pfnStartDocPort = StartDocPortNt;
  table->pfnWritePort = WritePort;
  table->pfnReadPort = ReadPort;
  table->pfnEndDocPort = EndDocPort;
  table->pfnClosePort = ClosePort;
  table->pfnGetPrinterDataFromPort = GetPrinterDataFromPortNt;
}

void SetUpDevicePort(MONITOR* table, BYTE* jobBuffer, DWORD capacity) {
  SetUpPrinter(jobBuffer, capacity);
  table->pfnOpenPort = OpenPort;
  table->pfnStartDocPort = StartDocPort;
  table->pfnWritePort = WritePort;
  table->pfnReadPort = ReadPort;
  table->pfnEndDocPort = EndDocPort;
  table->pfnClosePort = ClosePort;
  table->pfnGetPrinterDataFromPort = GetPrinterDataFromPort;
}

PrinterLog ReadPrinterLog() {
  PrinterLock lock;
  return printer.log;
}

}  // namespace selftest
