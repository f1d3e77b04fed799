// One emulated printer: what it has received, what it has to say, and how it
// answers remote-mode commands. The device monitor owns every printer and calls
// these functions with the printer's port lock held, so a printer needs no lock
// of its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/device_monitor.h"

namespace emu {

struct HeldReply {
  std::string bytes;
  int readsLeft;  // reads still to pass before the bytes join the back channel
};

struct EmulatedPrinter {
  PrinterOptions options;
  std::string received;      // every byte received, in order (compact mode: only
                             // the tail from the first block not complete yet)
  std::uint64_t receivedCount = 0;
  std::uint64_t receivedDigest = kDigestStart;
  std::size_t scanFrom = 0;  // where the block scan resumes in `received`
  std::vector<std::string> commands;
  std::string backChannel;  // readable now, oldest first
  std::vector<HeldReply> held;
  bool documentOpen = false;
  std::chrono::steady_clock::time_point documentStart;
  unsigned updatesDue = 0;  // status updates already queued for this document
};

// Takes bytes from the port; answers every complete remote-mode block among them.
void PrinterReceive(EmulatedPrinter& printer, const char* bytes, std::size_t count);
// Serves one read of at most `capacity` bytes into `out`; returns the count.
std::size_t PrinterRead(EmulatedPrinter& printer, char* out, std::size_t capacity);
void PrinterStartDocument(EmulatedPrinter& printer);
void PrinterEndDocument(EmulatedPrinter& printer);
// Everything still to be said: readable bytes and replies held back.
std::size_t PrinterPending(const EmulatedPrinter& printer);
void PrinterClearReceived(EmulatedPrinter& printer);

}  // namespace emu
