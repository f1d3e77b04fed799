// Two printers printing at once, each on its own port with its own poller: every
// step of one printer's documents lands in its own StMonitor key only, whatever
// the other printer's documents do meanwhile. Both keys are checked after each
// step.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "emulator/printer_replies.h"
#include "emulator/status_app.h"
#include "printer_status/job_start.h"
#include "printer_status/remote_commands.h"
#include "status_store/status_key.h"
#include "tests/support/monitor_fixture.h"
#include "tests/support/printer_text.h"
#include "tests/support/store_values.h"

namespace {

namespace app = emu::status_app;
using monitor_test::WaitUntil;

constexpr char kPortA[] = "LPT7:";
constexpr char kPortB[] = "LPT8:";
// Distinct poll flags (polling on, neither the default 1 nor each other's), so a
// value saved and restored in the wrong key shows.
constexpr DWORD kPollFlagA = 5, kPollFlagB = 7;
constexpr DWORD kPollIntervalMs = 100;
const std::string kInkA = "IQ:BLACK=1%;", kInkB = "IQ:BLACK=2%;";
const std::string kNewInk = "IQ:" + emu::MakeInkData(emu::DefaultInkLevels());

enum class Act {
  StartA,
  StartB,
  EndA,
  EndB,
  SayA,  // the printer on A queues `text` on its back channel
  SayB,
  StartBDuringAsInkQuery,  // A's document starts; B's starts as A's ink command goes out
};

struct KeyState {
  std::optional<DWORD> lan;           // LanMonExistFlag; none: never written
  std::optional<std::string> status;  // RealTimeStatusStrings
  std::string ink;                    // InkLevel
};

struct Step {
  Act act;
  const char* text;  // for SayA / SayB
  KeyState a, b;     // both keys after the step
};

struct OverlapCase {
  const char* name;
  const char* modelA;  // B is a KP-6600S; the ink query runs only for a KP-210S
  std::vector<Step> steps;
};

void PrintTo(const OverlapCase& c, std::ostream* out) {
  *out << c.name;
}

// The other port's document start, made from inside A's ink query: B's record and
// printer, for the device write slot that sees A's ink command.
PortRecord* gRecordB = nullptr;
std::string gPrinterB;
monitor_test::SpoolerFace gSpoolB{monitor_test::Face::Win95};
BOOL gStartedB = FALSE;

BOOL WINAPI StartBWithInkCommand(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written) {
  if (count == InkQueryCommand.size()) {
    gStartedB = gSpoolB.StartDoc(gRecordB, &gPrinterB, 2);
  }
  return emu::DeviceMonitor()->pfnWritePort(port, buffer, count, written);
}

class TwoPrinters : public monitor_test::CasesOnBothFaces<monitor_test::MonitorTest, OverlapCase> {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    // The second name and the bystander's extend the first.
    printerA_ = std::string("TwoPrinters.") + Case().name + ".Kp";
    printerB_ = printerA_ + "Second";
    bystander_ = printerA_ + ".Bystander";
  }
  // A printer that answers no command, unless it is the ink-reporting model, so
  // what its poller publishes is only what the test makes it say.
  PortRecord* Open(const char* port, const std::string& printer, const std::string& model,
                   DWORD pollFlag, const std::string& ink) {
    Register(printer, model, 1, pollFlag, kPollIntervalMs);
    app::SetString(printer, VALUE_INK_LEVEL, ink);
    emu::PrinterOptions options;
    options.deviceId = monitor_test::DeviceIdFor(model);
    options.answersCommands = model == INK_REPORTING_MODEL;
    return OpenPort(port, printer, options);
  }

  void Run(const Step& step) {
    switch (step.act) {
      case Act::StartA:
        EXPECT_TRUE(StartDoc(recordA_, printerA_));
        break;
      case Act::StartB:
        EXPECT_TRUE(StartDoc(recordB_, printerB_));
        break;
      case Act::EndA:
        EXPECT_TRUE(EndDoc(recordA_));
        break;
      case Act::EndB:
        EXPECT_TRUE(EndDoc(recordB_));
        break;
      case Act::SayA:
        emu::QueueBackChannel(kPortA, step.text);
        break;
      case Act::SayB:
        emu::QueueBackChannel(kPortB, step.text);
        break;
      case Act::StartBDuringAsInkQuery:
        gRecordB = recordB_;
        gPrinterB = printerB_;
        gSpoolB = Spool();
        gStartedB = FALSE;
        recordA_->deviceMonitor.pfnWritePort = StartBWithInkCommand;
        recordA_->deviceMonitor2.pfnWritePort = StartBWithInkCommand;
        EXPECT_TRUE(StartDoc(recordA_, printerA_));
        recordA_->deviceMonitor.pfnWritePort = emu::DeviceMonitor()->pfnWritePort;
        recordA_->deviceMonitor2.pfnWritePort = emu::DeviceMonitor2()->pfnWritePort;
        EXPECT_TRUE(gStartedB) << "no ink query on A";
        break;
    }
  }

