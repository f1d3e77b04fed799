// The printer's reply formats: the two features the monitor relies on, the
// lengths it must not meet by accident, and the ink data read back after the
// monitor has stripped the length bytes.
#include "emulator/printer_replies.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// What the monitor does to an ink reply before storing it: drop the two bytes
// behind "IQ:" and keep the text up to the first NUL.
std::string StripLikeTheMonitor(std::string reply) {
  reply.erase(3, 2);
  return reply.substr(0, reply.find('\0'));
}

TEST(StatusReply, CarriesItsStateCodeAtOffsetTwelve) {
  const std::string ready = emu::MakeStatusReply(true);
  const std::string busy = emu::MakeStatusReply(false);
  const std::string update = emu::MakeStatusUpdate(3);
  EXPECT_EQ(ready.substr(12, 2), "04");
  EXPECT_EQ(busy.substr(12, 2), "01");
  EXPECT_EQ(update.substr(12, 2), "03");
  EXPECT_NE(update.find("SEQ:0003;"), std::string::npos);
  EXPECT_NE(emu::MakeStatusUpdate(4), update);
  for (const std::string& text : {ready, busy, update}) {
    EXPECT_EQ(text.find('\0'), std::string::npos) << text;
    EXPECT_EQ(text.find("IQ:"), std::string::npos) << text;
  }
}

TEST(InkReply, MarkerThenLittleEndianLengthThenData) {
  const std::string data = emu::MakeInkData(emu::DefaultInkLevels());
  const std::string reply = emu::MakeInkReply(emu::DefaultInkLevels());
  ASSERT_EQ(reply.size(), 5 + data.size());
  EXPECT_EQ(reply.substr(0, 3), "IQ:");
  EXPECT_EQ(static_cast<unsigned char>(reply[3]) | static_cast<unsigned char>(reply[4]) << 8,
            static_cast<int>(data.size()));
  EXPECT_EQ(reply.substr(5), data);
  EXPECT_NE(reply.size(), 22u);
  EXPECT_NE(reply.size(), 38u);
  EXPECT_EQ(data.find("IQ:"), std::string::npos);
}

// Levels whose reply would be exactly 22 or 38 bytes long.
TEST(InkReply, LengthsTheMonitorLeavesUnstrippedArePaddedUnlessAsked) {
  const emu::InkLevels at22{{{"BLACK", 5}, {"CYAN", 5}}};
  const emu::InkLevels at38{{{"BLACK", 100}, {"CYAN", 100}, {"MAGENTA", 50}}};
  for (const auto& [levels, exact] : {std::pair{at22, 22u}, std::pair{at38, 38u}}) {
    EXPECT_EQ(emu::MakeInkReply(levels, false).size(), exact);
    const std::string padded = emu::MakeInkReply(levels);
    EXPECT_EQ(padded.size(), exact + 1);
    EXPECT_EQ(static_cast<unsigned char>(padded[3]), exact + 1 - 5) << "length covers the pad";
    EXPECT_EQ(emu::ParseInkLevel(StripLikeTheMonitor(padded)), levels);
  }
}

TEST(ParseInkLevel, ReadsBackWhatTheMonitorStores) {
  const emu::InkLevels levels = emu::DefaultInkLevels();
  ASSERT_EQ(levels.colours.size(), 4u);
  const std::string stored = StripLikeTheMonitor(emu::MakeInkReply(levels));
  EXPECT_EQ(emu::ParseInkLevel(stored), levels);
  EXPECT_EQ(emu::ParseInkLevel(stored + emu::MakeStatusUpdate(1)), levels)
      << "an update that arrived behind the ink reply is ignored";
}

TEST(ParseInkLevel, UnrecognisedTextGivesNoLevels) {
  const std::string unstripped = emu::MakeInkReply(emu::DefaultInkLevels());
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"no marker", "BLACK=50%;"},
      {"length bytes left in", unstripped.substr(0, unstripped.find('\0'))},
      {"status text", emu::MakeStatusReply(true)},
      {"over a hundred", "IQ:BLACK=101%;"},
      {"no percent sign", "IQ:BLACK=50;"},
      {"no name", "IQ:=50%;"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(emu::ParseInkLevel(c.text).colours.empty()) << c.name;
  }
  const emu::InkLevels partial = emu::ParseInkLevel("IQ:CYAN=0%;junk");
  ASSERT_EQ(partial.colours.size(), 1u);
  EXPECT_EQ(partial.colours[0], (std::pair<std::string, int>{"CYAN", 0}));
}

}  // namespace
