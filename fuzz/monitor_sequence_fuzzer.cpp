// The whole monitor under random call sequences: several ports, printers and
// threads, the status application, and a device monitor that misbehaves.
//
// The input is a small program (monitor_sequence_program.h): up to four ports on
// three spooler printers, each port's emulated printer reporting one of a few
// device IDs, each printer's registration with the status application, and then
// operations: the spooler's calls through the MONITOR table that
// InitializeMonitorEx filled, stacked on the emulator's device monitor; the
// printers talking on their back channels; the application setting and deleting
// its values; device-monitor faults; printer renames; short pauses in which the
// pollers run. Poll intervals are tens of milliseconds and Sleep runs at 1/100 of
// its time, so that pollers and the job-start exchange really run inside one
// input, which takes well under a second.
//
// Invariants, each failing with abort() and a one-line reason:
// 1. no pass-through or back-channel call reaches the device monitor unless the
//    monitor has a device document open there (checked as the call is made);
// 2. the bytes a document's WritePort calls accepted arrive at that port's
//    printer exactly, in order; nothing else arrives, but the status command and
//    ink query of a job start, and the ink query only after a ready status reply;
// 3. every registry value the monitor writes lands in the key of the document
//    running, or just ended, on the port it writes for: the spooler's port for
//    writes inside a spooler call, the poller's own port for a poller's. So
//    nothing lands anywhere else, and no printer's value in another's key;
// 4. after EndDocPort that printer's LanMonExistFlag is 0 and the port has no
//    poller thread;
// 5. no operation takes longer than 5 s (a watchdog thread);
// 6. at the end every port is closed, and the heap blocks, handles, keys, printer
//    handles and threads are back where they started.
//
// KOVIRLM_SEQUENCE_TRACE=1 prints each operation with its result as it runs.
#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/device_monitor.h"
#include "emulator/printer_replies.h"
#include "emulator/status_app.h"
#include "fuzz/monitor_sequence_program.h"
#include "fuzz/monitor_sequence_watch.h"
#include "monitor/monitor.h"
#include "monitor/port_list.h"
#include "platform/diagnostics.h"
#include "port/port_record.h"
#include "printer_status/device_id.h"
#include "printer_status/remote_commands.h"
#include "status_store/status_key.h"

