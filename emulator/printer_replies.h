// The emulated printer's replies. Only two features are relied on by the monitor:
// the characters "04" at offsets 12-13 of a status reply (the printer is ready for
// the ink query) and the marker "IQ:" with two length bytes behind it in an ink
// reply. The rest of the format is the emulator's own, documented in
// printer_replies.cpp, and used by the demo to draw the ink levels.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace emu {

struct InkLevels {
  std::vector<std::pair<std::string, int>> colours;  // name, percent 0-100
};

// A status reply as the printer sends it after a status command.
std::string MakeStatusReply(bool inkReady);
// A status update the printer volunteers while printing; `sequence` numbers them.
std::string MakeStatusUpdate(unsigned sequence);
// An ink reply: "IQ:", two length bytes, then the ink data. A reply whose total
// length would be 22 or 38 bytes (lengths the monitor leaves unstripped) gets one
// space of padding at the end of its data.
std::string MakeInkReply(const InkLevels& levels);
// The same without that padding when `avoidUnstrippedLengths` is false, for tests
// that want exactly those lengths.
std::string MakeInkReply(const InkLevels& levels, bool avoidUnstrippedLengths);
// The ink data alone ("BLACK=72%;CYAN=45%;..."), as the monitor stores it behind "IQ:".
std::string MakeInkData(const InkLevels& levels);
// The ink data part of a reply after the monitor removed the length bytes
// ("IQ:" + data), parsed back into levels. Empty on text it does not recognise.
InkLevels ParseInkLevel(const std::string& stored);
InkLevels DefaultInkLevels();

// Offsets and codes of the status text (see printer_replies.cpp).
constexpr std::size_t kStatusCodeOffset = 12;
constexpr char kStatusReady[] = "04";     // idle, ready for the ink query
constexpr char kStatusBusy[] = "01";      // warming up: no ink query now
constexpr char kStatusPrinting[] = "03";  // volunteered while a document prints

bool operator==(const InkLevels& a, const InkLevels& b);

}  // namespace emu
