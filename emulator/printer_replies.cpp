// What the emulated printer says. The monitor relies on two features only; the
// rest is this emulator's own format, kept plain ASCII so that a stored reply reads
// well in the registry and in the demo.
//
// Status text (reply to a status command, and volunteered updates while printing):
//
//   STATUS KVR1 04 READY;ERR:00;
//   0         1111
//   0123456789012345
//
//   "STATUS KVR1 " (12 bytes), a two-digit state code at offsets 12-13, a word for
//   the state, then ";"-terminated fields. State codes:
//     04 READY     idle and ready: the monitor goes on to the ink query
//     01 BUSY      warming up: the monitor skips the ink query
//     03 PRINTING  an update the printer volunteers while a document is open;
//                  it carries SEQ:nnnn, counting updates from 1 per document
//   e.g. "STATUS KVR1 03 PRINTING;ERR:00;SEQ:0002;"
//
// Ink reply (answer to the ink query):
//
//   'I' 'Q' ':' lo hi BLACK=72%;CYAN=45%;MAGENTA=88%;YELLOW=30%;
//
//   "IQ:", the length of the ink data as a 16-bit little-endian number (two raw
//   bytes, often containing a NUL: the monitor removes them before storing), then
//   the ink data: one "NAME=N%;" field per colour, N in 0-100. A reply whose total
//   length would be 22 or 38 bytes, which the monitor stores without stripping,
//   gets one trailing space in its data unless a test asks for the exact length.
//
// None of these texts contains "IQ:" except the ink reply, and none but the ink
// reply's length bytes contains a NUL. The printer sends each reply on its own:
// an update is volunteered only when no reply is owed (emulated_printer.cpp).
#include "emulator/printer_replies.h"

#include <cstdio>
#include <string_view>

namespace emu {
namespace {

constexpr std::string_view kStatusPrefix = "STATUS KVR1 ";
static_assert(kStatusPrefix.size() == kStatusCodeOffset);

constexpr std::string_view kInkMarker = "IQ:";
constexpr std::size_t kInkHeaderSize = kInkMarker.size() + 2;

bool UnstrippedLength(std::size_t total) {
  return total == 22 || total == 38;
}

}  // namespace

bool operator==(const InkLevels& a, const InkLevels& b) {
  return a.colours == b.colours;
}

std::string MakeStatusReply(bool inkReady) {
  std::string reply(kStatusPrefix);
  reply += inkReady ? std::string(kStatusReady) + " READY;" : std::string(kStatusBusy) + " BUSY;";
  reply += "ERR:00;";
  return reply;
}

std::string MakeStatusUpdate(unsigned sequence) {
  char seq[16];
  std::snprintf(seq, sizeof seq, "%04u", sequence % 10000u);
  std::string update(kStatusPrefix);
  update += std::string(kStatusPrinting) + " PRINTING;ERR:00;SEQ:" + seq + ";";
  return update;
}

std::string MakeInkData(const InkLevels& levels) {
  std::string data;
  for (const auto& [name, percent] : levels.colours) {
    data += name + "=" + std::to_string(percent) + "%;";
  }
  return data;
}

std::string MakeInkReply(const InkLevels& levels) {
  return MakeInkReply(levels, true);
}

std::string MakeInkReply(const InkLevels& levels, bool avoidUnstrippedLengths) {
  std::string data = MakeInkData(levels);
  if (avoidUnstrippedLengths && UnstrippedLength(kInkHeaderSize + data.size())) data += ' ';
  std::string reply(kInkMarker);
  reply += static_cast<char>(data.size() & 0xFF);
  reply += static_cast<char>((data.size() >> 8) & 0xFF);
  reply += data;
  return reply;
}

InkLevels DefaultInkLevels() {
  return InkLevels{{{"BLACK", 72}, {"CYAN", 45}, {"MAGENTA", 88}, {"YELLOW", 30}}};
}

// Reads "NAME=N%;" fields after the marker until the first text that is not one
// (trailing padding, or a status update that arrived behind the ink reply). A
// reply whose length bytes were not removed fails at once on them.
InkLevels ParseInkLevel(const std::string& stored) {
  std::string_view rest(stored);
  if (rest.substr(0, kInkMarker.size()) != kInkMarker) return {};
  rest.remove_prefix(kInkMarker.size());
  InkLevels levels;
  for (;;) {
    const std::size_t equals = rest.find('=');
    const std::size_t end = rest.find(';');
    if (equals == std::string_view::npos || end == std::string_view::npos || equals == 0 ||
        equals > end) {
      break;
    }
    std::string_view name = rest.substr(0, equals);
    std::string_view number = rest.substr(equals + 1, end - equals - 1);
    bool nameOk = true;
    for (char c : name) {
      nameOk = nameOk && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == ' ' || c == '-' || c == '_');
    }
    if (!nameOk || number.size() < 2 || number.size() > 4 || number.back() != '%') break;
    number.remove_suffix(1);
    int percent = 0;
    bool numberOk = true;
    for (char c : number) {
      numberOk = numberOk && c >= '0' && c <= '9';
      percent = percent * 10 + (c - '0');
    }
    if (!numberOk || percent > 100) break;
    levels.colours.emplace_back(std::string(name), percent);
    rest.remove_prefix(end + 1);
  }
  return levels;
}

}  // namespace emu
