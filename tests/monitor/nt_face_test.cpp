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
};

void PrintTo(const DeviceIdCase& c, std::ostream* out) {
  *out << c.name;
}

class NtDeviceId : public NtFace, public testing::WithParamInterface<DeviceIdCase> {};

TEST_P(NtDeviceId, ParallelFirstThenUsbAndNoStatusWorkWithoutAnId) {
  const DeviceIdCase& c = GetParam();
  OpenRegistered(kPort, "KP-6600S", 1, 1, kQuiet,
                 {.deviceId = monitor_test::DeviceIdFor("KP-6600S"), .kind = c.kind});
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

// The port monitor's table ends before GetPrinterDataFromPort: the entry behind
// cbSize is never called, the port prints, and without a device ID nothing else
// happens.
TEST_F(NtFace, PortMonitorTableIsReadNoFurtherThanItsSize) {
  emu::SetDeviceMonitor2Short(true);
  OpenRegistered(kPort, "KP-6600S", 1, 1, kQuiet,
                 {.deviceId = monitor_test::DeviceIdFor("KP-6600S")});
  ASSERT_NE(record_, nullptr);

  ASSERT_TRUE(StartDoc(record_, printer_));
  EXPECT_TRUE(Write(record_, "page"));
  EXPECT_TRUE(EndDoc(record_));
  EXPECT_TRUE(emu::CallsTo(emu::Slot::GetPrinterDataFromPort).empty());
  EXPECT_FALSE(HasStatusBits(record_, PS_PRINTER_MATCHED));
  EXPECT_EQ(emu::Received(kPort), "page");
}

// Shutdown closes the ports of its own instance, ending a document in progress
// and its poller, and leaves another instance's ports alone.
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
  diag::AddSpoolerPrinter(printer_.c_str());
  HANDLE busy = nullptr;
  HANDLE idle = nullptr;
  ASSERT_TRUE(Spool().OpenPort("USB001", &printer_, &busy, instance));
  ASSERT_TRUE(Spool().OpenPort("USB002", &printer_, &idle, instance));
  ASSERT_TRUE(Spool().StartDoc(busy, &printer_, 1));
  ASSERT_TRUE(HasStatusBits(static_cast<PortRecord*>(busy), PS_POLLER_RUN));

  table->pfnShutdown(instance);

  EXPECT_EQ(monitor_test::ListedPorts(), std::vector<PortRecord*>{other});
  EXPECT_FALSE(emu::PortOpen("USB001"));
  EXPECT_FALSE(emu::PortOpen("USB002"));
  EXPECT_FALSE(emu::DocumentOpen("USB001"));
  EXPECT_EQ(LanFlag(printer_), 0u);
  if (threadsBefore != diag::kUnknown) {
    EXPECT_LE(monitor_test::SettledThreadCount(threadsBefore), threadsBefore);
  }
  diag::RemoveSpoolerPrinter(printer_.c_str());
}

}  // namespace