namespace {

using namespace sequence;
namespace app = emu::status_app;

constexpr int kPauseBudgetMs = 250;  // all pauses of one input together
constexpr DWORD kSleepDivisor = 100;
// How long the application's real-time thread runs once StartDocPort waits for it.
constexpr auto kApplicationThreadRuns = std::chrono::milliseconds(20);
constexpr DWORD kFirstJobId = 100;

const char* const kPortNames[kPorts] = {"SEQ1:", "SEQ2:", "SEQ3:", "SEQ4:"};
const char* const kPrinterNames[kPrinters] = {"KOVIR Alpha", "KOVIR Beta", "KOVIR Gamma"};
// What the application may register as IDMDL, by the data byte of "app N IDMDL set".
const char* const kRegisteredModels[] = {"KP-210S", "KP-6600S", "DL-9240", "KP-6600SU", "Laser 5"};

MONITOR gSpooler{};  // filled once by InitializeMonitorEx
bool gTrace = false;

struct Port {
  std::string name;
  int printer = 0;
  emu::PrinterOptions options;
  PortRecord* record = nullptr;  // while open
  // The printer whose key the document running here, or the last one, uses;
  // none once it has ended or the port closed.
  std::optional<std::string> documentPrinter;
};

struct Printer {
  std::string name;
  int renames = 0;
};

struct Run {
  const Program& program;
  std::array<Port, kPorts> ports{};
  std::array<Printer, kPrinters> printers{};
  std::vector<std::string> names;  // every printer name this input used
  int pauseLeft = kPauseBudgetMs;
};

// A key path the way the registry walks it: empty names between backslashes
// skipped, letter case folded.
std::string CanonicalKey(const std::string& path) {
  std::string canonical;
  std::size_t at = 0;
  while (at <= path.size()) {
    std::size_t cut = path.find('\\', at);
    if (cut == std::string::npos) cut = path.size();
    if (cut > at) canonical += (canonical.empty() ? "" : "\\") + path.substr(at, cut - at);
    at = cut + 1;
  }
  return Folded(canonical);
}

// The key the monitor selects for a document of the port's printer name, if any.
std::optional<std::string> DocumentPrinter(LPCSTR printerName) {
  if (printerName == nullptr || lstrlenA(printerName) > static_cast<int>(MAX_STATUS_PRINTER_NAME)) {
    return std::nullopt;
  }
  return std::string(printerName);
}

std::optional<std::string> KeyOf(const std::optional<std::string>& printer) {
  if (!printer) return std::nullopt;
  return CanonicalKey(app::KeyPath(*printer));
}

std::string Pattern(std::uint8_t seed, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(seed + i * 131 + (i >> 8) * 7);
  return bytes;
}

std::string Block(const auto& command) {
  return std::string(reinterpret_cast<const char*>(command.data()), command.size());
}

// Job bytes, carrying a remote-mode block in their middle if asked: the printer
// answers it as it answers the monitor's own.
std::string JobBytes(std::size_t size, int content, std::uint8_t seed) {
  std::string bytes = Pattern(seed, size);
  if (content != 0) {
    const std::string block = content == 1 ? Block(StatusCommandA) : Block(InkQueryCommand);
    const std::size_t at = size > block.size() ? (size - block.size()) / 2 : 0;
    bytes.replace(at, std::min(block.size(), size - at), block, 0,
                  std::min(block.size(), size - at));
  }
  return bytes;
}

std::string DeviceId(int kind) {
  switch (kind) {
    case 0:
      return "MFG:KOVIR;CMD:REMOTE1;MDL:KP-210S;CLS:PRINTER;";
    case 1:
      return "MFG:KOVIR;CMD:REMOTE1;MDL:KP-6600S;CLS:PRINTER;";
    case 2:
      return "MFG:KOVIR;CMD:REMOTE1;MDL:DL-9240;CLS:PRINTER;";
    case 3:
      return "MFG:ACME;CMD:PCL;MDL:Laser 5;CLS:PRINTER;";
    default: {
      // Fills the whole device-ID buffer with no terminator and no end to MDL.
      std::string id = "MFG:KOVIR;CMD:REMOTE1;MDL:KP-210S";
      id.resize(DEVICE_ID_BUFFER_SIZE, 'x');
      return id;
    }
  }
}

void Trace(const std::string& line) {
  if (gTrace) std::fprintf(stderr, "  %s\n", line.c_str());
}

// ---- set-up and clean-up -------------------------------------------------------

void Register(const Run& run, int index) {
  const auto& setup = run.program.printers[index];
  const std::string& name = run.printers[index].name;
  AsApplication application;
  app::Uninstall(name);
  const int model = setup[kModel];
  if (model == 4) return;  // no key at all
  app::Install(name, model < 3 ? kModelWords[model] : "", kAppFlags[setup[kApp]],
               setup[kPoll] == 0 ? 1 : 0, PrinterSpec().args[kInterval].offset + setup[kInterval]);
  if (model == 3) app::DeleteValue(name, VALUE_REGISTERED_MODEL);
}

void SetUp(Run& run) {
  for (int i = 0; i < kPrinters; ++i) {
    run.printers[i].name = kPrinterNames[i];
    run.names.push_back(kPrinterNames[i]);
    diag::AddSpoolerPrinter(kPrinterNames[i]);
    Register(run, i);
  }
  for (int i = 0; i < kPorts; ++i) {
    const auto& setup = run.program.ports[i];
    Port& port = run.ports[i];
    port.name = kPortNames[i];
    port.printer = setup[kPrinter];
    port.options.deviceId = DeviceId(setup[kDevice]);
    port.options.answersCommands = setup[kReplies] != 3;
    port.options.inkReady = setup[kReplies] != 1;
    port.options.answersInkQuery = setup[kReplies] != 2;
    port.options.replyDelayReads = setup[kDelay];
    port.options.readChunk = static_cast<std::size_t>(kChunkSizes[setup[kChunk]]);
    port.options.statusUpdateEveryMs = static_cast<DWORD>(kUpdatePeriods[setup[kUpdates]]);
    emu::AttachPrinter(port.name, port.options);
  }
}

void CleanUp(Run& run) {
  AsApplication application;
  for (const std::string& name : run.names) {
    app::Uninstall(name);
    diag::RemoveSpoolerPrinter(name.c_str());
  }
  emu::Reset();
}

// ---- the status application ----------------------------------------------------

// Sets or deletes one of the application's values, well-formed or not.
void SetValue(const std::string& printer, int value, int form, std::uint8_t data) {
  AsApplication application;
  const std::string name = kValueWords[value];
  const bool model = name == VALUE_REGISTERED_MODEL;
  switch (form) {
    case 0:  // well-formed
      if (model) {
        app::SetString(printer, name, kRegisteredModels[data % 5]);
      } else {
        app::SetDword(printer, name, data);
      }
      break;
    case 1:  // short: two bytes, a model without its end
      app::SetRaw(printer, name, model ? REG_SZ : REG_DWORD,
                  model ? std::string("KP-") : std::string{static_cast<char>(data), '\0'});
      break;
    case 2:  // long: eight bytes, a model of 600 characters
      app::SetRaw(printer, name, model ? REG_SZ : REG_DWORD,
                  model ? std::string(600, 'K')
                        : std::string(1, static_cast<char>(data)) + std::string(7, '\0'));
      break;
    case 3:  // the wrong type: a flag as text, a model as a number
      if (model) {
        app::SetDword(printer, name, data);
      } else {
        app::SetString(printer, name, std::to_string(data));
      }
      break;
    default:
      app::DeleteValue(printer, name);
      break;
  }
}

// Whether StRealThreadExistFlag reads as set, the way the monitor reads a flag:
// up to four bytes taken as they are, more than four not at all.
bool RealThreadFlagUp(const std::string& printer) {
  AsApplication application;
  const std::optional<std::string> raw = app::ReadRaw(printer, VALUE_STATUS_THREAD);
  return raw && raw->size() <= 4 && raw->find_first_not_of('\0') != std::string::npos;
}

// The application's real-time thread: a StartDocPort waits while its flag is up,
// for as long as it takes. The application clears it once its thread is done,
// kApplicationThreadRuns after the document began to wait.
class ApplicationThread {
 public:
  explicit ApplicationThread(const std::optional<std::string>& printer) {
    if (!printer || !RealThreadFlagUp(*printer)) return;
    thread_ = std::thread([this, name = *printer] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (done_.wait_for(lock, kApplicationThreadRuns, [this] { return stop_; })) return;
      AsApplication application;
      app::SetDword(name, VALUE_STATUS_THREAD, 0);
    });
  }
  ~ApplicationThread() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    done_.notify_all();
    thread_.join();
  }
  ApplicationThread(const ApplicationThread&) = delete;
  ApplicationThread& operator=(const ApplicationThread&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool stop_ = false;
  std::thread thread_;
};

