// What only the NT face has: the printer's key by its exact Unicode name, the
// device ID asked for as the NT family's port drivers answer it, a port monitor's
// table read no further than its cbSize, and Shutdown. Everything the two faces
// share runs through both in the suites that take the face as their parameter.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "emulator/status_app.h"
#include "tests/support/monitor_fixture.h"
#include "tests/support/store_values.h"

namespace {

namespace app = emu::status_app;
using monitor_test::DeviceCalls;
using monitor_test::Face;
using monitor_test::LanFlag;

constexpr char kPort[] = "USB001";
constexpr DWORD kQuiet = 600000;  // the poller does not read during the test

class NtFace : public monitor_test::PrinterTest {
 protected:
  NtFace() : PrinterTest("NtFace.") { face_ = Face::Nt; }
};

// The device-ID requests and what they find, by how the printer is attached.
struct DeviceIdCase {
  const char* name;
  emu::PortKind kind;
  std::vector<DWORD> requests;  // in order
  bool matched;
  std::string deviceId = monitor_test::DeviceIdFor("KP-6600S");
};

void PrintTo(const DeviceIdCase& c, std::ostream* out) {
  *out << c.name;
}

class NtDeviceId : public NtFace, public testing::WithParamInterface<DeviceIdCase> {};

TEST_P(NtDeviceId, ParallelFirstThenUsbAndNoStatusWorkWithoutAnId) {
  const DeviceIdCase& c = GetParam();
  OpenRegistered(kPort, "KP-6600S", 1, 1, kQuiet, {.deviceId = c.deviceId, .kind = c.kind});
  ASSERT_NE(record_, nullptr);

  ASSERT_TRUE(StartDoc(record_, printer_));
  std::vector<DWORD> requests;
  for (const emu::Call& call : DeviceCalls(emu::Slot::GetPrinterDataFromPort, kPort)) {
    requests.push_back(call.number);
    EXPECT_LE(call.outSize, 4094u) << "a buffer some USB printers refuse";
  }
  EXPECT_EQ(requests, c.requests);
  EXPECT_EQ(HasStatusBits(record_, PS_PRINTER_MATCHED), c.matched);
  EXPECT_EQ(emu::Commands(kPort).size(), c.matched ? 1u : 0u);
  EXPECT_TRUE(EndDoc(record_));
}

INSTANTIATE_TEST_SUITE_P(
    Ports, NtDeviceId,
    testing::Values(
        DeviceIdCase{"Parallel", emu::PortKind::Parallel, {IOCTL_PAR_QUERY_DEVICE_ID}, true},
        DeviceIdCase{"UsbLengthBytesSkipped",
                     emu::PortKind::Usb,
                     {IOCTL_PAR_QUERY_DEVICE_ID, IOCTL_USBPRINT_GET_1284_ID},
                     true},
        // The ID ends in its model, no ";" behind it: the two bytes freed by dropping
        // the length are not read as more of the model.
        DeviceIdCase{"UsbIdEndingInTheModel",
                     emu::PortKind::Usb,
                     {IOCTL_PAR_QUERY_DEVICE_ID, IOCTL_USBPRINT_GET_1284_ID},
                     true,
                     "MFG:KOVIR;MDL:KP-6600S"},
        DeviceIdCase{"NetworkHasNone",
                     emu::PortKind::Network,
                     {IOCTL_PAR_QUERY_DEVICE_ID, IOCTL_USBPRINT_GET_1284_ID},
                     false}),
    [](const testing::TestParamInfo<DeviceIdCase>& info) { return info.param.name; });

// A name in Japanese script is its own key. The same name in a Western ANSI code
// page is all question marks: that key, should it exist, is another printer's.
TEST_F(NtFace, UnicodePrinterNameUsesItsOwnKey) {
  const std::string japanese = NamePrinter(" \xE3\x83\x97\xE3\x83\xAA\xE3\x83\xB3\xE3\x82\xBF");
  const std::string questionMarks = NamePrinter(" ????");
  Register(japanese, "KP-6600S", 1, 1, kQuiet);
  Register(questionMarks, "KP-6600S", 1, 1, kQuiet);
  PortRecord* record =
      OpenPort(kPort, japanese, {.deviceId = monitor_test::DeviceIdFor("KP-6600S")});
  ASSERT_NE(record, nullptr);

  ASSERT_TRUE(StartDoc(record, japanese));
  EXPECT_TRUE(HasStatusBits(record, PS_PRINTER_MATCHED)) << "IDMDL read from the exact key";
  EXPECT_EQ(LanFlag(japanese), 1u);
  EXPECT_EQ(LanFlag(questionMarks), std::nullopt);
  EXPECT_TRUE(EndDoc(record));
  EXPECT_EQ(LanFlag(japanese), 0u);
}

// The port monitor's table ends before GetPrinterDataFromPort, or half-way into
// it: the entry is never called, the port prints, and without a device ID nothing
// else happens. A table without StartDocPort fails the document at once.
TEST_F(NtFace, PortMonitorTableIsReadNoFurtherThanItsSizeInWholeEntries) {
  // No table at all, or no place for the port's handle: refused before anything
  // is made or opened.
  emu::WideString port = emu::Wide(kPort);
  HANDLE handle = nullptr;
  for (const bool withTable : {false, true}) {
    SetLastError(0);
    EXPECT_FALSE(monitor_test::SpoolerNt().table->pfnOpenPortEx(
        monitor_test::SpoolerNt().handle, emu::kPortMonitorInstance, port.data(), nullptr,
        withTable ? nullptr : &handle, withTable ? emu::DeviceMonitor2() : nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_TRUE(monitor_test::ListedPorts().empty());
  EXPECT_TRUE(emu::Calls().empty());

  const DWORD intoDeviceData = offsetof(MONITOR2, pfnGetPrinterDataFromPort) + sizeof(void*) / 2;
  for (const DWORD size : {emu::kShortMonitor2Size, intoDeviceData}) {
    SCOPED_TRACE(size);
    emu::Reset();
    emu::SetDeviceMonitor2Size(size);
    OpenRegistered(kPort, "KP-6600S", 1, 1, kQuiet,
                   {.deviceId = monitor_test::DeviceIdFor("KP-6600S")});
    ASSERT_NE(record_, nullptr);

    ASSERT_TRUE(StartDoc(record_, printer_));
    EXPECT_TRUE(Write(record_, "page"));
    EXPECT_TRUE(EndDoc(record_));
    EXPECT_TRUE(emu::CallsTo(emu::Slot::GetPrinterDataFromPort).empty());
    EXPECT_FALSE(HasStatusBits(record_, PS_PRINTER_MATCHED));
    EXPECT_EQ(emu::Received(kPort), "page");
    EXPECT_TRUE(ClosePort(record_));
  }
  emu::RemoveDeviceMonitor2Entry(emu::Slot::StartDocPort);
  record_ = OpenPort(kPort, printer_);
  ASSERT_NE(record_, nullptr);
  EXPECT_FALSE(StartDoc(record_, printer_));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  EXPECT_EQ(LanFlag(printer_), 0u);
}

// Shutdown closes the ports of its own instance, ending a document in progress
// and its poller, and leaves another instance's ports alone. Each instance has
// port names of its own (a clustered spooler opens the names the node's own has
// open); within one, a name is open once.
TEST_F(NtFace, ShutdownClosesItsInstancesPortsAndEndsTheirThreads) {
  const long threadsBefore = diag::CurrentResourceCounts().threads;
  HANDLE instance = nullptr;
  const MONITOR2* table = InitializePrintMonitor2(nullptr, &instance);
  ASSERT_NE(table, nullptr);
  PortRecord* other = OpenPort("LPT9:", NamePrinter(" other"));
  Register(printer_, "KP-6600S", 1, 1, 10);
  const emu::PrinterOptions printing{.deviceId = monitor_test::DeviceIdFor("KP-6600S"),
                                     .statusUpdateEveryMs = 5};
  emu::AttachPrinter("USB001", printing);
  emu::AttachPrinter("USB002");
  emu::SetSharedOpens(true);
  diag::AddSpoolerPrinter(printer_.c_str());
  HANDLE busy = nullptr;
  HANDLE idle = nullptr;
  HANDLE sameName = nullptr;
  ASSERT_TRUE(Spool().OpenPort("USB001", &printer_, &busy, instance));
  ASSERT_TRUE(Spool().OpenPort("USB002", &printer_, &idle, instance));
  ASSERT_TRUE(Spool().OpenPort("lpt9:", &printer_, &sameName, instance));
  EXPECT_FALSE(Spool().OpenPort("usb002", &printer_, &idle, instance));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  ASSERT_TRUE(Spool().StartDoc(busy, &printer_, 1));
  ASSERT_TRUE(HasStatusBits(static_cast<PortRecord*>(busy), PS_POLLER_RUN));

  table->pfnShutdown(instance);

  EXPECT_EQ(monitor_test::ListedPorts(), std::vector<PortRecord*>{other});
  EXPECT_TRUE(emu::PortOpen("LPT9:"));
  EXPECT_FALSE(emu::PortOpen("USB001"));
  EXPECT_FALSE(emu::PortOpen("USB002"));
  EXPECT_FALSE(emu::DocumentOpen("USB001"));
  EXPECT_EQ(LanFlag(printer_), 0u);
  if (threadsBefore != diag::kUnknown) {
    EXPECT_LE(monitor_test::SettledThreadCount(threadsBefore), threadsBefore);
  }
  diag::RemoveSpoolerPrinter(printer_.c_str());
}

// Shutdown takes all of its instance's ports at once: a document waiting for the
// application's thread on one port ends at once, while another port's write still
// blocks on its off-line printer. A ClosePort of a port that Shutdown took returns
// only once that port is closed. And Shutdown waits for no other instance: not
// even for a ClosePort of another instance's port stuck on its off-line printer.
TEST_F(NtFace, ShutdownEndsEveryCallOfItsInstanceAtOnceAndWaitsForNoOtherInstance) {
  HANDLE instance = nullptr;
  const MONITOR2* table = InitializePrintMonitor2(nullptr, &instance);
  ASSERT_NE(table, nullptr);
  const std::string waiting = NamePrinter(" waiting");
  Register(waiting, "KP-6600S");
  app::SetDword(waiting, VALUE_STATUS_THREAD, 1);
  PortRecord* other = OpenWithDocument("LPT9:", NamePrinter(" other"));
  ASSERT_NE(other, nullptr);
  emu::AttachPrinter("USB001");
  emu::AttachPrinter("USB002");
  HANDLE writing = nullptr;
  HANDLE starting = nullptr;
  ASSERT_TRUE(Spool().OpenPort("USB001", &printer_, &writing, instance));
  ASSERT_TRUE(Spool().OpenPort("USB002", &waiting, &starting, instance));
  ASSERT_TRUE(Spool().StartDoc(writing, &printer_, 1));
  emu::SetOffline("USB001", 60000);
  emu::SetOffline("LPT9:", 60000);
  monitor_test::BackgroundCall blockedWrite([&] { Write(static_cast<PortRecord*>(writing), "a"); });
  monitor_test::BackgroundCall otherWrite([&] { Write(other, "b"); });
  ASSERT_TRUE(monitor_test::WaitUntil(
      [] { return emu::BlockedCalls("USB001") == 1 && emu::BlockedCalls("LPT9:") == 1; }));
  monitor_test::BackgroundCall otherClose([&] { ClosePort(other); });
  BOOL started = TRUE;
  DWORD startError = 0;
  monitor_test::BackgroundCall start([&] {
    started = Spool().StartDoc(starting, &waiting, 2);
    startError = GetLastError();
  });
  EXPECT_FALSE(start.FinishedWithin(200)) << "the document did not wait for the application";

  monitor_test::BackgroundCall shutdown([&] { table->pfnShutdown(instance); });
  EXPECT_TRUE(start.FinishedWithin(10000)) << "the second port kept waiting";
  EXPECT_EQ(started, FALSE);
  EXPECT_EQ(startError, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  ASSERT_TRUE(monitor_test::WaitUntil([] { return monitor_test::ListedPorts().empty(); }));
  bool closedWhenCloseReturned = false;
  monitor_test::BackgroundCall lateClose([&] {
    ClosePort(static_cast<PortRecord*>(writing));
    closedWhenCloseReturned = !emu::PortOpen("USB001");
  });
  EXPECT_FALSE(lateClose.FinishedWithin(200)) << "a ClosePort returned before the port closed";
  EXPECT_FALSE(shutdown.FinishedWithin(0));

  emu::SetOffline("USB001", 0);
  EXPECT_TRUE(shutdown.FinishedWithin(10000)) << "Shutdown waited for another instance's port";
  EXPECT_TRUE(lateClose.FinishedWithin(10000));
  EXPECT_TRUE(closedWhenCloseReturned);
  EXPECT_FALSE(otherClose.FinishedWithin(0)) << "the other instance's close was not blocked";
  emu::SetOffline("LPT9:", 0);
  EXPECT_TRUE(otherClose.FinishedWithin(10000));
}

// Shutdown while a call on one of its ports is still at work: it ends the call's
// waits as ClosePort does (StartDocPort held by the application's thread), and
// it waits for a ClosePort of one of its ports still at work (on a write blocked
// in an off-line device), since the spooler may unload the DLL as soon as
// Shutdown returns.
TEST_F(NtFace, ShutdownEndsTheCallsOnItsPortsAndWaitsForTheirClosesInProgress) {
  Register(printer_, "KP-6600S", 1, 1, kQuiet);  // not the attached printer's model
  for (const bool closing : {false, true}) {
    SCOPED_TRACE(closing ? "ClosePort waiting for a write" : "StartDocPort held by the flag");
    HANDLE instance = nullptr;
    const MONITOR2* table = InitializePrintMonitor2(nullptr, &instance);
    ASSERT_NE(table, nullptr);
    app::SetDword(printer_, VALUE_STATUS_THREAD, closing ? 0 : 1);
    emu::AttachPrinter(kPort);
    HANDLE port = nullptr;
    ASSERT_TRUE(Spool().OpenPort(kPort, &printer_, &port, instance));
    auto* record = static_cast<PortRecord*>(port);
    if (closing) {
      ASSERT_TRUE(StartDoc(record, printer_));
      emu::SetOffline(kPort, 2000);
    }
    monitor_test::BackgroundCall call([this, record, closing] {
      if (closing) Write(record, "late");
      if (!closing) StartDoc(record, printer_);
    });
    ASSERT_TRUE(monitor_test::WaitUntil([&] {
      return record->callsInProgress.load() == 1 && (!closing || emu::BlockedCalls(kPort) == 1);
    }));
    monitor_test::BackgroundCall close([this, record, closing] {
      if (closing) Spool().Close(record);
    });
    ASSERT_TRUE(
        monitor_test::WaitUntil([&] { return !closing || monitor_test::ListedPorts().empty(); }));

    EXPECT_TRUE(
        monitor_test::FinishesWithin(10000, [table, instance] { table->pfnShutdown(instance); }));
    EXPECT_FALSE(emu::PortOpen(kPort)) << "Shutdown returned before the port was closed";
    EXPECT_TRUE(call.FinishedWithin(1000));
  }
}

}  // namespace
