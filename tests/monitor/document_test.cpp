// StartDocPort and EndDocPort as the spooler and the status monitor application
// see them: the device document, the busy port, the wait on the application's
// real-time thread, LanMonExistFlag, the device monitor's second chance, a renamed
// printer, and the teardown at the end of a document.
//
// The application stand-in registers a model the emulated printer does not report,
// so no printer in these tests is the registered one and nothing but the job's own
// bytes reaches it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/status_app.h"
#include "status_store/status_key.h"
#include "tests/support/monitor_fixture.h"
#include "tests/support/printer_text.h"
#include "tests/support/store_values.h"

namespace {

namespace app = emu::status_app;
using app::KeyPath;
using monitor_test::DeviceCalls;
using monitor_test::LanFlag;
// No poller runs in these tests, so the test thread may read a port's key path.
using monitor_test::SelectedPath;
using monitor_test::Spooler;
using monitor_test::StandInPoller;
using monitor_test::StartStandInPoller;

constexpr char kUnmatchedModel[] = "KP-NOT-THIS-ONE";

DWORD LanFlagType(const std::string& printer) {
  return app::Describe(printer, VALUE_LAN_MONITOR).value_or(app::ValueInfo{REG_NONE, 0}).type;
}

// `record_` is port DOC1: for `printer_`, whose status application has its thread
// idle.
class Document : public monitor_test::PrinterTest {
 protected:
  Document() : PrinterTest("DocTest.") {}
  void SetUp() override {
    PrinterTest::SetUp();
    OpenRegistered("DOC1:", kUnmatchedModel, 1, 1, 3000, {});
    ASSERT_NE(record_, nullptr);
  }
};

using StartDocPort_ = monitor_test::BothFaces<Document>;
using EndDocPort_ = monitor_test::BothFaces<Document>;
KOVIRLM_BOTH_FACES(StartDocPort_);
KOVIRLM_BOTH_FACES(EndDocPort_);

TEST_P(StartDocPort_, OpensTheDeviceDocumentAndFlagsTheJobUntilEndDocPort) {
  ASSERT_TRUE(StartDoc(record_, printer_, 42));
  EXPECT_TRUE(HasStatusBits(record_, PS_JOB_ACTIVE | PS_DEVICE_DOC_OPEN));
  EXPECT_TRUE(emu::DocumentOpen("DOC1:"));
  auto starts = DeviceCalls(emu::Slot::StartDocPort, "DOC1:");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].text, printer_);
  EXPECT_EQ(starts[0].number, 42u);
  EXPECT_EQ(starts[0].level, 1u);
  EXPECT_EQ(SelectedPath(record_->statusKey), KeyPath(printer_));
  EXPECT_EQ(LanFlag(printer_), 1u);
  EXPECT_EQ(LanFlagType(printer_), static_cast<DWORD>(REG_DWORD));

  EXPECT_TRUE(Write(record_, "page one"));
  EXPECT_EQ(emu::Received("DOC1:"), "page one");
  EXPECT_EQ(LanFlag(printer_), 1u) << "lowered while the document runs";

  EXPECT_TRUE(EndDoc(record_));
  EXPECT_EQ(LanFlag(printer_), 0u);
  EXPECT_EQ(SelectedPath(record_->statusKey), "<none>");
  EXPECT_FALSE(HasStatusBits(record_, PS_JOB_ACTIVE));
  EXPECT_FALSE(HasStatusBits(record_, PS_DEVICE_DOC_OPEN));
  EXPECT_FALSE(emu::DocumentOpen("DOC1:"));
  EXPECT_EQ(DeviceCalls(emu::Slot::EndDocPort, "DOC1:").size(), 1u);
}

