// The fuzzer's view from outside the monitor. Hooks run on whatever thread makes
// the call or the change (spooler or poller), with the emulator's or the
// registry's lock held; they only note things down under `Seen::mutex` (taken
// after those locks, never before them) or abort.
#include "fuzz/monitor_sequence_watch.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>

#include "emulator/device_monitor.h"
#include "platform/diagnostics.h"
#include "port/back_channel.h"
#include "port/port_record.h"
#include "printer_status/remote_commands.h"
#include "status_store/status_key.h"

namespace sequence {
namespace {

constexpr auto kOperationLimit = std::chrono::seconds(5);

using Clock = std::chrono::steady_clock;

struct Seen {
  std::mutex mutex;
  char operation[200] = "set-up";  // the operation under way, for messages
  std::string startingPort;        // folded; empty when no StartDocPort runs
  // Device port handles the device monitor gave out and the monitor has not asked
  // it to close, and those of them with a device document open.
  std::set<HANDLE> deviceOpen;
  std::set<HANDLE> deviceDocument;
  std::map<std::string, HANDLE> lastOpen;        // port: the handle its last device open gave out
  bool dataOutsideDocuments = false;             // NT face: device data whenever the port is open
  std::map<std::string, std::string> lastChunk;  // port: the last non-empty read's bytes
  std::map<std::string, std::string> arrived;    // port: bytes accepted since taken
  std::map<std::string, std::array<std::uint64_t, 7>> slotCalls;  // port: calls by emu::Slot
  std::vector<RegistryChange> registry;
  // LanMonExistFlag writes: number, key and the lane of the thread that wrote it.
  struct LanWrite {
    std::uint64_t number;
    std::string path;
    int lane;
  };
  std::vector<LanWrite> lanWrites;
  std::uint64_t lanWriteCount = 0;
  struct Armed {
    emu::Slot slot;
    std::vector<std::string> ports;  // folded
    std::function<void()> act;
  };
  std::vector<Armed> armed;
  // The job start under way: its ink query went out, its own read took an ink reply.
  bool inkQuerySent = false;
  bool exchangeReadInk = false;
  bool inkLeftByExchange = false;
  bool inkOwed = false;
};

// Off-line ports: block time and when the watchdog puts each back on line. A lock
// of its own, taken before the rig's (SetOffline) and never inside a hook.
struct Offline {
  std::mutex mutex;
  std::map<std::string, std::pair<int, Clock::time_point>> ports;  // folded name
};

Offline& OfflinePorts() {
  static Offline* offline = new Offline;
  return *offline;
}

// Off-line time opened in this input, in ms: the watchdog allows for it.
std::atomic<long long> offlineAllowanceMs{0};

Seen& State() {
  static Seen* seen = new Seen;  // hooks may still run while the process exits
  return *seen;
}

// Nanoseconds since the clock's epoch at which the current operation began; 0 when
// none runs.
std::atomic<long long> operationStart{0};

thread_local int applicationThread = 0;  // AsApplication scopes the thread is in
thread_local int spoolerLane = -1;       // SetSpoolerLane

std::string_view Bytes(const auto& block) {
  return std::string_view(reinterpret_cast<const char*>(block.data()), block.size());
}

// Whether the status reply the job start acted on said "ready": "04" at offsets
// 12-13 of a reply whose first byte is set.
bool SaysReady(const std::string& reply) {
  return reply.size() >= 14 && reply[0] != '\0' && reply.compare(12, 2, "04") == 0;
}

// The application's move armed for this call, if any; taken off the list.
std::function<void()> TakeArmed(Seen& seen, const emu::Call& call, const std::string& port) {
  for (auto it = seen.armed.begin(); it != seen.armed.end(); ++it) {
    if (it->slot == call.slot &&
        std::find(it->ports.begin(), it->ports.end(), port) != it->ports.end()) {
      std::function<void()> act = std::move(it->act);
      seen.armed.erase(it);
      return act;
    }
  }
  return nullptr;
}

void CheckDeviceCall(Seen& seen, const emu::Call& call, const std::string& port) {
  ++seen.slotCalls[port][static_cast<std::size_t>(call.slot)];
  switch (call.slot) {
    case emu::Slot::StartDocPort:
      if (call.result) seen.deviceDocument.insert(call.handle);
      return;
    case emu::Slot::ClosePort:
      // Only a device port that was opened, and only once; whatever the device
      // answers, the monitor has let it go.
      if (seen.deviceOpen.erase(call.handle) == 0) {
        Fail("ClosePort reached the device monitor for port '" + call.port +
             "' with a device port handle that is not open");
      }
      [[fallthrough]];
    case emu::Slot::EndDocPort:
      // Whatever the device answers, the monitor has let its document go.
      seen.deviceDocument.erase(call.handle);
      return;
    case emu::Slot::OpenPort:
      if (call.result) {
        seen.deviceOpen.insert(call.handle);
        seen.lastOpen[port] = call.handle;
      }
      return;
    case emu::Slot::WritePort:
    case emu::Slot::ReadPort:
    case emu::Slot::GetPrinterDataFromPort:
      break;
  }
  // The NT face passes device-data requests through whenever the port is open.
  const bool openEnough = call.slot == emu::Slot::GetPrinterDataFromPort &&
                          seen.dataOutsideDocuments && seen.deviceOpen.contains(call.handle);
  if (port.empty() || (!seen.deviceDocument.contains(call.handle) && !openEnough)) {
    Fail(std::string(emu::SlotName(call.slot)) + " reached the device monitor on port '" +
         call.port + "' with no device document open");
  }
  // A poller reads only while it holds its port's back channel, never while the
  // job-start exchange holds it (whatever the application wrote meanwhile).
  const auto* poller = static_cast<const PortRecord*>(diag::CurrentThreadParameter());
  if (poller != nullptr && call.slot == emu::Slot::ReadPort &&
      poller->channelOwner.load() != CHANNEL_POLLER) {
    Fail("the poller of port '" + call.port + "' read while it did not hold the back channel");
  }
  const bool byExchange = port == seen.startingPort && poller == nullptr;
  if (call.slot == emu::Slot::ReadPort && !call.data.empty()) {
    seen.lastChunk[port] = call.data;
    if (byExchange && call.data.find("IQ:") != std::string::npos) seen.exchangeReadInk = true;
  }
  if (call.slot != emu::Slot::WritePort || !call.result) return;
  seen.arrived[port] += call.data;
  // The ink query (all of it, or the part a short write let through) goes out
  // only after a status reply that says the printer is ready.
  const std::string_view ink = Bytes(InkQueryCommand);
  if (port == seen.startingPort && call.data.size() >= 2 && ink.starts_with(call.data)) {
    if (!SaysReady(seen.lastChunk[port])) {
      Fail("the ink query went out on port '" + call.port +
           "' though the last reply read was not a ready status reply");
    }
    if (byExchange) seen.inkQuerySent = true;
  }
}

void OnDeviceCall(const emu::Call& call) {
  Seen& seen = State();
  const std::string port = Folded(call.port);
  std::function<void()> act;
  {
    std::lock_guard<std::mutex> lock(seen.mutex);
    CheckDeviceCall(seen, call, port);
    act = TakeArmed(seen, call, port);
  }
  // As the application, outside our lock: its registry writes are not noted.
  if (act) {
    AsApplication application;
    act();
  }
}

void OnRegistryChange(HKEY root, const char* path, const char* value) {
  if (applicationThread != 0) return;
  const std::string where =
      (root == HKEY_LOCAL_MACHINE ? "" : "(another root) ") + std::string(path);
  if (value == nullptr) Fail("the monitor created or deleted the key " + where);
  Seen& seen = State();
  std::lock_guard<std::mutex> lock(seen.mutex);
  const void* poller = diag::CurrentThreadParameter();
  seen.registry.push_back({poller, poller != nullptr ? -1 : spoolerLane, Folded(where), value});
  if (Folded(value) == Folded(VALUE_LAN_MONITOR)) {
    seen.lanWrites.push_back({++seen.lanWriteCount, Folded(where), spoolerLane});
  }
}

// Puts back on line the ports whose off-line time is up.
void EndOfflineWindows() {
  Offline& offline = OfflinePorts();
  std::lock_guard<std::mutex> lock(offline.mutex);
  for (auto it = offline.ports.begin(); it != offline.ports.end();) {
    if (Clock::now() < it->second.second) {
      ++it;
      continue;
    }
    emu::SetOffline(it->first, 0);
    it = offline.ports.erase(it);
  }
}

// An operation on an off-line port waits out every block of its own device calls
// (a job start's exchange makes a score of them): the limit grows by the input's
// off-line time, itself bounded.
void Watchdog() {
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EndOfflineWindows();
    const long long start = operationStart.load();
    if (start == 0) continue;
    const auto running = Clock::now().time_since_epoch() - std::chrono::nanoseconds(start);
    const auto allowance = std::chrono::milliseconds(offlineAllowanceMs.load());
    if (running > kOperationLimit + allowance) {
      Fail("the operation still runs after " +
           std::to_string(
               std::chrono::duration_cast<std::chrono::milliseconds>(kOperationLimit + allowance)
                   .count()) +
           " ms");
    }
  }
}

}  // namespace