// ---- checks --------------------------------------------------------------------

// What a job start may send: nothing, a status command or a part of it (a short
// write), or a whole one followed by the ink query or a part of it.
bool JobStartCommands(const std::string& bytes) {
  const std::string ink = Block(InkQueryCommand);
  for (const std::string& command : {Block(StatusCommandA), Block(StatusCommandB)}) {
    if (bytes.size() <= command.size() && command.compare(0, bytes.size(), bytes) == 0) return true;
    if (bytes.compare(0, command.size(), command) == 0) {
      const std::string rest = bytes.substr(command.size());
      if (rest.size() <= ink.size() && ink.compare(0, rest.size(), rest) == 0) return true;
    }
  }
  return false;
}

std::string Hex(const std::string& bytes) {
  std::string text;
  char digits[4];
  for (std::size_t i = 0; i < bytes.size() && i < 40; ++i) {
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(bytes[i]));
    text += digits;
  }
  return text + (bytes.size() > 40 ? "..." : "");
}

// Invariant 2: `written` is what the operation's own WritePort had accepted, on
// port `writePort`; `startPort` is the port of a StartDocPort (or -1).
void CheckArrivals(const Run& run, int writePort, const std::string& written, int startPort) {
  std::map<std::string, std::string> arrived = TakeArrivedBytes();
  for (int i = 0; i < kPorts; ++i) {
    const std::string& bytes = arrived[Folded(run.ports[i].name)];
    if (i == writePort) {
      if (bytes != written) {
        Fail("WritePort accepted " + std::to_string(written.size()) + " bytes on " +
             run.ports[i].name + " but " + std::to_string(bytes.size()) + " arrived (" +
             Hex(bytes) + ")");
      }
    } else if (i == startPort) {
      if (!JobStartCommands(bytes)) {
        Fail("StartDocPort sent " + run.ports[i].name + " more than its commands: " + Hex(bytes));
      }
    } else if (!bytes.empty()) {
      Fail(std::to_string(bytes.size()) + " bytes arrived at " + run.ports[i].name +
           " outside its WritePort and StartDocPort: " + Hex(bytes));
    }
  }
}