// The refused call names another printer than the running document: a refused
// call that selected a key would show.
TEST_P(StartDocPort_, SecondDocumentOnBusyPortFailsWithErrorBusyAndChangesNothing) {
  const std::string other = printer_ + ".Other", renamed = printer_ + ".Renamed";
  Register(other, kUnmatchedModel);
  Register(renamed, kUnmatchedModel);
  PortRecord* busy = record_;
  PortRecord* second = OpenPort("DOC2:", other);
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(StartDoc(busy, printer_));
  ASSERT_TRUE(Write(busy, "first half "));
  ASSERT_TRUE(StartDoc(second, other));

  SetLastError(0);
  EXPECT_FALSE(StartDoc(busy, renamed, 8));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(SelectedPath(busy->statusKey), KeyPath(printer_)) << "the refused call selected a key";
  EXPECT_EQ(SelectedPath(second->statusKey), KeyPath(other));
  EXPECT_FALSE(LanFlag(renamed).has_value());

  // The document in progress goes on undisturbed.
  EXPECT_EQ(DeviceCalls(emu::Slot::StartDocPort, "DOC1:").size(), 1u);
  EXPECT_TRUE(HasStatusBits(busy, PS_JOB_ACTIVE | PS_DEVICE_DOC_OPEN));
  EXPECT_TRUE(Write(busy, "second half"));
  EXPECT_EQ(emu::Received("DOC1:"), "first half second half");
  EXPECT_EQ(LanFlag(printer_), 1u);

  EXPECT_TRUE(EndDoc(busy));
  EXPECT_TRUE(EndDoc(second));
}

// The stand-in clears StRealThreadExistFlag one way or the other after a while,
// closes leaving it set (an application gone has no thread talking to the
// printer), or dies with both flags saying it is there, and the clock moves on
// past the wait's two minutes; StartDocPort must not touch the device or
// LanMonExistFlag before that, even with the tick counter wrapping meanwhile.
TEST_P(StartDocPort_, WaitsWhileTheStatusThreadFlagIsSet) {
  const struct {
    const char* how;
    bool deleteValue;
    bool closeApp;
    bool hang = false;
    bool wraps = false;  // the wait starts 100 ms before the tick counter wraps
  } cases[] = {{"flag set to 0", false, false},
               {"flag deleted", true, false},
               {"application closed, flag left set", false, true},
               {"application died present, flag left set", false, false, true},
               {"flag set to 0 after the tick counter wrapped", false, false, false, true}};

  const bool clockMoves = diag::SetTickCountStart(GetTickCount());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    if ((c.hang || c.wraps) && !clockMoves) continue;  // the real clock cannot be moved on
    if (c.wraps) diag::SetTickCountStart(0xFFFFFFFFu - 100);
    app::DeleteValue(printer_, VALUE_LAN_MONITOR);
    app::SetDword(printer_, VALUE_STATUS_MONITOR, 1);
    app::SetDword(printer_, VALUE_STATUS_THREAD, 1);
    emu::ClearCalls();
    std::atomic<bool> released{false}, returned{false}, stuck{false};
    std::optional<app::ValueInfo> lanBeforeRelease;
    std::size_t deviceCallsBeforeRelease = 99;
    std::thread standIn([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (c.hang) {
        // Just short of the limit the wait goes on; past it, it ends.
        diag::SetTickCountStart(GetTickCount() + 119000);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
      }
      lanBeforeRelease = app::Describe(printer_, VALUE_LAN_MONITOR);
      deviceCallsBeforeRelease = emu::CallsTo(emu::Slot::StartDocPort).size();
      if (c.hang) diag::SetTickCountStart(GetTickCount() + 1500);
      released = true;
      if (c.closeApp || c.hang) {
        if (c.closeApp) app::Close(printer_, true);
        // Released by the close or the clock alone; if not, freed after 10 s to
        // fail, not hang.
        stuck = !monitor_test::WaitUntil([&] { return returned.load(); }, 10000);
        if (stuck) app::SetRealThreadExists(printer_, false);
      } else if (c.deleteValue) {
        app::DeleteValue(printer_, VALUE_STATUS_THREAD);
      } else {
        app::SetDword(printer_, VALUE_STATUS_THREAD, 0);
      }
    });
    const long long opensBefore = diag::RegistryKeyOpens();
    const auto waitStart = std::chrono::steady_clock::now();
    const BOOL started = StartDoc(record_, printer_);
    returned = true;
    const bool wasReleased = released;
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - waitStart);
    const long long opens = diag::RegistryKeyOpens() - opensBefore;
    standIn.join();

    EXPECT_TRUE(started);
    EXPECT_TRUE(wasReleased) << "StartDocPort returned while the flag was still set";
    EXPECT_FALSE(stuck) << "the application left, yet the wait went on";
    EXPECT_FALSE(lanBeforeRelease.has_value()) << "LanMonExistFlag raised during the wait";
    EXPECT_EQ(deviceCallsBeforeRelease, 0u) << "device document opened during the wait";
    EXPECT_EQ(LanFlag(printer_), 1u);
    // A deleted flag is written back as clear.
    EXPECT_EQ(app::ReadDword(printer_, VALUE_STATUS_THREAD), c.closeApp || c.hang ? 1u : 0u);
    // The pauses between two reads of the flag are 10 ms or longer, however long
    // the wait, so the waiting thread does not spin a core (the slack covers the
    // document's other key opens and the stand-in's own).
    if (opensBefore != diag::kUnknown) {
      EXPECT_LE(opens, waited.count() / 10 + 30) << "over " << waited.count() << " ms";
    }
    EXPECT_TRUE(EndDoc(record_));
  }
}

