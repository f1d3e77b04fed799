// The fuzzer's view from outside the monitor. Hooks run on whatever thread makes
// the call or the change (spooler or poller), with the emulator's or the
// registry's lock held; they only note things down under `Seen::mutex` (taken
// after those locks, never before them) or abort.
#include "fuzz/monitor_sequence_watch.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <thread>

#include "emulator/device_monitor.h"
#include "platform/diagnostics.h"
#include "printer_status/remote_commands.h"

namespace sequence {
namespace {

constexpr auto kOperationLimit = std::chrono::seconds(5);

using Clock = std::chrono::steady_clock;

struct Seen {
  std::mutex mutex;
  char operation[200] = "set-up";                // the operation under way, for messages
  std::string startingPort;                      // folded; empty when no StartDocPort runs
  std::map<std::string, bool> deviceDocument;    // port: the monitor opened a device document
  std::map<std::string, std::string> lastChunk;  // port: the last non-empty read's bytes
  std::map<std::string, std::string> arrived;    // port: bytes accepted since taken
  std::vector<RegistryChange> registry;
};

Seen& State() {
  static Seen* seen = new Seen;  // hooks may still run while the process exits
  return *seen;
}

// Nanoseconds since the clock's epoch at which the current operation began; 0 when
// none runs.
std::atomic<long long> operationStart{0};

thread_local int applicationThread = 0;  // AsApplication scopes the thread is in

std::string_view Bytes(const auto& block) {
  return std::string_view(reinterpret_cast<const char*>(block.data()), block.size());
}

// Whether the status reply the job start acted on said "ready": "04" at offsets
// 12-13 of a reply whose first byte is set.
bool SaysReady(const std::string& reply) {
  return reply.size() >= 14 && reply[0] != '\0' && reply.compare(12, 2, "04") == 0;
}

void OnDeviceCall(const emu::Call& call) {
  Seen& seen = State();
  std::lock_guard<std::mutex> lock(seen.mutex);
  const std::string port = Folded(call.port);
  switch (call.slot) {
    case emu::Slot::StartDocPort:
      if (call.result) seen.deviceDocument[port] = true;
      return;
    case emu::Slot::EndDocPort:
    case emu::Slot::ClosePort:
      // Whatever the device answers, the monitor has let its document go.
      seen.deviceDocument[port] = false;
      return;
    case emu::Slot::OpenPort:
      return;
    case emu::Slot::WritePort:
    case emu::Slot::ReadPort:
    case emu::Slot::GetPrinterDataFromPort:
      break;
  }
  if (port.empty() || !seen.deviceDocument[port]) {
    Fail(std::string(emu::SlotName(call.slot)) + " reached the device monitor on port '" +
         call.port + "' with no device document open");
  }
  if (call.slot == emu::Slot::ReadPort && !call.data.empty()) seen.lastChunk[port] = call.data;
  if (call.slot != emu::Slot::WritePort || !call.result) return;
  seen.arrived[port] += call.data;
  // The ink query (all of it, or the part a short write let through) goes out
  // only after a status reply that says the printer is ready.
  const std::string_view ink = Bytes(InkQueryCommand);
  if (port == seen.startingPort && call.data.size() >= 2 && ink.starts_with(call.data) &&
      !SaysReady(seen.lastChunk[port])) {
    Fail("the ink query went out on port '" + call.port +
         "' though the last reply read was not a ready status reply");
  }
}

void OnRegistryChange(HKEY root, const char* path, const char* value) {
  if (applicationThread != 0) return;
  const std::string where =
      (root == HKEY_LOCAL_MACHINE ? "" : "(another root) ") + std::string(path);
  if (value == nullptr) Fail("the monitor created or deleted the key " + where);
  Seen& seen = State();
  std::lock_guard<std::mutex> lock(seen.mutex);
  seen.registry.push_back({diag::CurrentThreadParameter(), Folded(where), value});
}

void Watchdog() {
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const long long start = operationStart.load();
    if (start == 0) continue;
    const auto running = Clock::now().time_since_epoch() - std::chrono::nanoseconds(start);
    if (running > kOperationLimit) Fail("the operation still runs after 5 s");
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

void WatchNewInput() {
  Seen& seen = State();
  {
    std::lock_guard<std::mutex> lock(seen.mutex);
    seen.deviceDocument.clear();
    seen.lastChunk.clear();
    seen.arrived.clear();
    seen.registry.clear();
  }
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
  std::lock_guard<std::mutex> lock(State().mutex);
  State().startingPort = Folded(portName);
}

std::vector<RegistryChange> TakeRegistryChanges() {
  std::vector<RegistryChange> taken;
  std::lock_guard<std::mutex> lock(State().mutex);
  taken.swap(State().registry);
  return taken;
}

std::map<std::string, std::string> TakeArrivedBytes() {
  std::map<std::string, std::string> taken;
  std::lock_guard<std::mutex> lock(State().mutex);
  taken.swap(State().arrived);
  return taken;
}

}  // namespace sequence