std::string Folded(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

void Fail(const std::string& reason) {
  // No lock: the failing thread may hold Seen::mutex. The text is a fixed buffer
  // that always ends in a NUL, so a racing update garbles it at worst.
  std::fprintf(stderr, "\nmonitor_sequence_fuzzer: %s (during: %s)\n", reason.c_str(),
               State().operation);
  std::fflush(stderr);
  std::abort();
}

void StartWatching() {
  diag::SetRegistryChangeHook(OnRegistryChange);
  std::thread(Watchdog).detach();
}

void WatchNewInput(bool deviceDataOutsideDocuments) {
  Seen& seen = State();
  {
    std::lock_guard<std::mutex> lock(seen.mutex);
    seen.deviceOpen.clear();
    seen.deviceDocument.clear();
    seen.lastOpen.clear();
    seen.dataOutsideDocuments = deviceDataOutsideDocuments;
    seen.lastChunk.clear();
    seen.arrived.clear();
    seen.slotCalls.clear();
    seen.registry.clear();
    seen.lanWrites.clear();
    seen.armed.clear();
    seen.inkQuerySent = seen.exchangeReadInk = seen.inkLeftByExchange = seen.inkOwed = false;
  }
  {
    std::lock_guard<std::mutex> lock(OfflinePorts().mutex);
    OfflinePorts().ports.clear();  // the emulator's reset put every port on line
  }
  offlineAllowanceMs = 0;
  // The hook alone: the calls are checked as they come, and a log kept besides
  // would only grow.
  emu::SetCallHook(OnDeviceCall, false);
}

void BeginOperation(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(State().mutex);
    std::snprintf(State().operation, sizeof State().operation, "%s", text.c_str());
  }
  operationStart =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

void EndOperation() {
  operationStart = 0;
}

AsApplication::AsApplication() {
  ++applicationThread;
}

AsApplication::~AsApplication() {
  --applicationThread;
}

void SetStartingPort(const std::string& portName) {
  Seen& seen = State();
  std::lock_guard<std::mutex> lock(seen.mutex);
  if (!seen.startingPort.empty() && seen.inkQuerySent && !seen.exchangeReadInk) {
    seen.inkLeftByExchange = true;
  }
  seen.inkQuerySent = seen.exchangeReadInk = false;
  seen.startingPort = Folded(portName);
}

void SetSpoolerLane(int port) {
  spoolerLane = port;
}

std::uint64_t LanFlagWrites() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return State().lanWriteCount;
}