TEST_P(StartDocPort_, DeviceRefusingOnceIsAskedAgainAfterAPause) {
  emu::InjectFault(emu::Slot::StartDocPort, emu::Fault::Refuse, 1);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(StartDoc(record_, printer_, 11));
  const auto took = std::chrono::steady_clock::now() - start;

  EXPECT_GE(took, std::chrono::milliseconds(450));
  EXPECT_LT(took, std::chrono::seconds(10));
  auto starts = DeviceCalls(emu::Slot::StartDocPort, "DOC1:");
  ASSERT_EQ(starts.size(), 2u);
  for (const emu::Call& call : starts) {
    EXPECT_EQ(call.text, printer_);
    EXPECT_EQ(call.number, 11u);
    EXPECT_EQ(call.level, 1u);
  }
  EXPECT_FALSE(starts[0].result);
  EXPECT_TRUE(starts[1].result);
  EXPECT_TRUE(HasStatusBits(record_, PS_JOB_ACTIVE | PS_DEVICE_DOC_OPEN));
  EXPECT_EQ(LanFlag(printer_), 1u);
  EXPECT_TRUE(Write(record_, "job"));
  EXPECT_EQ(emu::Received("DOC1:"), "job");
  EXPECT_TRUE(EndDoc(record_));
}

// Refused twice: the spooler sees the device monitor's error, the port is free for
// another try, and the application is not left believing a job uses the port: the
// flag comes down in the key it was raised in, that of the printer the document
// names, the port's own or another's, and nowhere else.
TEST_P(StartDocPort_, DeviceRefusingTwiceFailsFreesThePortAndLowersLanMonitorFlag) {
  const std::string other = printer_ + ".Other";
  Register(other, kUnmatchedModel);
  for (const std::string& named : {other, printer_}) {
    SCOPED_TRACE(named);
    emu::ClearCalls();
    emu::InjectFault(emu::Slot::StartDocPort, emu::Fault::Refuse, 2);

    const auto start = std::chrono::steady_clock::now();
    SetLastError(0);
    EXPECT_FALSE(StartDoc(record_, named));
    const DWORD error = GetLastError();
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "not the device monitor's error";
    EXPECT_GE(took, std::chrono::milliseconds(450));
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_EQ(DeviceCalls(emu::Slot::StartDocPort, "DOC1:").size(), 2u);
    EXPECT_FALSE(HasStatusBits(record_, PS_JOB_ACTIVE));
    EXPECT_FALSE(HasStatusBits(record_, PS_DEVICE_DOC_OPEN));
    EXPECT_EQ(LanFlag(named), 0u);
    EXPECT_EQ(LanFlagType(named), static_cast<DWORD>(REG_DWORD));
    if (named == other) {
      EXPECT_FALSE(LanFlag(printer_).has_value()) << "the port's key written";
    }
    EXPECT_EQ(SelectedPath(record_->statusKey), KeyPath(named)) << "the key stays selected";
    EXPECT_FALSE(Write(record_, "nowhere to go"));
  }

  // The spooler tries again, and this time the device takes the document.
  EXPECT_TRUE(StartDoc(record_, printer_));
  EXPECT_EQ(LanFlag(printer_), 1u);
  EXPECT_TRUE(EndDoc(record_));
}

