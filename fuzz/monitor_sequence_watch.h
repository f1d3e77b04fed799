// What monitor_sequence_fuzzer sees of the monitor from outside, and the checks
// made as it happens:
// - every call the monitor makes into the emulated device monitor (through the
//   emulator's call hook, on the calling thread): no pass-through or
//   back-channel call outside a device document, and no ink query without a
//   status reply that says "ready";
// - every change to the registry (through the Linux layer's hook), with who made
//   it: the status application, the spooler thread inside a monitor call, or a
//   port's poller thread;
// - a watchdog that aborts when one operation runs longer than 5 s (plus the
//   input's off-line time), and puts an off-line port back on line when its
//   time is up;
// - the status application's moves armed for a device-monitor call.
// A failed check prints one line with the reason and the operation under way,
// and aborts, so libFuzzer keeps the input.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "emulator/device_monitor.h"

namespace sequence {

[[noreturn]] void Fail(const std::string& reason);

// Once per process: the registry hook and the watchdog thread.
void StartWatching();
// For each input, once the emulator has been reset: forgets what was seen and
// hooks the device monitor again. `deviceDataOutsideDocuments`: the face passes
// GetPrinterDataFromPort through whenever the port is open (the NT face), not
// only inside a device document.
void WatchNewInput(bool deviceDataOutsideDocuments);

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
// them are checked), or empty. When it ends, an ink query whose reply the
// exchange did not read itself leaves that reply to the poller.
void SetStartingPort(const std::string& portName);

// A spooler thread of its own for one port's calls (a background end or close):
// its registry changes are that port's. -1 (the default): the fuzzer's thread.
void SetSpoolerLane(int port);

struct RegistryChange {
  const void* poller;  // the port record of the poller thread that made it; null: a spooler's
  int lane;            // the port of a background spooler thread; -1: the fuzzer's thread
  std::string path;    // key path, folded to lower case
  std::string value;   // value name, empty for a key created or deleted
};
std::vector<RegistryChange> TakeRegistryChanges();

// LanMonExistFlag writes are numbered: whether a thread other than `lane`'s wrote
// the flag in the key (folded path) after number `since`, so a check of the flag
// left by one thread knows when another has changed it since.
std::uint64_t LanFlagWrites();
bool LanFlagWrittenBySomeoneElse(const std::string& path, std::uint64_t since, int lane);
// Whether `lane`'s threads wrote it there after number `since`.
bool LanFlagWrittenByLane(const std::string& path, std::uint64_t since, int lane);

// The port goes off line for at most `windowMs` from now, each read and write
// blocking `blockMs`; then the watchdog puts it back on line. 0 brings it back now.
void SetPortOffline(const std::string& portName, int blockMs, int windowMs);
int OfflineBlock(const std::string& portName);  // ms; 0 while on line

// The application acts on the first device-monitor call of `slot` on one of
// `ports` (names): `act` runs on the calling thread, inside the call. Unfired
// moves are dropped with the input.
void ArmApplication(emu::Slot slot, std::vector<std::string> ports, std::function<void()> act);

// An ink reply the job-start exchange did not ask for (the printer said one, a
// job asked for one): a poller may publish it.
void NoteInkOwed();
bool InkOwed();
// Whether a job start's ink query left its reply unread on the back channel.
bool InkLeftByExchange();

// How many calls of `slot` the port's device has seen in this input.
std::uint64_t DeviceCallCount(const std::string& portName, emu::Slot slot);

// Whether the device monitor gave out `device` and the monitor has not asked it
// to close it (a device that refuses its ClosePort keeps the port open, but the
// monitor has let it go).
bool DeviceHandleOpen(HANDLE device);
// The device port handle of the port's last successful device OpenPort in this
// input, or null.
HANDLE LastDeviceOpen(const std::string& portName);

// The bytes each port's device accepted from WritePort calls since the last call,
// by port name folded to lower case.
std::map<std::string, std::string> TakeArrivedBytes();

std::string Folded(std::string text);

}  // namespace sequence