  void Expect(const std::string& printer, const KeyState& state, DWORD pollFlag) {
    SCOPED_TRACE(printer);
    // A poller publishes in its own time.
    WaitUntil([&] { return app::PublishedStatus(printer) == state.status; });
    EXPECT_EQ(app::ReadDword(printer, VALUE_LAN_MONITOR), state.lan);
    EXPECT_EQ(app::PublishedStatus(printer), state.status);
    EXPECT_EQ(app::PublishedInkLevel(printer), state.ink);
    EXPECT_EQ(app::ReadDword(printer, VALUE_POLL_ENABLED), pollFlag);
  }

  std::string printerA_, printerB_, bystander_;
  PortRecord* recordA_ = nullptr;
  PortRecord* recordB_ = nullptr;
};

TEST_P(TwoPrinters, EachPrintersKeyHoldsOnlyItsOwnDocumentsAndReplies) {
  const OverlapCase& c = Case();
  Register(bystander_, "KP-6600S");
  app::DeleteValue(bystander_, VALUE_STATUS_MONITOR);
  app::DeleteValue(bystander_, VALUE_STATUS_THREAD);
  recordA_ = Open(kPortA, printerA_, c.modelA, kPollFlagA, kInkA);
  recordB_ = Open(kPortB, printerB_, "KP-6600S", kPollFlagB, kInkB);
  ASSERT_NE(recordA_, nullptr);
  ASSERT_NE(recordB_, nullptr);

  int number = 0;
  for (const Step& step : c.steps) {
    SCOPED_TRACE("step " + std::to_string(++number));
    Run(step);
    Expect(printerA_, step.a, kPollFlagA);
    Expect(printerB_, step.b, kPollFlagB);
    monitor_test::ExpectStoreValuesOnlyInOwnKeys(printerA_, printerB_, bystander_);
  }
}

KOVIRLM_CASES_ON_BOTH_FACES(
    Overlaps, TwoPrinters,
    testing::Values(
        OverlapCase{"EndingOneLeavesTheOthersFlag",
                    "KP-6600S",
                    {{Act::StartA, "", {1, {}, kInkA}, {{}, {}, kInkB}},
                     {Act::StartB, "", {1, {}, kInkA}, {1, {}, kInkB}},
                     {Act::EndA, "", {0, {}, kInkA}, {1, {}, kInkB}},
                     {Act::EndB, "", {0, {}, kInkA}, {0, {}, kInkB}}}},
        OverlapCase{
            "EachPollerPublishesInItsOwnKey",
            "KP-6600S",
            {{Act::StartA, "", {1, {}, kInkA}, {{}, {}, kInkB}},
             {Act::StartB, "", {1, {}, kInkA}, {1, {}, kInkB}},
             {Act::SayA, "A: ready", {1, "A: ready", kInkA}, {1, {}, kInkB}},
             {Act::SayB, "B: printing", {1, "A: ready", kInkA}, {1, "B: printing", kInkB}},
             {Act::EndA, "", {0, "A: ready", kInkA}, {1, "B: printing", kInkB}},
             {Act::SayB, "B: paper out", {0, "A: ready", kInkA}, {1, "B: paper out", kInkB}},
             {Act::EndB, "", {0, "A: ready", kInkA}, {0, "B: paper out", kInkB}}}},
        OverlapCase{"DocumentOnBDuringAsInkQuery",
                    "KP-210S",
                    {{Act::StartBDuringAsInkQuery, "", {1, {}, kNewInk}, {1, {}, kInkB}},
                     {Act::EndA, "", {0, {}, kNewInk}, {1, {}, kInkB}},
                     {Act::EndB, "", {0, {}, kNewInk}, {0, {}, kInkB}}}}),
    [](const OverlapCase& c) { return c.name; });

}  // namespace
