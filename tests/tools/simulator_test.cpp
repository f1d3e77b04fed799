// kovir_spool driven as a program: what a user sees of a run (exit status, error
// line, timeline lines) and the StMonitor key it exports afterwards, for the
// printers a user is likely to try.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "emulator/printer_replies.h"
#include "tests/tools/run_program.h"

namespace {

using spool_test::ProgramRun;
using spool_test::ReadWholeFile;
using spool_test::RegValues;
using spool_test::RunSpool;

std::filesystem::path Scratch(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path("tools_test_runs") / name;
  std::filesystem::remove_all(dir);
  return dir;
}

// ---------------------------------------------------------------------------
// Bad command lines: one line on stderr, exit status 2, nothing printed.

struct BadCommandLine {
  const char* name;
  std::vector<std::string> args;
  const char* mentions;  // the error line names what was wrong
};

class SimulatorRejects : public testing::TestWithParam<BadCommandLine> {};

TEST_P(SimulatorRejects, WithOneErrorLineAndExitStatusTwo) {
  const BadCommandLine& bad = GetParam();
  const ProgramRun run = RunSpool(bad.args, Scratch(std::string("bad_") + bad.name));
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(spool_test::CountLines(run.err), 1) << run.err;
  EXPECT_EQ(run.err.rfind("kovir_spool: ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find(bad.mentions), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, SimulatorRejects,
    testing::Values(BadCommandLine{"unknown_option", {"--colour"}, "--colour"},
                    BadCommandLine{"unknown_model", {"--model", "KP-999"}, "KP-999"},
                    BadCommandLine{"missing_value", {"--poll-interval"}, "--poll-interval"},
                    BadCommandLine{"not_a_number", {"--pace", "fast"}, "fast"},
                    BadCommandLine{"missing_job_file",
                                   {"--job", "no-such-dir/no-such-job.prn"},
                                   "no-such-job.prn"},
                    BadCommandLine{"job_is_a_directory", {"--job", "."}, "directory"}),
    [](const testing::TestParamInfo<BadCommandLine>& info) { return info.param.name; });

TEST(Simulator, HelpExitsZeroWithUsage) {
  const ProgramRun run = RunSpool({"--help"}, Scratch("help"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("Usage: kovir_spool"), std::string::npos);
  for (const char* option : {"--model", "--device-id", "--printer", "--port", "--job",
                             "--poll-interval", "--pace", "--status-updates", "--no-status-app",
                             "--hold-thread-flag", "--face", "--out", "--wine", "--help"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(run.err, "");
}

// ---------------------------------------------------------------------------
// Whole runs. Each uses a printer name of its own, so runs under Wine (one
// registry for all) never see each other's keys. The job is paced to last well
// over a second with a 200 ms poll interval, so the poller has several polls.

struct RunResult {
  ProgramRun run;
  std::map<std::string, std::string> reg;
  std::string regFile;
  std::string received;
};

RunResult RunScenario(const std::string& name, std::vector<std::string> args) {
  const std::filesystem::path dir = Scratch(name);
  args.insert(args.end(), {"--printer", "tools test " + name, "--out", (dir / "out").string(),
                           "--poll-interval", "200", "--pace", "32"});
  RunResult result{RunSpool(args, dir), {}, {}, {}};
  result.regFile = ReadWholeFile(dir / "out" / "StMonitor.reg");
  result.reg = RegValues(result.regFile);
  result.received = ReadWholeFile(dir / "out" / "received.bin");
  return result;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Through either spooler's face (--face): the same exchange, the same key.
class SimulatorRunKp210s : public testing::TestWithParam<std::string> {};

TEST_P(SimulatorRunKp210s, SendsCommandAReadsInkAndPublishesStatus) {
  const std::string& face = GetParam();
  const std::string name = face == "win95" ? "kp210s" : "kp210s " + face;
  const RunResult r = RunScenario(name, {"--model", "KP-210S", "--face", face});
  ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
  EXPECT_TRUE(Contains(r.run.out, face == "nt" ? "InitializePrintMonitor2 -> MONITOR2 of"
                                               : "InitializeMonitorEx -> TRUE"));
  EXPECT_EQ(Contains(r.run.out, "spooler    Shutdown returned"), face == "nt");
  EXPECT_TRUE(Contains(r.run.out, "device ID read: \"MFG:KOVIR;CMD:REMOTE1;MDL:KP-210S;"));
  EXPECT_TRUE(Contains(r.run.out, "sent StatusCommandA, 33 bytes: 1b 40 1b 40 1b 28 52"));
  EXPECT_TRUE(Contains(r.run.out, "sent InkQueryCommand, 22 bytes: 1b 28 52"));
  EXPECT_TRUE(Contains(r.run.out, "Job data: intact"));

  // The file is CR LF throughout, as regedit writes it.
  EXPECT_EQ(r.regFile.rfind("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\"
                            "control\\Print\\Printers\\tools test " +
                                name + "\\StMonitor]\r\n",
                            0),
            0u)
      << r.regFile;
  EXPECT_EQ(r.reg.at("StMonExistFlag"), "dword:00000001");
  EXPECT_EQ(r.reg.at("IDMDL"), "\"KP-210S\"");
  EXPECT_EQ(r.reg.at("StRealThreadExistFlag"), "dword:00000000");
  EXPECT_EQ(r.reg.at("GetRealTimeStatusStartFlag"), "dword:00000001")
      << "the ink exchange restores polling";
  EXPECT_EQ(r.reg.at("GetRealTimeStatusTime"), "dword:000000c8");
  EXPECT_EQ(r.reg.at("LanMonExistFlag"), "dword:00000000");
  ASSERT_TRUE(r.reg.count("RealTimeStatusStrings"));
  EXPECT_EQ(r.reg.at("RealTimeStatusStrings").rfind("\"STATUS KVR1 ", 0), 0u);

  // InkLevel holds the ink data with its two length bytes removed, and the bars
  // show the printer's levels.
  ASSERT_TRUE(r.reg.count("InkLevel"));
  const std::string ink = r.reg.at("InkLevel");
  ASSERT_GE(ink.size(), 2u);
  EXPECT_EQ(emu::ParseInkLevel(ink.substr(1, ink.size() - 2)).colours,
            emu::DefaultInkLevels().colours);
  EXPECT_TRUE(Contains(r.run.out, "  BLACK    [##############......]  72%"));
}

INSTANTIATE_TEST_SUITE_P(Faces, SimulatorRunKp210s, testing::Values("win95", "nt"),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

TEST(SimulatorRun, Kp6600sSendsCommandBAndNoInkQuery) {
  const RunResult r = RunScenario("kp6600s", {"--model", "KP-6600S"});
  ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
  EXPECT_TRUE(Contains(r.run.out, "sent StatusCommandB, 33 bytes"));
  EXPECT_FALSE(Contains(r.run.out, "InkQueryCommand"));
  EXPECT_EQ(r.reg.at("IDMDL"), "\"KP-6600S\"");
  EXPECT_EQ(r.reg.at("LanMonExistFlag"), "dword:00000000");
  ASSERT_TRUE(r.reg.count("RealTimeStatusStrings"));
  EXPECT_EQ(r.reg.at("RealTimeStatusStrings").rfind("\"STATUS KVR1 ", 0), 0u);
  EXPECT_FALSE(r.reg.count("InkLevel"));
  EXPECT_TRUE(Contains(r.run.out, "Job data: intact"));
}

TEST(SimulatorRun, AnotherMakersPrinterGetsNothingButTheJob) {
  const RunResult r = RunScenario("acme", {"--device-id", "MFG:ACME;MDL:Laser 5;CLS:PRINTER;"});
  ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
  EXPECT_FALSE(Contains(r.run.out, "sent "));
  // The key holds what the status application wrote and the monitor's lowered
  // flag, nothing more.
  const std::map<std::string, std::string> expected = {
      {"StMonExistFlag", "dword:00000001"},        {"IDMDL", "\"Laser 5\""},
      {"StRealThreadExistFlag", "dword:00000000"}, {"GetRealTimeStatusStartFlag", "dword:00000001"},
      {"GetRealTimeStatusTime", "dword:000000c8"}, {"LanMonExistFlag", "dword:00000000"}};
  EXPECT_EQ(r.reg, expected);
  // Every byte the printer received is the job's.
  EXPECT_TRUE(Contains(r.run.out, "0 from the monitor's commands"));
  EXPECT_TRUE(Contains(r.run.out, "Job data: intact"));
}

TEST(SimulatorRun, WithoutTheStatusApplicationNothingIsSent) {
  const RunResult r = RunScenario("no_app", {"--no-status-app"});
  ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
  EXPECT_FALSE(Contains(r.run.out, "sent "));
  EXPECT_EQ(r.reg.at("StMonExistFlag"), "dword:00000000");
  EXPECT_EQ(r.reg.at("LanMonExistFlag"), "dword:00000000");
  EXPECT_FALSE(r.reg.count("RealTimeStatusStrings"));
  EXPECT_FALSE(r.reg.count("InkLevel"));
}

TEST(SimulatorRun, JobFileArrivesIntactBehindTheMonitorsCommands) {
  const std::filesystem::path dir = Scratch("job_file_input");
  std::filesystem::create_directories(dir);
  std::string job;
  for (int i = 0; i < 3000; ++i) job += static_cast<char>((i * 7) & 0xFF);  // NULs included
  std::ofstream(dir / "job.prn", std::ios::binary) << job;

  const RunResult r = RunScenario("job_file", {"--job", (dir / "job.prn").string()});
  ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
  EXPECT_TRUE(Contains(r.run.out, "Job data: intact"));
  // received.bin: the status command and the ink query (33 + 22 bytes), then the job.
  ASSERT_EQ(r.received.size(), 33 + 22 + job.size());
  EXPECT_EQ(r.received.substr(55), job);
}

TEST(SimulatorRun, HeldThreadFlagHoldsTheDocumentBackUntilCleared) {
  const RunResult r = RunScenario("held_flag", {"--hold-thread-flag", "600"});
  ASSERT_EQ(r.run.exitCode, 0) << r.run.err;
  const std::size_t cleared = r.run.out.find("clears StRealThreadExistFlag");
  const std::size_t deviceDoc = r.run.out.find("device monitor StartDocPort");
  ASSERT_NE(cleared, std::string::npos);
  ASSERT_NE(deviceDoc, std::string::npos);
  EXPECT_LT(cleared, deviceDoc) << "the device document opened while the flag was still set";
  EXPECT_TRUE(Contains(r.run.out, "Job data: intact"));
}

}  // namespace
