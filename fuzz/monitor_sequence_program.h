// The input of monitor_sequence_fuzzer: a small program of operations on the
// monitor, the printers behind it and the status application, in two forms.
//
// Binary (what libFuzzer mutates): a set-up of SETUP_BYTES bytes (the spooler's
// face, per printer its registration, per port its printer and device), then
// operations, each an opcode byte and its argument bytes. Every byte is taken modulo the range of
// what it stands for, so any bytes make a program; a short input reads as if
// padded with zero bytes, and zero picks every default.
//
// Text (what a person reads and writes; the seeds are kept in it): one line per
// set-up entry or operation, '#' starts a comment:
//
//   face nt
//   printer 0 model=KP-210S app=1 poll=on interval=20
//   port 0 printer=0 device=KP-210S replies=all delay=0 chunk=0 updates=0 kind=usb
//   open 0 same
//   start 0 own
//   write 0 4096 pattern 7
//   end 0
//
// Set-up lines name their fields and may leave some out; operations take their
// arguments in order, and may leave out trailing ones. What is left out takes its
// first value, as a zero byte does: a program without a face line drives the
// Windows 95 face, a port without a kind is on a parallel port. ToText writes everything, so the
// text of an input encodes back to bytes that run the same program.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sequence {

constexpr int kPorts = 4;
constexpr int kPrinters = 3;
constexpr int kMaxArgs = 4;
// Operations beyond these are not run: one input stays well under a second.
constexpr std::size_t kMaxOps = 40;

// One argument: a number in [offset, offset + range), one of `range` numbers from
// a table, or one of `range` words. Its byte holds the index.
struct ArgForm {
  const char* name;
  int range;
  const char* const* words = nullptr;
  const int* numbers = nullptr;
  int offset = 0;
};

struct LineForm {
  const char* name;
  int argCount;
  ArgForm args[7];  // the most any line has: a port's set-up
};

// Printer registration, in set-up order.
enum PrinterField { kModel, kApp, kPoll, kInterval, kPrinterFields };
// Port set-up, in set-up order.
enum PortField { kPrinter, kDevice, kReplies, kDelay, kChunk, kUpdates, kKind, kPortFields };

// The spooler the program plays: Windows 95's (InitializeMonitorEx's MONITOR, ANSI
// names) or the NT family's (InitializePrintMonitor2's MONITOR2, UTF-16 names,
// instances). The first set-up byte.
enum class Face : std::uint8_t { Win95, Nt };

constexpr std::size_t SETUP_BYTES = 1 + kPrinters * kPrinterFields + kPorts * kPortFields;

enum class Code : std::uint8_t {
  Open,         // port, case of the name, NT face: the instance it goes through
  Start,        // port, which printer name StartDocPort gets
  Write,        // port, size, content, seed
  Read,         // port, size
  End,          // port
  Close,        // port
  Say,          // port, what the printer queues, length of random bytes
  App,          // printer, value, form, data
  Fault,        // slot, mode, times, after
  ClearFaults,  //
  Rename,       // printer
  Pause,        // milliseconds
  Endless,      // port, on or off
  GetData,      // port, control code, output size
  Offline,      // port, block time
  AppAt,        // printer, value, data, device-monitor slot
  Initialize,   // NT face: a new instance (InitializePrintMonitor2)
  Shutdown,     // NT face: an instance's Shutdown, the newest or the oldest one live
  CloseDuring,  // port, the call left blocked, the closer's delay, ClosePort or Shutdown
  OpenDuring,   // port, ClosePort or Shutdown, when the closer comes to the held open
  Count
};

struct Op {
  Code code;
  std::array<std::uint8_t, kMaxArgs> arg{};
};

struct Program {
  Face face = Face::Win95;
  std::array<std::array<std::uint8_t, kPrinterFields>, kPrinters> printers{};
  std::array<std::array<std::uint8_t, kPortFields>, kPorts> ports{};
  std::vector<Op> ops;
};

// The tables behind the arguments, for the fuzzer to turn indices into values.
// Words and numbers in the text are these, in this order.
extern const char* const kFaceWords[];      // the spooler's face, in Face order
extern const char* const kModelWords[];     // registered model (IDMDL), or none, or no key
extern const int kAppFlags[];               // StMonExistFlag at set-up
extern const char* const kDeviceWords[];    // the device ID a port's printer reports
extern const char* const kReplyWords[];     // how a port's printer answers commands
extern const char* const kKindWords[];      // how the printer is attached, in emu::PortKind order
extern const int kChunkSizes[];             // most bytes one read returns (0: no limit)
extern const int kUpdatePeriods[];          // ms between volunteered status updates (0: none)
extern const char* const kNameWords[];      // printer name StartDocPort is given
extern const int kSizes[];                  // bytes written or read
extern const char* const kContentWords[];   // what written bytes hold
extern const char* const kSayWords[];       // what the printer queues
extern const char* const kValueWords[];     // the application's values
extern const char* const kFormWords[];      // how the application writes one
extern const char* const kSlotWords[];      // device-monitor slots, in emu::Slot order
extern const char* const kModeWords[];      // faults, in emu::Fault order from Refuse
extern const char* const kTimesWords[];     // once, twice, always
extern const int kControlCodes[];           // GetPrinterDataFromPort control codes (both faces')
extern const int kOutSizes[];               // its output sizes
extern const int kOfflineTimes[];           // ms each read and write blocks off line (0: on line)
extern const char* const kHeldCallWords[];  // the call a close-during leaves at work
extern const char* const kCloseWhen[];      // when the closer comes: after so many ms, or at
                                            // the port's next device write or read
extern const char* const kOpenCloseWhen[];  // when an open-during's closer comes

const LineForm& FaceForm();
const LineForm& PrinterForm();
const LineForm& PortForm();
const LineForm& OpForm(Code code);

// Reads any bytes as a program (of at most kMaxOps operations).
Program Decode(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> Encode(const Program& program);

std::string ToText(const Program& program);
std::string ToText(const Op& op);  // one line, without its newline
// Parses the text form; on a mistake (or more than kMaxOps operations) returns
// false with `error` naming the line.
bool FromText(const std::string& text, Program& program, std::string& error);

}  // namespace sequence