struct PortView {
  PortRecord* record;
  std::optional<std::string> key;  // canonical path of the document's key
};

std::array<PortView, kPorts> View(const Run& run) {
  std::array<PortView, kPorts> view;
  for (int i = 0; i < kPorts; ++i) {
    view[i] = {run.ports[i].record, KeyOf(run.ports[i].documentPrinter)};
  }
  return view;
}

// Invariant 3, for the changes made during one operation. A port's document key
// is the one before the operation or after it (the document that just started or
// just ended); `spoolerPort` is the port whose spooler call the operation made
// (-1 for none).
void CheckRegistry(const std::array<PortView, kPorts>& before,
                   const std::array<PortView, kPorts>& after, int spoolerPort) {
  for (const RegistryChange& change : TakeRegistryChanges()) {
    Trace("   registry: " + change.value + (change.poller != nullptr ? " (poller)" : ""));
    int port = spoolerPort;
    if (change.poller != nullptr) {
      port = -1;
      for (int i = 0; i < kPorts; ++i) {
        if (before[i].record == change.poller || after[i].record == change.poller) port = i;
      }
      if (port < 0) Fail("a thread of no open port wrote " + change.value + " in " + change.path);
    }
    const std::string who = change.poller != nullptr ? "the poller of " : "the spooler's call on ";
    if (port < 0)
      Fail("the monitor wrote " + change.value + " in " + change.path + " outside any call");
    if (change.path != before[port].key && change.path != after[port].key) {
      Fail(who + kPortNames[port] + " wrote " + change.value + " in " + change.path +
           ", not in its document's key " +
           before[port].key.value_or(after[port].key.value_or("(none)")));
    }
  }
}

// Invariant 4.
void CheckEnded(const Port& port, const std::optional<std::string>& documentPrinter) {
  if (port.record->pollerThread != nullptr || HasStatusBits(port.record, PS_POLLER_RUN)) {
    Fail("EndDocPort left a poller on " + port.name);
  }
  if (!documentPrinter) return;
  AsApplication application;
  const std::optional<std::string> flag = app::ReadRaw(*documentPrinter, VALUE_LAN_MONITOR);
  if (flag && *flag != std::string(4, '\0')) {
    Fail("after EndDocPort on " + port.name + ", LanMonExistFlag of '" + *documentPrinter +
         "' is " + Hex(*flag));
  }
}

// ---- operations ----------------------------------------------------------------

std::string NameFor(const Run& run, const Port& port, int who, bool& null) {
  null = who == 5;
  if (who == 0) return run.printers[port.printer].name;
  if (who <= 3) return run.printers[who - 1].name;
  return "";
}

