// The emulated printer's behaviour.
//
// Replies are held back for `replyDelayReads` reads: a reply made with a delay of
// 2 is missed by the next two reads and returned by the third. Only reads that
// reach the printer count; a read the device monitor fails on purpose does not.
//
// Status updates are made lazily, when a read arrives: the n-th update falls due
// n * statusUpdateEveryMs after the document opened. Updates that fell due since
// the last read collapse into the newest one (the printer's status buffer holds
// its current status, not a history), so a slow reader sees the latest status,
// not a backlog. The printer volunteers an update only when it owes no reply
// (nothing readable, nothing held back): answers to commands always come alone,
// and an update follows on a later read. No thread is involved, so nothing
// outlives a test.
#include "emulator/emulated_printer.h"

#include <algorithm>
#include <cstring>

#include "emulator/printer_replies.h"
#include "emulator/remote_blocks.h"

namespace emu {
namespace {

// ESC @ ESC @, which a status command carries right in front of its block.
constexpr std::size_t kResetPrefixLength = 4;

void Say(EmulatedPrinter& printer, std::string bytes) {
  if (printer.options.replyDelayReads > 0) {
    printer.held.push_back({std::move(bytes), printer.options.replyDelayReads});
  } else {
    printer.backChannel += bytes;
  }
}

void Answer(EmulatedPrinter& printer, const RemoteBlock& block) {
  if (!printer.options.answersCommands) return;
  for (const RemoteCommand& command : block.commands) {
    if (command.name == "ST") {
      Say(printer, MakeStatusReply(printer.options.inkReady));
    } else if (command.name == "IQ" && printer.options.answersInkQuery) {
      Say(printer, MakeInkReply(printer.options.ink));
    }
  }
}

void QueueDueUpdate(EmulatedPrinter& printer) {
  const DWORD every = printer.options.statusUpdateEveryMs;
  if (!printer.documentOpen || every == 0) return;
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - printer.documentStart)
                           .count();
  const auto due = static_cast<unsigned>(elapsed / every);
  if (due > printer.updatesDue) {
    printer.updatesDue = due;
    printer.backChannel += MakeStatusUpdate(due);
  }
}

}  // namespace

void PrinterReceive(EmulatedPrinter& printer, const char* bytes, std::size_t count) {
  printer.receivedCount += count;
  printer.receivedDigest = Digest(printer.receivedDigest, bytes, count);
  printer.received.append(bytes, count);
  std::vector<RemoteBlock> blocks;
  printer.scanFrom = ScanRemoteBlocks(printer.received, printer.scanFrom, blocks);
  for (const RemoteBlock& block : blocks) {
    printer.commands.push_back(printer.received.substr(block.begin, block.end - block.begin));
    Answer(printer, block);
  }
  if (!printer.options.keepReceived) {
    // Compact mode: keep only what a later block may still need, the unscanned
    // tail and the reset prefix that may stand right in front of it.
    const std::size_t keepFrom =
        printer.scanFrom > kResetPrefixLength ? printer.scanFrom - kResetPrefixLength : 0;
    printer.received.erase(0, keepFrom);
    printer.scanFrom -= keepFrom;
  }
}

std::size_t PrinterRead(EmulatedPrinter& printer, char* out, std::size_t capacity) {
  // Replies whose delay has run out become readable, in the order they were made.
  auto ready = std::stable_partition(printer.held.begin(), printer.held.end(),
                                     [](const HeldReply& r) { return r.readsLeft <= 0; });
  for (auto it = printer.held.begin(); it != ready; ++it) printer.backChannel += it->bytes;
  printer.held.erase(printer.held.begin(), ready);
  if (printer.backChannel.empty() && printer.held.empty()) QueueDueUpdate(printer);
  if (printer.options.neverRunsDry && printer.documentOpen) {
    while (printer.backChannel.size() < capacity) printer.backChannel += MakeStatusUpdate(0);
  }

  std::size_t count = std::min(capacity, printer.backChannel.size());
  if (printer.options.readChunk > 0) count = std::min(count, printer.options.readChunk);
  if (count > 0) {
    std::memcpy(out, printer.backChannel.data(), count);
    printer.backChannel.erase(0, count);
  }
  for (HeldReply& reply : printer.held) --reply.readsLeft;
  return count;
}

void PrinterStartDocument(EmulatedPrinter& printer) {
  printer.documentOpen = true;
  printer.documentStart = std::chrono::steady_clock::now();
  printer.updatesDue = 0;
}

void PrinterEndDocument(EmulatedPrinter& printer) {
  printer.documentOpen = false;
}

std::size_t PrinterPending(const EmulatedPrinter& printer) {
  std::size_t pending = printer.backChannel.size();
  for (const HeldReply& reply : printer.held) pending += reply.bytes.size();
  return pending;
}

void PrinterClearReceived(EmulatedPrinter& printer) {
  printer.received.clear();
  printer.receivedCount = 0;
  printer.receivedDigest = kDigestStart;
  printer.scanFrom = 0;
  printer.commands.clear();
}

}  // namespace emu