bool LanFlagWrittenBySomeoneElse(const std::string& path, std::uint64_t since, int lane) {
  std::lock_guard<std::mutex> lock(State().mutex);
  for (const Seen::LanWrite& write : State().lanWrites) {
    if (write.number > since && write.path == path && write.lane != lane) return true;
  }
  return false;
}

bool LanFlagWrittenByLane(const std::string& path, std::uint64_t since, int lane) {
  std::lock_guard<std::mutex> lock(State().mutex);
  for (const Seen::LanWrite& write : State().lanWrites) {
    if (write.number > since && write.path == path && write.lane == lane) return true;
  }
  return false;
}

void SetPortOffline(const std::string& portName, int blockMs, int windowMs) {
  Offline& offline = OfflinePorts();
  std::lock_guard<std::mutex> lock(offline.mutex);
  if (blockMs == 0 || windowMs == 0) {
    offline.ports.erase(Folded(portName));
    emu::SetOffline(portName, 0);
    return;
  }
  offline.ports[Folded(portName)] = {blockMs, Clock::now() + std::chrono::milliseconds(windowMs)};
  offlineAllowanceMs += windowMs;
  emu::SetOffline(portName, static_cast<DWORD>(blockMs));
}

int OfflineBlock(const std::string& portName) {
  Offline& offline = OfflinePorts();
  std::lock_guard<std::mutex> lock(offline.mutex);
  auto it = offline.ports.find(Folded(portName));
  return it == offline.ports.end() ? 0 : it->second.first;
}

void ArmApplication(emu::Slot slot, std::vector<std::string> ports, std::function<void()> act) {
  for (std::string& port : ports) port = Folded(port);
  std::lock_guard<std::mutex> lock(State().mutex);
  State().armed.push_back({slot, std::move(ports), std::move(act)});
}

void NoteInkOwed() {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().inkOwed = true;
}

bool InkOwed() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return State().inkOwed;
}

bool InkLeftByExchange() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return State().inkLeftByExchange;
}

std::vector<RegistryChange> TakeRegistryChanges() {
  std::vector<RegistryChange> taken;
  std::lock_guard<std::mutex> lock(State().mutex);
  taken.swap(State().registry);
  return taken;
}

std::uint64_t DeviceCallCount(const std::string& portName, emu::Slot slot) {
  std::lock_guard<std::mutex> lock(State().mutex);
  const auto it = State().slotCalls.find(Folded(portName));
  return it == State().slotCalls.end() ? 0 : it->second[static_cast<std::size_t>(slot)];
}

bool DeviceHandleOpen(HANDLE device) {
  std::lock_guard<std::mutex> lock(State().mutex);
  return device != nullptr && State().deviceOpen.contains(device);
}

HANDLE LastDeviceOpen(const std::string& portName) {
  std::lock_guard<std::mutex> lock(State().mutex);
  const auto it = State().lastOpen.find(Folded(portName));
  return it == State().lastOpen.end() ? nullptr : it->second;
}

std::map<std::string, std::string> TakeArrivedBytes() {
  std::map<std::string, std::string> taken;
  std::lock_guard<std::mutex> lock(State().mutex);
  taken.swap(State().arrived);
  return taken;
}

}  // namespace sequence
