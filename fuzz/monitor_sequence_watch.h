// What monitor_sequence_fuzzer sees of the monitor from outside, and the checks
// made as it happens:
// - every call the monitor makes into the emulated device monitor (through the
//   emulator's call hook, on the calling thread): no pass-through or
//   back-channel call outside a device document, and no ink query without a
//   status reply that says "ready";
// - every change to the registry (through the Linux layer's hook), with who made
//   it: the status application, the spooler thread inside a monitor call, or a
//   port's poller thread;
// - a watchdog that aborts when one operation runs longer than 5 s.
// A failed check prints one line with the reason and the operation under way,
// and aborts, so libFuzzer keeps the input.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace sequence {

[[noreturn]] void Fail(const std::string& reason);

// Once per process: the registry hook and the watchdog thread.
void StartWatching();
// For each input, once the emulator has been reset: forgets what was seen and
// hooks the device monitor again.
void WatchNewInput();

// The operation under way, named in failure messages and timed by the watchdog.
void BeginOperation(const std::string& text);
void EndOperation();

// While in scope, registry changes made by the calling thread are the status
// application's, not the monitor's.
struct AsApplication {
  AsApplication();
  ~AsApplication();
  AsApplication(const AsApplication&) = delete;
  AsApplication& operator=(const AsApplication&) = delete;
};

// The port whose StartDocPort is under way (its commands and the replies before
// them are checked), or empty.
void SetStartingPort(const std::string& portName);

struct RegistryChange {
  const void* poller;  // the port record of the poller thread that made it; null: the spooler's
  std::string path;    // key path, folded to lower case
  std::string value;   // value name, empty for a key created or deleted
};
std::vector<RegistryChange> TakeRegistryChanges();

// The bytes each port's device accepted from WritePort calls since the last call,
// by port name folded to lower case.
std::map<std::string, std::string> TakeArrivedBytes();

std::string Folded(std::string text);

}  // namespace sequence
