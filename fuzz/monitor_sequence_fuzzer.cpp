// The whole monitor under random call sequences: several ports, printers and
// threads, the status application, and a device monitor that misbehaves.
//
// The input is a small program (monitor_sequence_program.h): up to four ports on
// three spooler printers, each port's emulated printer reporting one of a few
// device IDs, each printer's registration with the status application, and then
// operations: the spooler's calls on the face the input picks
// (monitor_sequence_spooler.h), stacked on the emulator's device monitor, either
// through the MONITOR table that InitializeMonitorEx filled (Windows 95) or
// through the MONITOR2 table and an instance of InitializePrintMonitor2 (the NT
// family: UTF-16 names, ports on parallel, USB or network ports, new instances
// and their Shutdown at any point; a Windows 95 input skips those two); the
// printers talking on their back channels; the application setting and deleting
// its values; device-monitor faults; printer renames; short pauses in which the
// pollers run; a port's device going off line (its reads and writes block for
// up to 1.2 s, for at most 2.5 s an input), and then its EndDocPort or ClosePort
// run on a spooler thread of the port's own while the operations go on; the
// application acting at a device call the input picks (during a job start's
// exchange too); a ClosePort or Shutdown from the spooler's thread while the
// port's own thread is still in a call (close-during, or the background
// EndDocPort above), or still in its OpenPortEx (open-during); two NT instances
// holding the same port name. Poll intervals are tens of milliseconds and Sleep runs at 1/100
// of its time, so that pollers and the job-start exchange really run inside one
// input, which takes well under a second on line.
//
// Invariants, each failing with abort() and a one-line reason:
// 1. no pass-through or back-channel call reaches the device monitor unless the
//    monitor has a device document open on that device port (on the NT face a
//    GetPrinterDataFromPort only needs the device port open), and the device's
//    ClosePort comes once for each device port opened, never for another
//    (checked as the call is made);
// 2. the bytes a document's WritePort calls accepted arrive at that port's
//    printer exactly, in order; nothing else arrives, but the status command and
//    ink query of a job start, and the ink query only after a ready status reply;
// 3. every registry value the monitor writes lands in the key of the document
//    running, or just ended, on the port it writes for: the spooler's port for
//    writes inside a spooler call, the poller's own port for a poller's. A
//    document's key is the one of the printer its StartDocPort names (a null
//    name: the port's). So nothing lands anywhere else, and no printer's value
//    in another's key;
// 4. after EndDocPort and after ClosePort the printer of the document that ran
//    there has LanMonExistFlag 0, and after EndDocPort the port has no poller;
// 5. no operation takes longer than 5 s, plus the input's off-line time (a
//    watchdog thread);
// 6. at the end every port is closed, and the heap blocks, handles, keys, printer
//    handles and threads are back where they started;
// 7. InkLevel holds an ink reply ("IQ:"), never a status reply, and
//    RealTimeStatusStrings never holds an ink reply, unless one was left on the
//    back channel for the poller (the printer said one, a job asked for one, or a
//    job start's exchange gave up on its own);
// 8. a spooler call on a port that is on line is never held up by another
//    port's blocked device: while another port's reads block B >= 600 ms, it
//    finishes within B/2. Its own waits are all short: its Sleep pauses run at
//    1/100 (a whole ink query's score of them, some 110 ms) and the application
//    clears its thread flag after 20 ms. A Shutdown waits for the calls at work on
//    its own instance's ports, never for another instance's;
// 9. after an NT instance's Shutdown none of its ports is listed or open at its
//    device, each document it ended has LanMonExistFlag 0 (as after ClosePort),
//    its ports' pollers have ended by the time it returns, and every other
//    instance's port is still listed, one of the same name too. Its ports'
//    handles are gone: later calls on them are skipped until the port is opened
//    again. Two instances may hold one name; a second open of a name within one
//    instance fails with ERROR_BUSY;
// 10. a call at work on a port when ClosePort or Shutdown closed it has returned
//    within 1 s of the close (FALSE is fine), the port is neither listed nor open
//    at its device, and a LanMonExistFlag that the call or the close wrote is 0;
//    AddressSanitizer sees that nothing of the port is used once freed;
// 11. an OpenPortEx that a ClosePort or Shutdown comes during (open-during: the
//    device monitor's open held) is listed while its device open is at work;
//    when the close came before it was done it fails with ERROR_INVALID_HANDLE,
//    gives the spooler no handle and returns before the close does; when it
//    succeeded, its handle is the record it listed; afterwards the record is not
//    listed and the device port it opened is closed.
// Every check holds on both faces.
//
// The world the operations act on is in monitor_sequence_world.h, what is seen
// of the monitor from outside in monitor_sequence_watch.h. KOVIRLM_SEQUENCE_TRACE=1
// prints each operation, its result and the registry values written as it runs.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/port_list.h"
#include "emulator/device_monitor.h"
#include "emulator/status_app.h"
#include "emulator/wide_text.h"
#include "fuzz/monitor_sequence_program.h"
#include "fuzz/monitor_sequence_spooler.h"
#include "fuzz/monitor_sequence_watch.h"
#include "fuzz/monitor_sequence_world.h"
#include "platform/diagnostics.h"
#include "port/port_record.h"
#include "printer_status/remote_commands.h"
#include "status_store/status_key.h"