// Runs one operation; returns the port whose spooler call it made, or -1, and
// sets what invariant 2 needs.
int Perform(Run& run, const Op& op, std::size_t index, int& writePort, std::string& written,
            int& startPort) {
  const auto& a = op.arg;
  Port* port = nullptr;
  if (op.code == Code::Open || op.code == Code::Start || op.code == Code::Write ||
      op.code == Code::Read || op.code == Code::End || op.code == Code::Close ||
      op.code == Code::Say || op.code == Code::Endless || op.code == Code::GetData) {
    port = &run.ports[a[0]];
  }
  // Spooler calls need an open port: a handle the spooler never got is not one it
  // could pass.
  const bool spoolerCall = op.code == Code::Start || op.code == Code::Write ||
                           op.code == Code::Read || op.code == Code::End ||
                           op.code == Code::Close || op.code == Code::GetData;
  if (spoolerCall && port->record == nullptr) return -1;
  PortRecord* record = port != nullptr ? port->record : nullptr;

  switch (op.code) {
    case Code::Open: {
      std::string name = a[1] == 0 ? port->name : Folded(port->name);
      std::string printer = run.printers[port->printer].name;
      HANDLE handle = nullptr;
      const BOOL opened =
          gSpooler.pfnOpenPortEx(name.data(), printer.data(), &handle, emu::DeviceMonitor());
      if (opened && port->record == nullptr) port->record = static_cast<PortRecord*>(handle);
      Trace("-> " + std::to_string(opened));
      return a[0];
    }
    case Code::Start: {
      bool null = false;
      std::string name = NameFor(run, *port, a[1], null);
      if (!HasStatusBits(record, PS_JOB_ACTIVE)) {
        port->documentPrinter = DocumentPrinter(record->printerName);
      }
      BOOL started = FALSE;
      {
        ApplicationThread application(port->documentPrinter);
        SetStartingPort(port->name);
        started = gSpooler.pfnStartDocPort(record, null ? nullptr : name.data(),
                                           kFirstJobId + static_cast<DWORD>(index), 1, nullptr);
        SetStartingPort("");
      }
      startPort = a[0];
      Trace("-> " + std::to_string(started));
      return a[0];
    }
    case Code::Write: {
      std::string bytes = JobBytes(static_cast<std::size_t>(kSizes[a[1]]), a[2], a[3]);
      DWORD count = 0;
      const BOOL ok = gSpooler.pfnWritePort(record, reinterpret_cast<LPBYTE>(bytes.data()),
                                            static_cast<DWORD>(bytes.size()), &count);
      if (count > bytes.size()) Fail("WritePort reports more bytes written than given");
      writePort = a[0];
      written = bytes.substr(0, count);
      Trace("-> " + std::to_string(ok) + ", " + std::to_string(count) + " written");
      return a[0];
    }
    case Code::Read: {
      std::vector<BYTE> buffer(static_cast<std::size_t>(kSizes[a[1]]) + 1);
      DWORD count = 0;
      const BOOL ok =
          gSpooler.pfnReadPort(record, buffer.data(), static_cast<DWORD>(kSizes[a[1]]), &count);
      if (count > static_cast<DWORD>(kSizes[a[1]]))
        Fail("ReadPort reports more bytes than asked for");
      Trace("-> " + std::to_string(ok) + ", " + std::to_string(count) + " read");
      return a[0];
    }
    case Code::End: {
      const std::optional<std::string> documentPrinter = port->documentPrinter;
      const BOOL ended = gSpooler.pfnEndDocPort(record);
      Trace("-> " + std::to_string(ended));
      CheckEnded(*port, documentPrinter);
      port->documentPrinter.reset();
      return a[0];
    }
    case Code::Close: {
      const BOOL closed = gSpooler.pfnClosePort(record);
      Trace("-> " + std::to_string(closed));
      port->record = nullptr;
      port->documentPrinter.reset();
      return a[0];
    }
    case Code::Say: {
      std::string bytes;
      switch (a[1]) {
        case 0:
          bytes = emu::MakeStatusReply(true);
          break;
        case 1:
          bytes = emu::MakeStatusReply(false);
          break;
        case 2:
          bytes = emu::MakeInkReply(emu::DefaultInkLevels());
          break;
        case 3:
          bytes = Pattern(a[2], static_cast<std::size_t>(a[2]) + 1);
          break;
        case 4:  // one full read chunk, a ready status reply at its start
          bytes = emu::MakeStatusReply(true);
          bytes.resize(2047, '.');
          break;
        case 5:
          bytes = emu::MakeStatusUpdate(a[2]);
          break;
        default:
          bytes.assign(static_cast<std::size_t>(a[2]) + 1, '\0');
          break;
      }
      emu::QueueBackChannel(port->name, bytes);
      return -1;
    }
    case Code::App:
      SetValue(run.printers[a[0]].name, a[1], a[2], a[3]);
      return -1;
    case Code::Fault: {
      static const int kTimes[] = {1, 2, emu::kAlways};
      emu::InjectFault(static_cast<emu::Slot>(a[0]), static_cast<emu::Fault>(a[1] + 1),
                       kTimes[a[2]], a[3]);
      return -1;
    }
    case Code::ClearFaults:
      emu::ClearFaults();
      return -1;
    case Code::Rename: {
      Printer& printer = run.printers[a[0]];
      printer.name = std::string(kPrinterNames[a[0]]) + " #" + std::to_string(++printer.renames);
      run.names.push_back(printer.name);
      diag::AddSpoolerPrinter(printer.name.c_str());
      Register(run, a[0]);
      return -1;
    }
    case Code::Pause: {
      const int ms = std::min<int>(a[0], run.pauseLeft);
      run.pauseLeft -= ms;
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      return -1;
    }
    case Code::Endless:
      port->options.neverRunsDry = a[1] == 0;
      emu::SetPrinterOptions(port->name, port->options);
      return -1;
    case Code::GetData: {
      const DWORD outSize = static_cast<DWORD>(kOutSizes[a[2]]);
      std::vector<char> buffer(outSize + 1);
      DWORD returned = 0;
      const BOOL ok = gSpooler.pfnGetPrinterDataFromPort(
          record, static_cast<DWORD>(kControlCodes[a[1]]), nullptr, nullptr, 0, buffer.data(),
          outSize, &returned);
      if (ok && returned > outSize)
        Fail("GetPrinterDataFromPort returns more than its buffer holds");
      Trace("-> " + std::to_string(ok));
      return a[0];
    }
    case Code::Count:
      break;
  }
  return -1;
}

