// The simulator's pieces whose output a user reads: the .reg export, the command
// names on the timeline, the job check and the ink bars.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "emulator/device_monitor.h"
#include "emulator/printer_replies.h"
#include "emulator/status_app.h"
#include "printer_status/remote_commands.h"
#include "status_store/status_key.h"
#include "tests/support/printer_text.h"
#include "tests/tools/run_program.h"
#include "tools/command_names.h"
#include "tools/ink_bars.h"
#include "tools/job_data.h"
#include "tools/reg_export.h"

namespace {

spool::RegValue Dword(const std::string& name, DWORD value) {
  const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8),
                         static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
  return {name, REG_DWORD, std::string(bytes, 4)};
}

// ---------------------------------------------------------------------------
// .reg export

struct RegCase {
  spool::RegValue value;
  const char* data;
};

class RegData : public testing::TestWithParam<RegCase> {};

TEST_P(RegData, IsWrittenAsRegeditWritesIt) {
  EXPECT_EQ(spool::RegData(GetParam().value), GetParam().data);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RegData,
    testing::Values(RegCase{Dword("a", 11), "dword:0000000b"},
                    RegCase{Dword("a", 3000), "dword:00000bb8"},
                    RegCase{Dword("a", 0xFFFFFFFF), "dword:ffffffff"},
                    RegCase{{"s", REG_SZ, std::string("KP-210S\0", 8)}, "\"KP-210S\""},
                    RegCase{{"s", REG_SZ, "C:\\path \"quoted\""}, "\"C:\\\\path \\\"quoted\\\"\""},
                    RegCase{{"s", REG_SZ, ""}, "\"\""},
                    // Control bytes cannot stand in REGEDIT4 text: the bytes go as hex(1).
                    RegCase{{"s", REG_SZ, std::string("A\x1b\x42\0", 4)}, "hex(1):41,1b,42,00"},
                    RegCase{{"b", REG_BINARY, std::string("\x01\xff", 2)}, "hex:01,ff"},
                    // A DWORD of the wrong size is shown as it is stored.
                    RegCase{{"d", REG_DWORD, std::string("\x01\x02", 2)}, "hex(4):01,02"}));

TEST(RegExport, FileHasHeaderKeyValuesAndBlankLastLine) {
  const std::string file =
      spool::FormatRegFile(spool::StatusKeyName("P"), {Dword("LanMonExistFlag", 0)}, "\r\n");
  EXPECT_EQ(file,
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\Print\\Printers\\P\\"
            "StMonitor]\r\n"
            "\"LanMonExistFlag\"=dword:00000000\r\n\r\n");
}

TEST(RegExport, ReadsTheKeyInExportOrderAndMissingKeyAsNothing) {
  const std::string printer = "tools pieces read key";
  emu::status_app::Uninstall(printer);
  EXPECT_FALSE(spool::ReadStatusKey(printer).has_value());

  emu::status_app::Install(printer, "KP-6600S", 2, 1, 750);
  emu::status_app::SetString(printer, VALUE_STATUS_STRING, "STATUS KVR1 04 READY;");
  const std::optional<std::vector<spool::RegValue>> values = spool::ReadStatusKey(printer);
  emu::status_app::Uninstall(printer);
  ASSERT_TRUE(values.has_value());
  std::string lines;
  for (const spool::RegValue& v : *values) lines += v.name + "=" + spool::RegData(v) + "\n";
  EXPECT_EQ(lines,
            "StMonExistFlag=dword:00000002\n"
            "IDMDL=\"KP-6600S\"\n"
            "StRealThreadExistFlag=dword:00000000\n"
            "GetRealTimeStatusStartFlag=dword:00000001\n"
            "GetRealTimeStatusTime=dword:000002ee\n"
            "RealTimeStatusStrings=\"STATUS KVR1 04 READY;\"\n");
}

// The package's defaults file says what the monitor writes back for a missing
// value, in the export's own format.
TEST(PackageDefaults, MatchTheMonitorsDefaults) {
  const std::string file = spool_test::ReadWholeFile(std::filesystem::path(KOVIR_PACKAGE_DIR) /
                                                     "StMonitor-defaults.reg");
  ASSERT_FALSE(file.empty());
  std::string withoutComments;
  std::size_t at = 0;
  while (at < file.size()) {
    std::size_t end = file.find('\n', at);
    end = end == std::string::npos ? file.size() : end + 1;
    if (file[at] != ';') withoutComments += file.substr(at, end - at);
    at = end;
  }
  EXPECT_EQ(withoutComments,
            spool::FormatRegFile(spool::StatusKeyName("PRINTER NAME"),
                                 {Dword(VALUE_STATUS_MONITOR, 0), Dword(VALUE_STATUS_THREAD, 0),
                                  Dword(VALUE_POLL_ENABLED, DEFAULT_POLL_ENABLED),
                                  Dword(VALUE_POLL_INTERVAL, DEFAULT_POLL_INTERVAL_MS)},
                                 "\r\n"));
}