// The printer was renamed between OpenPortEx and this document: the document
// already uses the new name's key, and the record takes the new name, its spooler
// handle reopened under it and the old name's closed (counted natively only).
TEST_P(StartDocPort_, ChangedPrinterNameIsUsedForTheKeyOfThatVeryDocument) {
  const std::string renamed = printer_ + ".Renamed";
  Register(renamed, kUnmatchedModel);
  const bool spoolerKnowsNewName = diag::AddSpoolerPrinter(renamed.c_str());
  const long handlesOpen = diag::OpenPrinterHandles();

  ASSERT_TRUE(StartDoc(record_, renamed));
  EXPECT_EQ(monitor_test::Text(record_->printerName), renamed);
  EXPECT_EQ(DeviceCalls(emu::Slot::StartDocPort, "DOC1:").at(0).text, renamed);
  EXPECT_EQ(SelectedPath(record_->statusKey), KeyPath(renamed));
  EXPECT_EQ(LanFlag(renamed), 1u);
  EXPECT_FALSE(LanFlag(printer_).has_value());
  if (spoolerKnowsNewName) {
    // The NT face opens no printer handle at all (no call back into the spooler).
    EXPECT_EQ(record_->printerHandle != nullptr, face_ == monitor_test::Face::Win95)
        << "printer handle not reopened under the new name";
    EXPECT_EQ(diag::OpenPrinterHandles(), handlesOpen) << "the old name's handle leaked";
  }
  EXPECT_TRUE(EndDoc(record_));
  EXPECT_EQ(LanFlag(renamed), 0u);
  EXPECT_FALSE(LanFlag(printer_).has_value());
  if (spoolerKnowsNewName) diag::RemoveSpoolerPrinter(renamed.c_str());
}

// The key is the application's: a printer without one gets none from us.
TEST_P(StartDocPort_, NeverCreatesTheStatusKey) {
  const std::string keyless = NamePrinter(" keyless");
  ASSERT_TRUE(StartDoc(record_, keyless));
  EXPECT_TRUE(EndDoc(record_));
  EXPECT_FALSE(app::KeyExists(keyless));
}

// A document without a printer name uses the port's printer and key, and so does
// the next one: the port does not forget its printer.
TEST_P(StartDocPort_, DocumentsWithoutANameKeepThePortsPrinter) {
  for (DWORD job : {1u, 2u}) {
    ASSERT_TRUE(Spool().StartDoc(record_, nullptr, job));
    EXPECT_EQ(monitor_test::Text(record_->printerName), printer_);
    EXPECT_EQ(LanFlag(printer_), 1u) << "job " << job;
    EXPECT_TRUE(EndDoc(record_));
  }
}