// ---- the end of an input -------------------------------------------------------

// A thread whose handle was signalled may be listed a moment longer.
long SettledThreads(long baseline) {
  long threads = diag::CurrentResourceCounts().threads;
  for (int i = 0; i < 200 && threads > baseline; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    threads = diag::CurrentResourceCounts().threads;
  }
  return threads;
}

void CheckNothingLeft(const diag::ResourceCounts& before, long printerHandlesBefore) {
  {
    MonitorLockGuard lock;
    if (PortList != nullptr) Fail("a port is still listed after every port was closed");
  }
  const long threads = SettledThreads(before.threads);
  const diag::ResourceCounts after = diag::CurrentResourceCounts();
  auto expect = [](const char* what, long was, long is) {
    if (was != is) {
      Fail(std::string(what) + " went from " + std::to_string(was) + " to " + std::to_string(is));
    }
  };
  expect("threads", before.threads, threads);
  expect("local-heap blocks", before.heapBlocks, after.heapBlocks);
  expect("handles", before.handles, after.handles);
  expect("open registry keys", before.openKeys, after.openKeys);
  expect("printer handles", printerHandlesBefore, diag::OpenPrinterHandles());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitializeMonitorEx(nullptr, &gSpooler);
  diag::SetSleepDivisor(kSleepDivisor);
  const char* trace = std::getenv("KOVIRLM_SEQUENCE_TRACE");
  gTrace = trace != nullptr && trace[0] != '\0' && trace[0] != '0';
  StartWatching();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Program program = Decode(data, size);
  const diag::ResourceCounts before = diag::CurrentResourceCounts();
  const long printerHandlesBefore = diag::OpenPrinterHandles();

  emu::Reset();
  WatchNewInput();
  Run run{program, {}, {}, {}, kPauseBudgetMs};
  BeginOperation("set-up");
  SetUp(run);
  EndOperation();
  TakeRegistryChanges();

  for (std::size_t i = 0; i < program.ops.size(); ++i) {
    const std::string text = "op " + std::to_string(i + 1) + ": " + ToText(program.ops[i]);
    Trace(text);
    const auto viewBefore = View(run);
    int writePort = -1;
    int startPort = -1;
    std::string written;
    BeginOperation(text);
    const auto start = std::chrono::steady_clock::now();
    const int spoolerPort = Perform(run, program.ops[i], i, writePort, written, startPort);
    EndOperation();
    Trace("   took " +
          std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count()) +
          " ms");
    CheckArrivals(run, writePort, written, startPort);
    CheckRegistry(viewBefore, View(run), spoolerPort);
    emu::ClearCalls();
  }

  for (Port& port : run.ports) {
    if (port.record == nullptr) continue;
    const auto viewBefore = View(run);
    BeginOperation("end of input: close " + port.name);
    gSpooler.pfnClosePort(port.record);
    port.record = nullptr;
    port.documentPrinter.reset();
    EndOperation();
    CheckArrivals(run, -1, "", -1);
    CheckRegistry(viewBefore, View(run), static_cast<int>(&port - run.ports.data()));
  }
  CheckNothingLeft(before, printerHandlesBefore);
  CleanUp(run);
  return 0;
}
