// The world one input of monitor_sequence_fuzzer runs in, all on the emulator:
// three spooler printers with their status-application registrations, four ports
// each with an emulated printer, and what those printers and the application do
// when an operation tells them to. It knows nothing of the monitor's invariants.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/device_monitor.h"
#include "fuzz/monitor_sequence_program.h"
#include "port/port_record.h"

namespace sequence {

extern const char* const kPortNames[kPorts];

// An open of the port's name: the record the spooler got, the NT instance it
// went through, and the device port handle it opened.
struct Holding {
  PortRecord* record = nullptr;
  HANDLE instance = nullptr;
  HANDLE device = nullptr;
};

struct Port {
  std::string name;
  int printer = 0;  // the spooler printer the port is opened for
  emu::PrinterOptions options;
  PortRecord* record = nullptr;  // while open
  HANDLE instance = nullptr;     // NT face: the instance that opened it, while open
  HANDLE device = nullptr;       // the device port it opened, while open
  // NT face: the same name opened through another instance as well (the device
  // monitor shares its opens). It makes no calls of its own; once the port's own
  // holding is closed, it takes that one's place.
  Holding twin;
  // The printer whose key the document running here (or the last one, until it
  // has ended) uses; none when no key was selected.
  std::optional<std::string> documentPrinter;
};

struct Printer {
  std::string name;  // as the spooler knows it now
  int renames = 0;
};

struct World {
  const Program& program;
  std::array<Port, kPorts> ports{};
  std::array<Printer, kPrinters> printers{};
  std::vector<std::string> names{};  // every printer name this input used
};

// Registers the printers with the spooler and the application and attaches each
// port's emulated printer.
void SetUp(World& world);
// Deletes every key and spooler printer of the input and resets the emulator.
void CleanUp(World& world);
// The printer gets a new name, which the spooler and the application take up.
void Rename(World& world, int printer);

// The application sets or deletes one of its values (kValueWords), well-formed or
// in one of the odd forms of kFormWords.
void SetValue(const std::string& printer, int value, int form, std::uint8_t data);

// The printer name a StartDocPort is given (kNameWords); null for "null".
std::optional<std::string> NameFor(const World& world, const Port& port, int which);

// Bytes a job writes (kContentWords), and what a printer queues (kSayWords).
std::string JobBytes(std::size_t size, int content, std::uint8_t seed);
std::string PrinterSays(int what, std::uint8_t length);

// A command block's bytes.
std::string Block(const auto& command) {
  return std::string(reinterpret_cast<const char*>(command.data()), command.size());
}

// The application's real-time thread while a StartDocPort runs: whenever it
// finds StRealThreadExistFlag up in `printer`'s key, it clears it 20 ms later,
// unless destroyed first; but only while the application is present
// (StMonExistFlag neither 0 nor 16, as the monitor reads it). An application that
// has closed leaves its flag as it was, as one that crashed mid-talk does.
class ApplicationThread {
 public:
  explicit ApplicationThread(const std::optional<std::string>& printer);
  ~ApplicationThread();
  ApplicationThread(const ApplicationThread&) = delete;
  ApplicationThread& operator=(const ApplicationThread&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace sequence