// ClosePort may come while another call on the port is still at work (a printer
// deleted, the spooler stopping): StartDocPort waiting for the application's
// thread or inside the job-start exchange (whose printer never answers), or a
// write waiting out an off-line device's block. The close ends the call's waits,
// so both return soon after; the device document ends only once the call has
// returned, nothing of the port is used once it is freed (the sanitizer lanes
// watch), and LanMonExistFlag is not left at 1.
TEST_P(StartDocPort_, AClosePortDuringACallEndsItAndLeavesNoFlagUp) {
  const char* const cases[] = {"thread flag", "job-start exchange", "off-line write"};
  for (int c = 0; c < 3; ++c) {
    SCOPED_TRACE(cases[c]);
    Register(printer_, c == 1 ? "KP-210S" : kUnmatchedModel);
    app::SetDword(printer_, VALUE_STATUS_THREAD, c == 0 ? 1 : 0);
    emu::SetPrinterOptions("DOC1:", {.answersCommands = false});
    if (c == 2) {
      ASSERT_TRUE(StartDoc(record_, printer_));
      emu::SetOffline("DOC1:", 1500);
    }
    std::atomic<bool> returned{false};
    monitor_test::BackgroundCall call([&] {
      if (c == 2) Write(record_, "late");
      if (c != 2) StartDoc(record_, printer_);
      returned = true;
    });
    const std::function<bool()> blocked[] = {[] { return true; },
                                             [] { return emu::Commands("DOC1:").size() == 1; },
                                             [] { return emu::BlockedCalls("DOC1:") == 1; }};
    ASSERT_TRUE(monitor_test::WaitUntil(blocked[c], 10000));
    Sleep(200);
    EXPECT_FALSE(returned) << "the call was not blocked";

    emu::ClearCalls();
    const auto close = [spool = Spool(), record = record_] { EXPECT_TRUE(spool.Close(record)); };
    EXPECT_TRUE(monitor_test::FinishesWithin(10000, close))
        << "the close waited for the call instead of ending it";
    EXPECT_TRUE(call.FinishedWithin(1000));
    if (c == 2) {
      // Calls are logged as they return.
      std::vector<std::string> order;
      for (const emu::Call& done : emu::Calls()) order.push_back(emu::SlotName(done.slot));
      EXPECT_EQ(order, (std::vector<std::string>{"WritePort", "EndDocPort", "ClosePort"}));
    }
    EXPECT_NE(LanFlag(printer_), std::optional<DWORD>(1));
    EXPECT_FALSE(emu::PortOpen("DOC1:"));
    record_ = OpenPort("DOC1:", printer_);
    ASSERT_NE(record_, nullptr);
  }
}

// The printer handle lives from StartDocPort to EndDocPort (the stand-in spooler
// knows the printer only natively; Wine's spooler has no such printer).
// The NT face opens none: each open and close would call back into the spooler.
TEST_P(EndDocPort_, ClosesThePrinterHandleThatTheNextDocumentReopens) {
  const bool opens = face_ == monitor_test::Face::Win95;
  if (opens && record_->printerHandle == nullptr) {
    GTEST_SKIP() << "no spooler printer of this name here";
  }
  const long handlesOpen = diag::OpenPrinterHandles();

  ASSERT_TRUE(StartDoc(record_, printer_));
  EXPECT_EQ(record_->printerHandle != nullptr, opens);
  EXPECT_EQ(diag::OpenPrinterHandles(), handlesOpen) << "the open handle is kept, not doubled";
  EXPECT_TRUE(EndDoc(record_));
  EXPECT_EQ(record_->printerHandle, nullptr);
  EXPECT_EQ(diag::OpenPrinterHandles(), handlesOpen - (opens ? 1 : 0));

  ASSERT_TRUE(StartDoc(record_, printer_));
  EXPECT_EQ(record_->printerHandle != nullptr, opens);
  EXPECT_EQ(diag::OpenPrinterHandles(), handlesOpen);
  EXPECT_TRUE(EndDoc(record_));
}

