// The simulator's command line: what each option sets, what it derives, and the
// error a user gets for a bad one.
#include "tools/spool_options.h"

#include <gtest/gtest.h>

namespace {

using spool::ParseSpoolOptions;

TEST(SpoolOptions, DefaultsPrintTheSampleOnAKp210sWithTheApplicationRunning) {
  const spool::ParsedOptions parsed = ParseSpoolOptions({});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.model, "KP-210S");
  EXPECT_EQ(parsed.options.deviceId, "MFG:KOVIR;CMD:REMOTE1;MDL:KP-210S;CLS:PRINTER;");
  EXPECT_EQ(parsed.options.printer, "KOVIR KP-210S");
  EXPECT_EQ(parsed.options.port, "LPT1:");
  EXPECT_TRUE(parsed.options.statusApp);
  EXPECT_EQ(parsed.options.jobFile, "");
  EXPECT_EQ(parsed.options.pollIntervalMs, 500u);
  EXPECT_EQ(parsed.options.face, spool::SpoolerFace::Win95);
}

// The last of a repeated option wins; numbers are decimal even with a leading zero.
TEST(SpoolOptions, ValuesComeSeparateOrAfterAnEqualsSign) {
  const spool::ParsedOptions parsed = ParseSpoolOptions(
      {"--model=KP-6600SU", "--port", "COM1:", "--port", "COM2:", "--poll-interval=0750", "--pace",
       "0", "--hold-thread-flag", "300", "--no-status-app", "--job", "page.prn", "--out=there",
       "--status-updates", "0", "--face", "win95", "--face=nt"});
  ASSERT_EQ(parsed.error, "");
  const spool::SpoolOptions& o = parsed.options;
  EXPECT_EQ(o.model, "KP-6600SU");
  EXPECT_EQ(o.deviceId, "MFG:KOVIR;CMD:REMOTE1;MDL:KP-6600SU;CLS:PRINTER;");
  EXPECT_EQ(o.printer, "KOVIR KP-6600SU");
  EXPECT_EQ(o.port, "COM2:");
  EXPECT_EQ(o.pollIntervalMs, 750u);
  EXPECT_EQ(o.paceKiBPerSecond, 0u);
  EXPECT_EQ(o.holdThreadFlagMs, 300u);
  EXPECT_FALSE(o.statusApp);
  EXPECT_EQ(o.jobFile, "page.prn");
  EXPECT_EQ(o.outDir, "there");
  EXPECT_EQ(o.statusUpdatesMs, 0u);
  EXPECT_EQ(o.face, spool::SpoolerFace::Nt);
}

TEST(SpoolOptions, AnotherMakersDeviceIdNamesModelAndPrinter) {
  const spool::ParsedOptions parsed = ParseSpoolOptions({"--device-id", "MFG:ACME;MDL:Laser 5;"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.model, "Laser 5");  // what the application registers
  EXPECT_EQ(parsed.options.printer, "ACME Laser 5");
  EXPECT_EQ(parsed.options.deviceId, "MFG:ACME;MDL:Laser 5;");
}

TEST(SpoolOptions, GivenPrinterNameAndModelWin) {
  const spool::ParsedOptions parsed = ParseSpoolOptions(
      {"--device-id", "MFG:KOVIR;MDL:KP-210S;", "--model", "KP-6600S", "--printer", "Office"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.model, "KP-6600S");  // a registration that does not match
  EXPECT_EQ(parsed.options.printer, "Office");
}

TEST(SpoolOptions, HelpAndWineAreFlags) {
  EXPECT_TRUE(ParseSpoolOptions({"--help"}).options.help);
  EXPECT_TRUE(ParseSpoolOptions({"-h"}).options.help);
  EXPECT_TRUE(ParseSpoolOptions({"--wine"}).options.wine);
  EXPECT_FALSE(ParseSpoolOptions({}).options.wine);
}

struct BadArgs {
  std::vector<std::string> args;
  const char* error;
};

class SpoolOptionsError : public testing::TestWithParam<BadArgs> {};

TEST_P(SpoolOptionsError, IsOneLineNamingTheProblem) {
  const spool::ParsedOptions parsed = ParseSpoolOptions(GetParam().args);
  EXPECT_EQ(parsed.error.find('\n'), std::string::npos);
  EXPECT_NE(parsed.error.find(GetParam().error), std::string::npos) << parsed.error;
}

INSTANTIATE_TEST_SUITE_P(CommandLines, SpoolOptionsError,
                         testing::Values(BadArgs{{"job.prn"}, "not expected: job.prn"},
                                         BadArgs{{"--model", "KP-210"}, "unknown model 'KP-210'"},
                                         BadArgs{{"--poll-interval", "0"}, "from 1 to 600000"},
                                         BadArgs{{"--poll-interval", "600001"}, "from 1 to 600000"},
                                         BadArgs{{"--pace", "-1"}, "'-1' is not a number"},
                                         BadArgs{{"--pace", "12k"}, "'12k' is not a number"},
                                         BadArgs{{"--pace", "0x10"}, "'0x10' is not a number"},
                                         BadArgs{{"--hold-thread-flag", ""}, "'' is not a number"},
                                         BadArgs{{"--wine=yes"}, "wine was given a disallowed"},
                                         BadArgs{{"--face", "95"}, "--face: 95 not in {win95,nt}"},
                                         BadArgs{{"--device-id", "MFG:ACME;"}, "no MDL field"},
                                         BadArgs{{"--port", ""}, "--port must not be empty"},
                                         BadArgs{{"--printer", "Office\\Laser"},
                                                 "must not contain"}));

TEST(DeviceIdField, FindsExactKeysOnly) {
  const std::string id = "MANUFACTURER:X;MFG:KOVIR;MDL:KP-210S";
  EXPECT_EQ(spool::DeviceIdField(id, "MFG"), "KOVIR");
  EXPECT_EQ(spool::DeviceIdField(id, "MDL"), "KP-210S");  // last field, no ';'
  EXPECT_EQ(spool::DeviceIdField(id, "CLS"), "");
}

}  // namespace