// ---------------------------------------------------------------------------
// Command names

using monitor_test::Bytes;

TEST(CommandNames, NameTheMonitorsOwnBlocks) {
  EXPECT_EQ(spool::NameCommand(Bytes(StatusCommandA)), "StatusCommandA");
  EXPECT_EQ(spool::NameCommand(Bytes(StatusCommandB)), "StatusCommandB");
  EXPECT_EQ(spool::NameCommand(Bytes(InkQueryCommand)), "InkQueryCommand");
}

TEST(CommandNames, AWrongByteIsNotNamedAsTheCommand) {
  std::string wrongParameter = Bytes(StatusCommandA);
  wrongParameter[22] = 0x02;  // ST 00 02
  EXPECT_EQ(spool::NameCommand(wrongParameter), "remote-mode block (ST AP)");
  std::string noResets = Bytes(StatusCommandA).substr(4);
  EXPECT_EQ(spool::NameCommand(noResets), "remote-mode block (ST AP)");
  std::string cut = Bytes(InkQueryCommand);
  cut.pop_back();
  EXPECT_EQ(spool::NameCommand(cut), "unrecognised bytes");
  EXPECT_EQ(spool::NameCommand("hello"), "unrecognised bytes");
}

// ---------------------------------------------------------------------------
// The job and its check

TEST(JobData, SampleIsTheSame48KiBEveryTime) {
  const std::string job = spool::SampleJob();
  EXPECT_EQ(job.size(), 48u * 1024);
  EXPECT_EQ(job, spool::SampleJob());
  EXPECT_EQ(job.substr(0, 2), std::string("\x1b") + "E");
  EXPECT_EQ(job.substr(job.size() - 3), std::string("\f\x1b") + "E");
}

// The report labels the emulated printer's digest "fnv1a-64".
TEST(JobData, DigestIsFnv1a64) {
  EXPECT_EQ(emu::Digest(emu::kDigestStart, "", 0), 0xcbf29ce484222325ull);
  EXPECT_EQ(emu::Digest(emu::kDigestStart, "a", 1), 0xaf63dc4c8601ec8cull);
}

TEST(JobData, JobBytesCutCommandsOutByTheirPlace) {
  const std::string received =
      "CMD1"
      "job-part-1"
      "CMD22"
      "job-part-2";
  const std::optional<std::string> job =
      spool::JobBytes(received, {{false, 4}, {true, 10}, {false, 5}, {true, 10}});
  ASSERT_TRUE(job.has_value());
  EXPECT_EQ(*job, "job-part-1job-part-2");
}

TEST(JobData, JobBytesRefuseAStreamThatDoesNotAddUp) {
  EXPECT_FALSE(spool::JobBytes("abc", {{true, 4}}).has_value());   // lost bytes
  EXPECT_FALSE(spool::JobBytes("abcd", {{true, 3}}).has_value());  // extra bytes
}

TEST(JobData, MissingFileGivesAReason) {
  std::string error;
  EXPECT_FALSE(spool::ReadJobFile("no-such-dir/none.prn", &error).has_value());
  EXPECT_NE(error.find("none.prn"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Ink bars

TEST(InkBars, OneBarPerColourScaledAndClamped) {
  emu::InkLevels levels{{{"BLACK", 72}, {"CYAN", 0}, {"ODD", 130}}};
  EXPECT_EQ(spool::InkBars(levels, 10),
            "  BLACK    [#######...]  72%\n"
            "  CYAN     [..........]   0%\n"
            "  ODD      [##########] 130%\n");
}

TEST(InkBars, DrawTheLevelsAStrippedInkReplyCarries) {
  // The reply as the monitor stores it: "IQ:" and the data, length bytes removed.
  const std::string reply = emu::MakeInkReply(emu::DefaultInkLevels());
  const std::string stored = reply.substr(0, 3) + reply.substr(5);
  EXPECT_EQ(spool::InkBars(emu::ParseInkLevel(stored), 4),
            "  BLACK    [###.]  72%\n"
            "  CYAN     [##..]  45%\n"
            "  MAGENTA  [####]  88%\n"
            "  YELLOW   [#...]  30%\n");
}

}  // namespace