// The device monitor is told the document ended only once the poller is gone.
TEST_P(EndDocPort_, StopsThePollerBeforeEndingTheDeviceDocument) {
  ASSERT_TRUE(StartDoc(record_, printer_));
  StandInPoller poller;
  poller.lingerMs = 200;
  std::atomic<std::size_t> deviceEndsWhenPollerEnded{99};
  poller.onExit = [&](PortRecord*) {
    deviceEndsWhenPollerEnded = emu::CallsTo(emu::Slot::EndDocPort).size();
  };
  ASSERT_TRUE(StartStandInPoller(record_, poller));

  EXPECT_TRUE(EndDoc(record_));
  EXPECT_TRUE(poller.ended);
  EXPECT_EQ(deviceEndsWhenPollerEnded.load(), 0u);
  EXPECT_EQ(record_->pollerThread, nullptr);
  EXPECT_FALSE(HasStatusBits(record_, PS_POLLER_RUN));
  EXPECT_EQ(emu::CallsTo(emu::Slot::EndDocPort).size(), 1u);
  EXPECT_EQ(LanFlag(printer_), 0u);
}

// The device monitor's pfnEndDocPort writes through our WritePort before it ends
// its document, as a device monitor flushing through the port may: the document
// is already closed to pass-through, so nothing reaches the device.
PortRecord* endingRecord = nullptr;
std::optional<BOOL> writeDuringDeviceEnd;

BOOL WINAPI EndDocWritingBack(HANDLE port) {
  char late[] = "late";
  DWORD written = 0;
  writeDuringDeviceEnd = WritePort(endingRecord, reinterpret_cast<LPBYTE>(late), 4, &written);
  return emu::DeviceMonitor()->pfnEndDocPort(port);
}

TEST_P(EndDocPort_, DeviceMonitorEndingTheDocumentFindsWritePortAlreadyRefused) {
  ASSERT_TRUE(StartDoc(record_, printer_));
  endingRecord = record_;
  writeDuringDeviceEnd.reset();
  record_->deviceMonitor.pfnEndDocPort = EndDocWritingBack;
  record_->deviceMonitor2.pfnEndDocPort = EndDocWritingBack;

  EXPECT_TRUE(EndDoc(record_));
  EXPECT_EQ(writeDuringDeviceEnd, std::optional<BOOL>(FALSE));
  EXPECT_EQ(emu::Received("DOC1:"), "");
  EXPECT_FALSE(emu::DocumentOpen("DOC1:"));
}

// No document of ours on the port, but the port's last StartDocPort, refused by
// the device monitor, left its key selected; meanwhile another port's document on
// the same printer raised the flag, which is that document's to lower.
TEST_P(EndDocPort_, WithoutADocumentStillEndsTheDeviceDocumentAndLeavesTheFlag) {
  emu::InjectFault(emu::Slot::StartDocPort, emu::Fault::Refuse, 2);
  ASSERT_FALSE(StartDoc(record_, printer_));
  app::SetDword(printer_, VALUE_LAN_MONITOR, 1);

  EXPECT_TRUE(EndDoc(record_));
  EXPECT_EQ(DeviceCalls(emu::Slot::EndDocPort, "DOC1:").size(), 1u);
  EXPECT_EQ(LanFlag(printer_), 1u);
  EXPECT_EQ(SelectedPath(record_->statusKey), "<none>");
  EXPECT_EQ(record_->status.load(), 0u);
}

TEST_P(EndDocPort_, WithoutADocumentOrKeyWritesNothing) {
  app::SetDword(printer_, VALUE_LAN_MONITOR, 1);
  const long long opensBefore = diag::RegistryKeyOpens();

  EXPECT_TRUE(EndDoc(record_));
  if (opensBefore != diag::kUnknown) {
    EXPECT_EQ(diag::RegistryKeyOpens(), opensBefore) << "a key was opened";
  }
  EXPECT_EQ(DeviceCalls(emu::Slot::EndDocPort, "DOC1:").size(), 1u);
  EXPECT_EQ(LanFlag(printer_), 1u);
}

}  // namespace