namespace {

using namespace sequence;
namespace app = emu::status_app;

constexpr int kPauseBudgetMs = 250;  // all pauses of one input together
// All off-line time of one input together: an operation on an off-line port
// waits out its blocks (a job start with endless replies makes dozens), so a port
// comes back on line by itself once the input's share is used up.
constexpr int kOfflineBudgetMs = 2500;
constexpr int kOfflineWindowMs = 1500;  // the most one "offline" op lasts
// Invariant 8 is checked while another port blocks at least this long.
constexpr int kHeldUpCheckedFromMs = 600;
constexpr DWORD kSleepDivisor = 100;
constexpr DWORD kFirstJobId = 100;

Spooler gSpooler;  // the face the input drives, and its NT instances
bool gTrace = false;

void Trace(const std::string& line) {
  if (gTrace) std::fprintf(stderr, "  %s\n", line.c_str());
}

void TraceResult(BOOL result, const std::string& more = "") {
  Trace("-> " + std::string(result ? "TRUE" : "FALSE") + more);
}

// ---- checks --------------------------------------------------------------------

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

// The printer whose key a document selects: the one named, unless the name is
// missing or too long for a key path. Either face's name; the fuzzer's printer
// names are ASCII, so their UTF-8 is the name the registry hook reports.
std::optional<std::string> DocumentPrinter(SpoolerText printerName) {
  if (IsNullText(printerName) || TextLength(printerName) > MAX_STATUS_PRINTER_NAME) {
    return std::nullopt;
  }
  return printerName.ansi != nullptr ? std::string(printerName.ansi) : emu::Utf8(printerName.wide);
}

std::string FirstDifference(const std::string& got, const std::string& expected) {
  const auto at = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
  return " (first difference at byte " + std::to_string(at.first - got.begin()) + ")";
}

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

// What one operation did, for the checks after it.
struct Step {
  int spoolerPort = -1;  // the port of the spooler call it made
  int writePort = -1;    // the port of its WritePort, which accepted `written`
  std::string written;
  int startPort = -1;  // the port of its StartDocPort
  // The ports a Shutdown closed: its registry changes are any of theirs. So are
  // those of a port whose own thread was in ClosePort: whichever of the two takes
  // the port off the list first closes it.
  std::vector<int> shutPorts;
  std::vector<int> closingPorts;
  // The key of a document that started and was closed within the operation
  // (close-during): the spooler port's writes may land there too.
  std::optional<std::string> closedKey;
};

// Invariant 2.
void CheckArrivals(const World& world, const Step& step) {
  std::map<std::string, std::string> arrived = TakeArrivedBytes();
  for (int i = 0; i < kPorts; ++i) {
    const std::string& name = world.ports[i].name;
    const std::string& bytes = arrived[Folded(name)];
    if (i == step.writePort) {
      if (bytes != step.written) {
        Fail("WritePort accepted " + std::to_string(step.written.size()) + " bytes on " + name +
             " but " + std::to_string(bytes.size()) + " arrived" +
             FirstDifference(bytes, step.written));
      }
    } else if (i == step.startPort) {
      if (!JobStartCommands(bytes)) {
        Fail("StartDocPort sent " + name + " " + std::to_string(bytes.size()) +
             " bytes that are not its commands");
      }
    } else if (!bytes.empty()) {
      Fail(std::to_string(bytes.size()) + " bytes arrived at " + name +
           " outside its WritePort and StartDocPort");
    }
  }
}

struct PortView {
  PortRecord* record;
  std::optional<std::string> key;  // canonical path of the document's key
};

std::array<PortView, kPorts> View(const World& world) {
  std::array<PortView, kPorts> view;
  for (int i = 0; i < kPorts; ++i) {
    const std::optional<std::string>& printer = world.ports[i].documentPrinter;
    view[i] = {world.ports[i].record,
               printer ? std::optional(CanonicalKey(app::KeyPath(*printer))) : std::nullopt};
  }
  return view;
}

// Invariant 3, for the changes made during one operation. A port's document key
// is the one before the operation or after it (the document that just started or
// just ended). A change on the spooler's thread belongs to the port of the
// operation's spooler call; one on a port's own spooler thread or poller thread
// to that port.
void CheckRegistry(const std::array<PortView, kPorts>& before,
                   const std::array<PortView, kPorts>& after, const Step& step) {
  for (const RegistryChange& change : TakeRegistryChanges()) {
    Trace("   registry: " + change.value + (change.poller != nullptr ? " (poller)" : ""));
    // A background spooler thread writes for its own port; a Shutdown on the
    // spooler's thread for whichever of its ports has that key.
    int port = change.lane >= 0 ? change.lane : step.spoolerPort;
    if (change.lane < 0 && change.poller == nullptr) {
      for (const std::vector<int>* ports : {&step.shutPorts, &step.closingPorts}) {
        for (int shut : *ports) {
          if (change.path == before[shut].key) port = shut;
        }
      }
    }
    if (change.poller != nullptr) {
      port = -1;
      for (int i = 0; i < kPorts; ++i) {
        if (before[i].record == change.poller || after[i].record == change.poller) port = i;
      }
    }
    const std::string what = change.value + " in " + change.path;
    if (port < 0) Fail("the monitor wrote " + what + " outside any port's call or poller");
    if (change.path != before[port].key && change.path != after[port].key &&
        !(port == step.spoolerPort && change.path == step.closedKey)) {
      Fail(std::string(change.poller != nullptr ? "the poller of " : "the spooler's call on ") +
           kPortNames[port] + " wrote " + what + ", not in its document's key " +
           before[port].key.value_or(after[port].key.value_or("(none)")));
    }
  }
}

// What a spooler call that ends a document saw before it began.
struct Ending {
  const char* call;  // "EndDocPort", "ClosePort" or "Shutdown"
  // The printer whose flag it must leave at 0, for either call only while a
  // document is in progress (a document refused by the device has lowered its
  // flag already, and another port may have raised it since).
  std::optional<std::string> documentPrinter;
  std::uint64_t lanWrites;  // LanFlagWrites() before it
  int lane;                 // the spooler thread it runs on
};

Ending BeginEnding(Code code, const Port& port, int lane) {
  const bool close = code == Code::Close;
  const bool running = HasStatusBits(port.record, PS_JOB_ACTIVE);
  return {close ? "ClosePort" : "EndDocPort", running ? port.documentPrinter : std::nullopt,
          LanFlagWrites(), lane};
}

// Invariant 4, once the call has returned; `record` is null after ClosePort. A flag
// another thread wrote meanwhile (a document starting on another port of that
// printer) is not this call's to answer for.
void CheckEnded(const Port& port, const PortRecord* record, const Ending& ending) {
  if (record != nullptr &&
      (record->pollerThread != nullptr || HasStatusBits(record, PS_POLLER_RUN))) {
    Fail("EndDocPort left a poller on " + port.name);
  }
  if (!ending.documentPrinter) return;
  const std::string key = CanonicalKey(app::KeyPath(*ending.documentPrinter));
  if (LanFlagWrittenBySomeoneElse(key, ending.lanWrites, ending.lane)) return;
  AsApplication application;
  const std::optional<std::string> flag = app::ReadRaw(*ending.documentPrinter, VALUE_LAN_MONITOR);
  if (flag && *flag != std::string(4, '\0')) {
    const std::optional<DWORD> value = app::ReadDword(*ending.documentPrinter, VALUE_LAN_MONITOR);
    Fail("after " + std::string(ending.call) + " on " + port.name + ", LanMonExistFlag of '" +
         *ending.documentPrinter + "' is " + (value ? std::to_string(*value) : "not a DWORD"));
  }
}

// Invariant 7, after each operation. `leftBefore`: a job start had left an ink
// reply for the poller before the operation began (the operation's own exchange
// must not lose one to it).
bool gSaidRawBytes = false;  // a printer said bytes that may hold a NUL before a marker

void CheckPublished(const World& world, bool leftBefore) {
  AsApplication application;
  for (const std::string& name : world.names) {
    const std::optional<std::string> ink = app::PublishedInkLevel(name);
    if (ink && !ink->empty() && ink->find("IQ:") == std::string::npos && !gSaidRawBytes) {
      Fail("InkLevel of '" + name + "' holds no ink reply: '" + ink->substr(0, 40) + "'");
    }
    const std::optional<std::string> status = app::PublishedStatus(name);
    if (status && status->find("IQ:") != std::string::npos && !leftBefore && !InkOwed()) {
      Fail("RealTimeStatusStrings of '" + name + "' holds an ink reply nobody left to the poller");
    }
  }
}

// Invariant 8.
void CheckNotHeldUp(const World& world, int port, int otherBlockMs, long long tookMs) {
  if (port < 0 || otherBlockMs < kHeldUpCheckedFromMs || tookMs <= otherBlockMs / 2) return;
  Fail("a call on " + world.ports[port].name + " took " + std::to_string(tookMs) +
       " ms while another port's device blocked " + std::to_string(otherBlockMs) + " ms a call");
}

// A thread whose handle was signalled may be listed a moment longer.
long SettledThreads(long baseline) {
  long threads = diag::CurrentResourceCounts().threads;
  for (int i = 0; i < 200 && threads > baseline; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    threads = diag::CurrentResourceCounts().threads;
  }
  return threads;
}

// Whether the record is on PortList. Only pointers are compared.
bool Listed(const PortRecord* record) {
  MonitorLockGuard lock;
  for (PortRecord* listed = PortList; listed != nullptr; listed = listed->next) {
    if (listed == record) return true;
  }
  return false;
}

// After a close of a record of the port: it is no longer listed, and the device
// port it opened is closed or was asked to close (a device that refuses its
// ClosePort, an injected fault, keeps the port open; the monitor has let it go
// all the same). The record is not dereferenced.
void CheckClosed(const std::string& name, const PortRecord* record, HANDLE device,
                 const std::string& closer) {
  if (Listed(record)) Fail(closer + " left " + name + " listed");
  if (DeviceHandleOpen(device)) Fail(closer + " left " + name + " open at its device");
}

// The port's own holding is closed: the spooler has no handle of it any more, and
// the same name held through another instance, if any, takes its place.
void Forget(Port& port) {
  port.record = port.twin.record;
  port.instance = port.twin.instance;
  port.device = port.twin.device;
  port.twin = {};
  port.documentPrinter.reset();
}

// ---- a port's own spooler thread -------------------------------------------------

// An EndDocPort or ClosePort on an off-line port runs on a thread of its own, as
// the spooler's thread for that printer would wait there, while the operations
// go on. The port's next spooler call (and the end of the input) waits for it,
// but for a ClosePort, or a Shutdown of its instance, during its EndDocPort: the
// spooler closes a port whose thread is stuck (a printer deleted, the service
// stopping) from another thread.
struct Background {
  std::thread thread;
  Code code = Code::End;
  Ending ending;
  std::atomic<bool> returned{false};
};
std::array<Background, kPorts> gBackground;

// A call that was at work on a port when the port was closed returns by the time
// the close does (the close waits for it); this much later is not prompt.
constexpr auto kPromptAfterClose = std::chrono::milliseconds(1000);

void ExpectReturnedSoon(const std::atomic<bool>& returned, const std::string& call,
                        const std::string& closer, const Port& port) {
  const auto limit = std::chrono::steady_clock::now() + kPromptAfterClose;
  while (!returned.load()) {
    if (std::chrono::steady_clock::now() > limit) {
      Fail(call + " on " + port.name + " still runs " + std::to_string(kPromptAfterClose.count()) +
           " ms after " + closer + " returned");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void RunInBackground(Port& port, int index, Code code) {
  Background& background = gBackground[index];
  background.code = code;
  background.ending = BeginEnding(code, port, index);
  background.returned = false;
  PortRecord* record = port.record;
  background.thread = std::thread([record, index, code] {
    SetSpoolerLane(index);
    if (code == Code::End) {
      EndDocOn(gSpooler, record);
    } else {
      CloseOn(gSpooler, record);
    }
    SetSpoolerLane(-1);
    gBackground[index].returned = true;
  });
  Trace("-> runs on the port's own thread");
}

// The port whose own thread makes a close-during's call, while it does.
int gHeldPort = -1;

// Whether the port's own thread is still in a call.
bool AtWork(int index) {
  return index == gHeldPort ||
         (gBackground[index].thread.joinable() && !gBackground[index].returned.load());
}

// Waits for the port's background call and checks what it left. A port closed
// meanwhile (its record gone) is checked as after ClosePort.
bool JoinBackground(Port& port, int index) {
  Background& background = gBackground[index];
  if (!background.thread.joinable()) return false;
  background.thread.join();
  if (background.code == Code::End) {
    CheckEnded(port, port.record, background.ending);
    port.documentPrinter.reset();
  } else {
    CheckEnded(port, nullptr, background.ending);
    Forget(port);
  }
  return true;
}

// The spooler closes, from its own thread, a port whose own thread is still in
// its background EndDocPort (a printer deleted while its job waits on an off-line
// device). The port's thread shares the lane: both calls are the port's.
void CloseBesideBackground(Port& port, int index) {
  const Ending ending = BeginEnding(Code::Close, port, index);
  SetSpoolerLane(index);
  TraceResult(CloseOn(gSpooler, port.record), " beside the port's own EndDocPort");
  SetSpoolerLane(-1);
  CheckClosed(port.name, port.record, port.device, "ClosePort");
  ExpectReturnedSoon(gBackground[index].returned, "EndDocPort", "ClosePort", port);
  port.record = nullptr;  // freed: the EndDocPort's check reads no poller of it
  JoinBackground(port, index);
  CheckEnded(port, nullptr, ending);
  Forget(port);
}

// ---- the NT face's instances ----------------------------------------------------

// The instance a "shutdown" stops: the newest or the oldest live one; null on the
// Windows 95 face, which has no Shutdown, or with none live.
HANDLE ShutdownTarget(const Op& op) {
  if (gSpooler.face != Face::Nt || gSpooler.instances.empty()) return nullptr;
  return op.arg[0] == 0 ? gSpooler.instances.back() : gSpooler.instances.front();
}

// Shutdown of an instance, checked: afterwards none of its ports is listed or
// open at its device, every one that had a document in progress has that
// document's LanMonExistFlag at 0 (invariant 4, as its ClosePort would), and the
// pollers of its ports are gone; every other instance's port is still listed. Its
// ports' handles are gone with it: the fuzzer makes no more calls with them.
Step ShutDown(World& world, HANDLE instance, const std::function<void()>& returned = {}) {
  Step step;
  std::vector<std::pair<int, Ending>> endings;
  // Counted before the pollers are: a poller that a call still at work stops
  // meanwhile would otherwise be taken off twice. Such a port's poller is not
  // counted at all (the call may stop it any time); nor is one a StartDocPort
  // at work starts. So the count errs high, never low.
  const long threadsBefore = diag::CurrentResourceCounts().threads;
  long pollers = 0;
  for (int i = 0; i < kPorts; ++i) {
    Port& port = world.ports[i];
    if (port.record == nullptr || port.instance != instance) continue;
    // A port whose own thread is in ClosePort is that call's: its record may be
    // gone any moment. It is checked when its thread is joined.
    if (gBackground[i].thread.joinable() && gBackground[i].code == Code::Close) {
      step.closingPorts.push_back(i);
      continue;
    }
    // A close-during's port: its StartDocPort at work may have marked a document
    // that never raised its flag (the close ended its wait), so the flag there is
    // not this close's to answer for; the close-during checks what its call and
    // close wrote.
    Ending ending =
        i == gHeldPort ? Ending{"", std::nullopt, 0, -1} : BeginEnding(Code::Close, port, -1);
    ending.call = "Shutdown";
    endings.emplace_back(i, ending);
    if (!AtWork(i) && port.record->pollerThread != nullptr) ++pollers;
    step.shutPorts.push_back(i);
  }
  const long threadsAfter = threadsBefore - pollers;
  ShutdownInstance(gSpooler, instance);
  if (returned) returned();
  Trace("-> shut down, " + std::to_string(endings.size()) + " of its ports closed");
  // A call that was at work on one of its ports has returned with it.
  for (auto& [index, ending] : endings) {
    if (gBackground[index].thread.joinable()) {
      ExpectReturnedSoon(gBackground[index].returned,
                         gBackground[index].code == Code::End ? "EndDocPort" : "ClosePort",
                         "Shutdown", world.ports[index]);
    }
  }

  {
    MonitorLockGuard lock;
    for (PortRecord* record = PortList; record != nullptr; record = record->next) {
      if (record->monitorInstance == instance) Fail("Shutdown left a port of its instance listed");
    }
  }
  for (int i = 0; i < kPorts; ++i) {
    Port& port = world.ports[i];
    // The same name held through another instance stays open, and listed.
    if (port.twin.record != nullptr && port.twin.instance != instance &&
        !Listed(port.twin.record)) {
      Fail("Shutdown of another instance closed " + port.name + " of a second instance");
    }
    if (port.twin.record != nullptr && port.twin.instance == instance) {
      CheckClosed(port.name, port.twin.record, port.twin.device, "Shutdown");
      port.twin = {};
    }
    if (port.record == nullptr || port.instance == instance) continue;
    // A port in its own ClosePort is unlisted by that call.
    if (gBackground[i].thread.joinable() && gBackground[i].code == Code::Close) continue;
    if (!Listed(port.record)) Fail("Shutdown of another instance closed " + port.name);
  }
  for (auto& [index, ending] : endings) {
    Port& port = world.ports[index];
    if (DeviceHandleOpen(port.device)) Fail("Shutdown left " + port.name + " open at its device");
    CheckEnded(port, nullptr, ending);
    Forget(port);
  }
  const long threads = SettledThreads(threadsAfter);
  if (threads > threadsAfter) {
    Fail("Shutdown returned with " + std::to_string(threads - threadsAfter) +
         " of its ports' threads still running");
  }
  return step;
}

// ---- a close during a call ------------------------------------------------------

// close-during: the port's own spooler thread makes a call that may block (a
// StartDocPort waiting for the application's thread or in the job-start
// exchange, a write or read waiting out an off-line block, an EndDocPort
// stopping a poller stuck in one), and the spooler closes the port from its own
// thread meanwhile: ClosePort, or on the NT face the Shutdown of the port's
// instance. The close comes once a call of the port blocks in its device, the
// call has returned, or WHEN (so many ms, or the port's next device write or
// read) has come, whichever is first. Checked beyond
// every operation's invariants: the call has returned by the time the close
// has (FALSE is fine: the handle may be gone before it gets in), the port is
// neither listed nor open at its device, and a LanMonExistFlag that the call or
// the close wrote is 0 at the end. The call and the close both run on lane -1:
// each is this port's, and the flag check holds them to each other.
Step CloseDuringCall(World& world, const Op& op, std::size_t index, Port& port) {
  const auto& a = op.arg;
  const int held = a[1];
  const bool starts = held <= 1;
  PortRecord* record = port.record;
  Step step;
  step.spoolerPort = a[0];
  const std::uint64_t lanWrites = LanFlagWrites();

  const std::optional<std::string> name = NameFor(world, port, 0);
  if (starts) {
    // As a StartDocPort: a busy port keeps its document and key.
    if (!HasStatusBits(record, PS_JOB_ACTIVE)) {
      port.documentPrinter = DocumentPrinter(AnsiText(name->c_str()));
    }
    step.startPort = a[0];
    if (port.documentPrinter) step.closedKey = CanonicalKey(app::KeyPath(*port.documentPrinter));
  }
  const std::optional<std::string> flagPrinter = port.documentPrinter;
  // "start-flag-up": the application's thread is talking to the printer and
  // does not finish by itself; "start": it clears its flag after 20 ms.
  if (held == 1 && port.documentPrinter) {
    AsApplication application;
    app::SetDword(*port.documentPrinter, VALUE_STATUS_THREAD, 1);
  }
  std::optional<ApplicationThread> application;
  if (held == 0) application.emplace(port.documentPrinter);
  if (starts) SetStartingPort(port.name);

  std::string bytes = JobBytes(512, 0, static_cast<std::uint8_t>(index));
  DWORD count = 0;
  BOOL result = FALSE;
  std::atomic<bool> returned{false};
  const emu::Slot slot = a[2] == 5 ? emu::Slot::ReadPort : emu::Slot::WritePort;
  const std::uint64_t callsBefore = DeviceCallCount(port.name, slot);
  gHeldPort = a[0];
  std::thread caller([&] {
    std::vector<BYTE> buffer(2048);
    DWORD read = 0;
    switch (held) {
      case 0:
      case 1:
        result = StartDocOn(gSpooler, record, name, kFirstJobId + static_cast<DWORD>(index));
        break;
      case 2:
        result = WriteOn(gSpooler, record, reinterpret_cast<LPBYTE>(bytes.data()),
                         static_cast<DWORD>(bytes.size()), &count);
        break;
      case 3:
        result = ReadOn(gSpooler, record, buffer.data(), 2047, &read);
        break;
      default:
        result = EndDocOn(gSpooler, record);
        break;
    }
    returned = true;
  });
  // "write" and "read": at the port's next device write or read (inside the
  // job-start exchange, its command sent or a reply read), or after 100 ms.
  static const int kWhenMs[] = {0, 5, 20, 100, 100, 100};
  const auto closeAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWhenMs[a[2]]);
  auto deviceMoved = [&] { return a[2] >= 4 && DeviceCallCount(port.name, slot) > callsBefore; };
  while (!returned.load() && emu::BlockedCalls(port.name) == 0 && !deviceMoved() &&
         std::chrono::steady_clock::now() < closeAt) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }

  const bool byShutdown = a[3] == 1 && gSpooler.face == Face::Nt;
  const std::string closer = byShutdown ? "Shutdown" : "ClosePort";
  const std::string call = starts ? "StartDocPort" : kHeldCallWords[held];
  if (byShutdown) {
    const Step shut = ShutDown(world, port.instance);
    step.shutPorts = shut.shutPorts;
    step.closingPorts = shut.closingPorts;
  } else {
    TraceResult(CloseOn(gSpooler, record), " (the close)");
    CheckClosed(port.name, record, port.device, closer);
  }
  ExpectReturnedSoon(returned, call, closer, port);
  caller.join();
  gHeldPort = -1;
  TraceResult(result, " (" + call + (held == 2 ? ", " + std::to_string(count) + " written)" : ")"));
  if (starts) SetStartingPort("");
  application.reset();
  if (count > bytes.size()) Fail("WritePort reports more bytes written than given");
  if (held == 2) {
    step.writePort = a[0];
    step.written = bytes.substr(0, count);
  }

  // Neither the call nor the close leaves up a flag that one of them wrote.
  if (flagPrinter) {
    const std::string key = CanonicalKey(app::KeyPath(*flagPrinter));
    if (LanFlagWrittenByLane(key, lanWrites, -1) &&
        !LanFlagWrittenBySomeoneElse(key, lanWrites, -1)) {
      CheckEnded(port, nullptr, Ending{"a close during a call", flagPrinter, lanWrites, -1});
    }
  }
  // A Shutdown has forgotten the port's holding already.
  if (!byShutdown) Forget(port);
  return step;
}

// ---- an open during a close ------------------------------------------------------

// The NT instance an open goes through: the newest or the oldest live one; null on
// the Windows 95 face, or with none live.
HANDLE OpeningInstance(int which) {
  if (gSpooler.face != Face::Nt || gSpooler.instances.empty()) return nullptr;
  return which == 0 ? gSpooler.instances.back() : gSpooler.instances.front();
}

// A device-monitor open fault is armed: an open may fail at its device and free
// its record before a close of it comes.
bool gOpenFaultArmed = false;

// The record an open of `name` through `instance` has listed, while it is at work:
// one the fuzzer holds no handle of.
PortRecord* OpeningRecord(const World& world, const std::string& name, HANDLE instance) {
  MonitorLockGuard lock;
  for (PortRecord* record = PortList; record != nullptr; record = record->next) {
    if (record->monitorInstance != instance) continue;
    const SpoolerText listed = record->portName;
    const std::string listedName = listed.ansi != nullptr ? listed.ansi : emu::Utf8(listed.wide);
    if (Folded(listedName) != Folded(name)) continue;
    const bool known = std::any_of(world.ports.begin(), world.ports.end(), [&](const Port& port) {
      return port.record == record || port.twin.record == record;
    });
    if (!known) return record;
  }
  return nullptr;
}

// How long the closer of an open-during may take to get to the open.
constexpr auto kOpenReachLimit = std::chrono::milliseconds(1000);

// Waits until `done` holds, failing with `what` after kOpenReachLimit.
void AwaitOrFail(auto done, const std::string& what) {
  const auto limit = std::chrono::steady_clock::now() + kOpenReachLimit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) Fail(what);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// open-during: the port's own spooler thread opens it (through the newest
// instance) with every device-monitor open held at its start, and the spooler
// closes the record as listed from its own thread meanwhile: ClosePort, or on the
// NT face the Shutdown of the instance. "held": the close comes while the device
// open is held, which is released once the close has taken the port; "release":
// the hold is released as the close comes, and the two race; "after": the close
// comes once the open has returned. Checked: the open is listed while its device
// open is at work; one that the close came before fails with
// ERROR_INVALID_HANDLE, gives the spooler no handle, and returns before the close
// does; one that succeeded handed out the listed record; afterwards the record is
// not listed and the device port the open opened is closed (the device ClosePort
// only for a device port that was opened: monitor_sequence_watch.cpp).
Step OpenDuringClose(World& world, const Op& op) {
  const auto& a = op.arg;
  Port& port = world.ports[a[0]];
  Step step;
  step.spoolerPort = a[0];
  HANDLE instance = OpeningInstance(0);
  if (gSpooler.face == Face::Nt && instance == nullptr) {
    Trace("-> skipped: no instance is live");
    return step;
  }
  // A name the instance holds is refused before it reaches the device (open
  // checks that); and the fuzzer follows two holdings of a name at most.
  if ((port.record != nullptr && port.instance == instance) || port.twin.record != nullptr) {
    Trace("-> skipped: the name is open through this instance, or two, already");
    return step;
  }
  const bool byShutdown = a[1] == 1 && gSpooler.face == Face::Nt;
  // A ClosePort must not come after an open that failed at its device freed its
  // record: with an open fault armed, it comes while the open is held.
  const int when = a[2] == 1 && !byShutdown && gOpenFaultArmed ? 0 : a[2];
  const std::string closer = byShutdown ? "Shutdown" : "ClosePort";
  const HANDLE devicesBefore = LastDeviceOpen(port.name);

  std::atomic<int> order{0};
  int openReturnedAt = 0;
  int closeReturnedAt = 0;
  BOOL opened = FALSE;
  DWORD error = ERROR_SUCCESS;
  HANDLE handle = nullptr;
  std::atomic<bool> returned{false};
  emu::HoldOpens(true);
  std::thread opener([&] {
    SetSpoolerLane(a[0]);
    opened = OpenPortOn(gSpooler, instance, port.name, world.printers[port.printer].name, &handle);
    error = GetLastError();
    SetSpoolerLane(-1);
    openReturnedAt = ++order;
    returned = true;
  });
  AwaitOrFail([&] { return emu::HeldOpens() > 0 || returned.load(); },
              "OpenPortEx of " + port.name + " neither reached its device monitor nor returned");
  if (returned.load()) {
    Fail("OpenPortEx of " + port.name + " returned (error " + std::to_string(error) +
         ") before it reached its device monitor");
  }
  PortRecord* record = OpeningRecord(world, port.name, instance);
  if (record == nullptr) {
    Fail("OpenPortEx of " + port.name + " is not listed while its device open is at work");
  }

  std::thread releaser;
  if (when == 0) {
    // Released once the close has taken the port off the list.
    releaser = std::thread([&] {
      AwaitOrFail([&] { return !Listed(record); },
                  closer + " did not take " + port.name + " while its open was held");
      emu::HoldOpens(false);
    });
  } else {
    emu::HoldOpens(false);
    if (when == 2) {
      opener.join();
      TraceResult(opened, " (the open" + (opened ? std::string(")")
                                                 : ", error " + std::to_string(error) + ")"));
      if (opened && handle != record) Fail("OpenPortEx handed out a record it did not list");
    }
  }
  // After a failed open there is no port left to close by its handle.
  const bool closes = byShutdown || when != 2 || opened;
  if (byShutdown) {
    const Step shut = ShutDown(world, instance, [&] { closeReturnedAt = ++order; });
    step.shutPorts = shut.shutPorts;
    step.closingPorts = shut.closingPorts;
  } else if (closes) {
    TraceResult(CloseOn(gSpooler, record), " (the close)");
    closeReturnedAt = ++order;
  }
  if (releaser.joinable()) releaser.join();
  if (opener.joinable()) {
    opener.join();
    TraceResult(opened, " (the open" +
                            (opened ? std::string(")") : ", error " + std::to_string(error) + ")"));
  }

  // A failed open that the close came before: one held while the close came, or
  // one released as it came, unless its device refused it first (an open fault,
  // the device's own error). An open that returned before the close came fails
  // with its device's reason.
  const bool deviceRefused = gOpenFaultArmed && error == ERROR_ACCESS_DENIED;
  if (opened) {
    if (handle != record) Fail("OpenPortEx handed out a record it did not list");
    if (when == 0) Fail("OpenPortEx succeeded though " + closer + " came while it was held");
  } else if (when == 0 || (when == 1 && !deviceRefused)) {
    if (error != ERROR_INVALID_HANDLE) {
      Fail("OpenPortEx of " + port.name + " that " + closer + " came during failed with error " +
           std::to_string(error) + ", not ERROR_INVALID_HANDLE");
    }
    if (handle != nullptr) Fail("OpenPortEx that " + closer + " came during gave out a handle");
    if (openReturnedAt > closeReturnedAt) {
      Fail(closer + " returned before the OpenPortEx it came during");
    }
  }
  const HANDLE device = LastDeviceOpen(port.name);
  CheckClosed(port.name, record, device != devicesBefore ? device : nullptr, closer);
  return step;
}

// ---- operations ----------------------------------------------------------------

// Runs one spooler call on an open port.
void CallSpooler(World& world, const Op& op, std::size_t index, Port& port, Step& step) {
  const auto& a = op.arg;
  PortRecord* record = port.record;
  switch (op.code) {
    case Code::Start: {
      std::optional<std::string> name = NameFor(world, port, a[1]);
      // A busy port keeps its document, and with it its key; a new document takes
      // the key of the printer it names, and only without a name the port's.
      if (!HasStatusBits(record, PS_JOB_ACTIVE)) {
        port.documentPrinter =
            DocumentPrinter(name ? AnsiText(name->c_str()) : record->printerName);
      }
      ApplicationThread application(port.documentPrinter);
      SetStartingPort(port.name);
      TraceResult(StartDocOn(gSpooler, record, name, kFirstJobId + static_cast<DWORD>(index)));
      SetStartingPort("");
      step.startPort = a[0];
      break;
    }
    case Code::Write: {
      if (a[2] == 2) NoteInkOwed();  // the printer answers the job's ink query
      std::string bytes = JobBytes(static_cast<std::size_t>(kSizes[a[1]]), a[2], a[3]);
      DWORD count = 0;
      const BOOL ok = WriteOn(gSpooler, record, reinterpret_cast<LPBYTE>(bytes.data()),
                              static_cast<DWORD>(bytes.size()), &count);
      TraceResult(ok, ", " + std::to_string(count) + " written");
      if (count > bytes.size()) Fail("WritePort reports more bytes written than given");
      step.writePort = a[0];
      step.written = bytes.substr(0, count);
      break;
    }
    case Code::Read: {
      const DWORD size = static_cast<DWORD>(kSizes[a[1]]);
      std::vector<BYTE> buffer(size + 1);
      DWORD count = 0;
      TraceResult(ReadOn(gSpooler, record, buffer.data(), size, &count),
                  ", " + std::to_string(count) + " read");
      if (count > size) Fail("ReadPort reports more bytes than asked for");
      break;
    }
    case Code::End:
    case Code::Close:
      if (op.code == Code::Close && gBackground[a[0]].thread.joinable()) {
        CloseBesideBackground(port, a[0]);
        break;
      }
      if (OfflineBlock(port.name) > 0) {
        RunInBackground(port, a[0], op.code);
        break;
      }
      if (op.code == Code::End) {
        const Ending ending = BeginEnding(Code::End, port, -1);
        TraceResult(EndDocOn(gSpooler, record));
        CheckEnded(port, record, ending);
        port.documentPrinter.reset();
      } else {
        const Ending ending = BeginEnding(Code::Close, port, -1);
        TraceResult(CloseOn(gSpooler, record));
        CheckEnded(port, nullptr, ending);
        Forget(port);
      }
      break;
    case Code::GetData: {
      const DWORD outSize = static_cast<DWORD>(kOutSizes[a[2]]);
      // Either face's output: bytes, or wide characters by their byte count.
      std::vector<WCHAR> buffer(outSize / sizeof(WCHAR) + 1);
      DWORD returned = 0;
      const BOOL ok = GetDataOn(gSpooler, record, static_cast<DWORD>(kControlCodes[a[1]]),
                                buffer.data(), outSize, &returned);
      TraceResult(ok);
      if (ok && returned > outSize)
        Fail("GetPrinterDataFromPort returns more than it was given room for");
      break;
    }
    default:
      break;
  }
  step.spoolerPort = a[0];
}

// What is left of an input's pauses and off-line time.
struct Budget {
  int pauseLeft = kPauseBudgetMs;
  int offlineLeft = kOfflineBudgetMs;
};

// Runs one operation.
Step Perform(World& world, const Op& op, std::size_t index, Budget& budget) {
  const auto& a = op.arg;
  Step step;
  switch (op.code) {
    case Code::Open: {
      Port& port = world.ports[a[0]];
      // The NT spooler opens through the newest or the oldest live instance; with
      // none live, it has none to open through.
      HANDLE instance = OpeningInstance(a[2]);
      if (gSpooler.face == Face::Nt && instance == nullptr) {
        Trace("-> skipped: no instance is live");
        break;
      }
      // Within one instance a name is open once: a second open is refused as busy.
      // Through another instance it opens again; the fuzzer follows two at most.
      const bool held = (port.record != nullptr && port.instance == instance) ||
                        (port.twin.record != nullptr && port.twin.instance == instance);
      if (!held && port.twin.record != nullptr) {
        Trace("-> skipped: the name is open through two instances already");
        break;
      }
      std::string name = a[1] == 0 ? port.name : Folded(port.name);
      HANDLE handle = nullptr;
      SetLastError(ERROR_SUCCESS);
      const BOOL opened =
          OpenPortOn(gSpooler, instance, name, world.printers[port.printer].name, &handle);
      const DWORD error = GetLastError();
      TraceResult(opened, opened ? "" : ", error " + std::to_string(error));
      step.spoolerPort = a[0];
      if (held) {
        if (opened) Fail("a second OpenPortEx of " + name + " in one instance opened it");
        if (error != ERROR_BUSY) {
          Fail("a second OpenPortEx of " + name + " in one instance failed with error " +
               std::to_string(error) + ", not ERROR_BUSY");
        }
        break;
      }
      if (!opened) break;
      const Holding opening{static_cast<PortRecord*>(handle), instance, LastDeviceOpen(port.name)};
      if (port.record == nullptr) {
        port.record = opening.record;
        port.instance = opening.instance;
        port.device = opening.device;
      } else {
        port.twin = opening;
      }
      break;
    }
    case Code::Start:
    case Code::Write:
    case Code::Read:
    case Code::End:
    case Code::Close:
    case Code::GetData:
      // The spooler calls only with a handle it was given.
      if (world.ports[a[0]].record != nullptr)
        CallSpooler(world, op, index, world.ports[a[0]], step);
      break;
    case Code::Say:
      if (a[1] == 2) NoteInkOwed();
      if (a[1] == 3 || a[1] == 6) gSaidRawBytes = true;
      emu::QueueBackChannel(world.ports[a[0]].name, PrinterSays(a[1], a[2]));
      break;
    case Code::Endless: {
      Port& port = world.ports[a[0]];
      port.options.neverRunsDry = a[1] == 0;
      emu::SetPrinterOptions(port.name, port.options);
      break;
    }
    case Code::App:
      SetValue(world.printers[a[0]].name, a[1], a[2], a[3]);
      break;
    case Code::Fault: {
      static const int kTimes[] = {1, 2, emu::kAlways};
      emu::InjectFault(static_cast<emu::Slot>(a[0]), static_cast<emu::Fault>(a[1] + 1),
                       kTimes[a[2]], a[3]);
      gOpenFaultArmed = gOpenFaultArmed || static_cast<emu::Slot>(a[0]) == emu::Slot::OpenPort;
      break;
    }
    case Code::ClearFaults:
      emu::ClearFaults();
      gOpenFaultArmed = false;
      break;
    case Code::Rename:
      Rename(world, a[0]);
      break;
    case Code::Pause: {
      const int ms = std::min<int>(a[0], budget.pauseLeft);
      budget.pauseLeft -= ms;
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      break;
    }
    case Code::Offline: {
      const int block = kOfflineTimes[a[1]];
      const int window = block == 0 ? 0 : std::min(kOfflineWindowMs, budget.offlineLeft);
      budget.offlineLeft -= window;
      SetPortOffline(world.ports[a[0]].name, block, window);
      break;
    }
    case Code::AppAt: {
      // The application writes the value well-formed, in the printer's key as
      // named now, at the first call of the slot on a port opened for it.
      std::vector<std::string> ports;
      for (const Port& port : world.ports) {
        if (port.printer == a[0]) ports.push_back(port.name);
      }
      ArmApplication(static_cast<emu::Slot>(a[3]), std::move(ports),
                     [name = world.printers[a[0]].name, value = a[1], data = a[2]] {
                       SetValue(name, value, 0, data);
                     });
      break;
    }
    case Code::Initialize:
      if (gSpooler.face != Face::Nt) {
        Trace("-> skipped: the Windows 95 face has no instances");
      } else {
        TraceResult(NewInstance(gSpooler));
      }
      break;
    case Code::Shutdown:
      if (HANDLE instance = ShutdownTarget(op)) return ShutDown(world, instance);
      Trace("-> skipped: no instance to shut down");
      break;
    case Code::CloseDuring:
      // The spooler's thread for the port is free: the call is the port's only one.
      if (world.ports[a[0]].record != nullptr) {
        return CloseDuringCall(world, op, index, world.ports[a[0]]);
      }
      break;
    case Code::OpenDuring:
      return OpenDuringClose(world, op);
    case Code::Count:
      break;
  }
  return step;
}

// ---- the end of an input -------------------------------------------------------

// Invariant 6.
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
  // Fewer threads than before is no leak: a thread of an earlier input (or of the
  // fuzzing engine) may still have been ending when this input began.
  if (threads > before.threads) {
    Fail("threads went from " + std::to_string(before.threads) + " to " + std::to_string(threads));
  }
  expect("local-heap blocks", before.heapBlocks, after.heapBlocks);
  expect("handles", before.handles, after.handles);
  expect("open registry keys", before.openKeys, after.openKeys);
  expect("printer handles", printerHandlesBefore, diag::OpenPrinterHandles());
}

// The port a spooler call of the operation is for, or -1.
int SpoolerPortOf(const Op& op) {
  switch (op.code) {
    case Code::Open:
    case Code::Start:
    case Code::Write:
    case Code::Read:
    case Code::End:
    case Code::Close:
    case Code::GetData:
    case Code::CloseDuring:
    case Code::OpenDuring:
      return op.arg[0];
    default:
      return -1;
  }
}

// The ports whose own thread the operation waits for first: the port of its
// spooler call, unless the call is a ClosePort, which comes during the port's
// EndDocPort. A Shutdown waits for none: it comes during its ports' EndDocPort and
// ClosePort calls alike.
std::vector<int> PortsWaitedFor(const Op& op) {
  std::vector<int> ports;
  const int port = SpoolerPortOf(op);
  if (port >= 0 && !(op.code == Code::Close && gBackground[port].code == Code::End)) {
    ports.push_back(port);
  }
  return ports;
}

// The longest block of a port other than `port` that is off line now, or 0 when
// `port` is off line itself (its own calls may wait out its blocks).
// A Shutdown returns only once every call at work on its own instance's ports is
// done, a ClosePort of one of them included (the spooler may unload the DLL
// then), so the block of such a port whose own thread is in a call counts for
// the operation that shuts `shutInstance` down, as the port's own wait. Another
// instance's ports are not its to wait for.
int OtherPortsBlock(const World& world, int port, HANDLE shutInstance) {
  if (port < 0 || OfflineBlock(world.ports[port].name) > 0) return 0;
  int longest = 0;
  for (int i = 0; i < kPorts; ++i) {
    const Port& other = world.ports[i];
    if (i == port || (shutInstance != nullptr && gBackground[i].thread.joinable() &&
                      other.record != nullptr && other.instance == shutInstance)) {
      continue;
    }
    longest = std::max(longest, OfflineBlock(other.name));
  }
  return longest;
}

// The instance the operation shuts down, or null.
HANDLE InstanceShutBy(const World& world, const Op& op) {
  if (gSpooler.face != Face::Nt) return nullptr;
  switch (op.code) {
    case Code::Shutdown:
      return ShutdownTarget(op);
    case Code::CloseDuring:
      return op.arg[3] == 1 ? world.ports[op.arg[0]].instance : nullptr;
    case Code::OpenDuring:
      return op.arg[1] == 1 ? OpeningInstance(0) : nullptr;
    default:
      return nullptr;
  }
}

// `timedPort`: the port of the spooler call the operation makes, for invariant 8;
// `shutInstance`: the instance the operation shuts down, if any.
void RunChecked(World& world, const std::string& text, int spoolerPort, int timedPort,
                auto operation, HANDLE shutInstance = nullptr) {
  Trace(text);
  const auto before = View(world);
  const int otherBlock = OtherPortsBlock(world, timedPort, shutInstance);
  const bool inkLeftBefore = InkLeftByExchange();
  const auto start = std::chrono::steady_clock::now();
  BeginOperation(text);
  Step step = operation();
  EndOperation();
  const long long took = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
  if (step.spoolerPort < 0) step.spoolerPort = spoolerPort;
  Trace("   took " + std::to_string(took) + " ms");
  CheckArrivals(world, step);
  CheckRegistry(before, View(world), step);
  CheckPublished(world, inkLeftBefore);
  if (step.spoolerPort == timedPort) CheckNotHeldUp(world, timedPort, otherBlock, took);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  PrepareFaces();
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
  WatchNewInput(program.face == Face::Nt);
  World world{program};
  BeginOperation("set-up");
  SetUp(world);
  // NT instances may open the same names, as a clustered spooler beside the
  // node's own does: the device monitor lets a port be opened twice.
  if (program.face == Face::Nt) emu::SetSharedOpens(true);
  gOpenFaultArmed = false;
  gSpooler = Spooler{program.face, {}};
  Trace(std::string("face: ") + kFaceWords[static_cast<int>(program.face)]);
  // The NT spooler starts with one instance of the monitor.
  if (gSpooler.face == Face::Nt && !NewInstance(gSpooler)) Fail("InitializePrintMonitor2 failed");
  EndOperation();

  Budget budget;
  gSaidRawBytes = false;
  for (std::size_t i = 0; i < program.ops.size(); ++i) {
    const std::string text = "op " + std::to_string(i + 1) + ": " + ToText(program.ops[i]);
    const int port = SpoolerPortOf(program.ops[i]);
    // The port's spooler thread is still in its background call: the next call
    // waits for it, untimed (it is the port's own wait).
    for (int waited : PortsWaitedFor(program.ops[i])) {
      if (!gBackground[waited].thread.joinable()) continue;
      RunChecked(world, text + " (waits for " + world.ports[waited].name + "'s own thread first)",
                 waited, -1, [&] {
                   JoinBackground(world.ports[waited], waited);
                   return Step{};
                 });
    }
    const Op& op = program.ops[i];
    RunChecked(
        world, text, -1, port, [&] { return Perform(world, op, i, budget); },
        InstanceShutBy(world, op));
  }
  // The spooler closes every port it opened.
  for (int i = 0; i < kPorts; ++i) {
    Port& port = world.ports[i];
    if (gBackground[i].thread.joinable()) {
      RunChecked(world, "end of input: waits for " + port.name + "'s own thread", i, -1, [&] {
        JoinBackground(port, i);
        return Step{};
      });
    }
    // The same name held through another instance comes next.
    while (port.record != nullptr)
      RunChecked(world, "end of input: close " + port.name, i, i, [&] {
        const Ending ending = BeginEnding(Code::Close, port, -1);
        CloseOn(gSpooler, port.record);
        CheckEnded(port, nullptr, ending);
        CheckClosed(port.name, port.record, port.device, "ClosePort");
        Forget(port);
        Step step;
        step.spoolerPort = i;
        return step;
      });
  }
  // And the NT spooler shuts down every instance it still has.
  while (!gSpooler.instances.empty()) {
    RunChecked(world, "end of input: shutdown", -1, -1,
               [&] { return ShutDown(world, gSpooler.instances.back()); });
  }
  BeginOperation("end of input: what is left");
  CheckNothingLeft(before, printerHandlesBefore);
  CleanUp(world);
  EndOperation();
  return 0;
}
