// IdentifyPrinter over the emulated device monitor and printer, with the status
// application stand-in registering a model in the real registry: which device IDs
// and registrations identify the printer, and how the device ID is asked for.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "emulator/device_monitor.h"
#include "emulator/status_app.h"
#include "port/port_record.h"
#include "printer_status/device_id.h"
#include "status_store/status_key.h"
#include "tests/support/monitor_fixture.h"

namespace {

constexpr char kDeviceId[] = "MFG:KOVIR;CMD:X;MDL:KP-210S;";

class IdentifyPrinterTestFixture : public monitor_test::MonitorTest {
 protected:
  // A port in the state IdentifyPrinter meets at document start: the device
  // document open and the status key of a printer named after the test and
  // `suffix` selected in the record. The application registers `model` for that
  // printer, or no IDMDL at all. Null, with a test failure, when the port failed.
  PortRecord* OpenIdentifying(const std::string& port, const std::string& deviceId,
                              const std::optional<std::string>& model = "KP-210S",
                              const std::string& suffix = "") {
    const std::string printer =
        "Identify " + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) +
        suffix;
    Register(printer, model.value_or(""));
    if (!model) emu::status_app::DeleteValue(printer, VALUE_REGISTERED_MODEL);
    emu::PrinterOptions options;
    options.deviceId = deviceId;
    return OpenAtJobStart(port, printer, options);
  }
};
using IdentifyPrinterTest = monitor_test::BothFaces<IdentifyPrinterTestFixture>;
KOVIRLM_BOTH_FACES(IdentifyPrinterTest);

struct IdentifyCase {
  std::string deviceId;
  std::optional<std::string> registered;  // IDMDL, or none
  bool identified;
  const char* why;
};

TEST_P(IdentifyPrinterTest, MatchesMakerAndRegisteredModel) {
  const std::string longModel(300, 'L');
  const DWORD buffer = Spool().DeviceIdBufferSize();
  const IdentifyCase cases[] = {
      {"MFG:KOVIR;CMD:X;MDL:KP-210S;", "KP-210S", true, "maker and model match"},
      {"MFG:KOVIR;CMD:X;MDL:KP-210S;", "kp-210s", false, "the model comparison is exact"},
      {"MFG:KOVIR;CMD:X;MDL:KP-210S;", "KP-210S ", false, "no trailing blank ignored"},
      {"MFG:KOVIR;CMD:X;MDL:KP-6600S;", "KP-6600", false, "the model is not a prefix test"},
      {"MFG:Kovir Corp;MDL:KP-210S;", "KP-210S", false, "the maker test is case-sensitive"},
      {"MFG:THE KOVIR CO;MDL:KP-210S;", "KP-210S", true, "the maker's name anywhere in MFG"},
      {"MFG:KOVI;MDL:KP-210S;", "KP-210S", false, "part of the maker's name"},
      {"MANUFACTURER:KOVIR;MODEL:KP-210S;", "KP-210S", false, "only the keys MFG and MDL count"},
      {"FOO;MFG:KOVIR;MDL:KP-210S;", "KP-210S", false, "FOO;MFG is not the key MFG"},
      {"MFG:KOVIR;MDL:KP-210S", "KP-210S", true, "MDL as the last field without ';'"},
      {"CMD:X;MDL:KP-210S;", "KP-210S", false, "no MFG field"},
      {"MFG:;MDL:KP-210S;", "KP-210S", false, "an empty MFG value"},
      {"MFG:KOVIR;CMD:X;MDL:KP-210S;", std::nullopt, false, "no IDMDL registered"},
      {"MFG:KOVIR;CMD:X;", "", false, "no MDL never matches, not even an empty IDMDL"},
      {"MFG:KOVIR;MDL:;", "", false, "an empty MDL names no model"},
      {"MFG:KOVIR;MDL:" + longModel + ";", longModel, false,
       "a model too long to keep whole never matches it"},
      // A reply that fills the whole device-ID buffer is parsed within it.
      {"MFG:KOVIR;MDL:KP-210S;CLS:" + std::string(buffer - 26, 'P'), "KP-210S", true,
       "exactly the buffer, no terminator"},
      {"MFG:KOVIR;MDL:KP-210S;CLS:" + std::string(2 * buffer, 'P'), "KP-210S", true,
       "longer than the buffer"},
      {"CLS:" + std::string(buffer - 4, 'P') + ";MFG:KOVIR;MDL:KP-210S;", "KP-210S", false,
       "the fields behind the buffer are not seen"},
      {"MDL:KP-210S;MFG:" + std::string(buffer - 21, 'x') + "KOVIR", "KP-210S", true,
       "the maker's name in the very last bytes: the whole buffer is kept"},
  };
  int n = 0;
  for (const IdentifyCase& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string number = std::to_string(n++);
    PortRecord* record =
        OpenIdentifying("IDP" + number + ":", c.deviceId, c.registered, " " + number);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(IdentifyPrinter(record), c.identified ? TRUE : FALSE);
    if (c.deviceId.size() >= buffer) {
      EXPECT_EQ(emu::CallsTo(emu::Slot::GetPrinterDataFromPort).back().bytes, buffer);
    }
  }
}

TEST_P(IdentifyPrinterTest, AsksTheDeviceMonitorsOwnSlotForTheDeviceId) {
  PortRecord* record = OpenIdentifying("IDPASK:", kDeviceId);
  ASSERT_NE(record, nullptr);
  // Our own GetPrinterDataFromPort answers only while the record says a device
  // document is open; the device monitor's slot does not care.
  ClearStatusBits(record, PS_DEVICE_DOC_OPEN);
  emu::ClearCalls();

  EXPECT_EQ(IdentifyPrinter(record), TRUE);

  const std::vector<emu::Call> calls = emu::CallsTo(emu::Slot::GetPrinterDataFromPort);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].handle, record->devicePort);
  EXPECT_EQ(calls[0].number, Spool().DeviceIdControl());
  EXPECT_EQ(calls[0].text, "");  // no value name
  EXPECT_FALSE(calls[0].inBuffer);
  EXPECT_EQ(calls[0].inSize, 0u);
  EXPECT_EQ(calls[0].outSize, Spool().DeviceIdBufferSize());
  EXPECT_STREQ(record->modelName, "KP-210S");
}

TEST_P(IdentifyPrinterTest, DeviceIdWithoutModelIsNotIdentifiedRightAfterAModel) {
  PortRecord* record = OpenIdentifying("IDPNOMDL:", kDeviceId);
  ASSERT_NE(record, nullptr);
  ASSERT_EQ(IdentifyPrinter(record), TRUE);

  emu::SetDeviceId("IDPNOMDL:", "MFG:KOVIR;CMD:X;");
  EXPECT_EQ(IdentifyPrinter(record), FALSE);
  EXPECT_STREQ(record->modelName, "");
}

TEST_P(IdentifyPrinterTest, DeviceIdWithoutModelDoesNotBorrowAnotherPortsModel) {
  PortRecord* first = OpenIdentifying("IDPFIRST:", kDeviceId, "KP-210S", " matched");
  PortRecord* second = OpenIdentifying("IDPSECOND:", "MFG:KOVIR;CMD:X;", "KP-210S", " other");
  ASSERT_TRUE(first != nullptr && second != nullptr);

  ASSERT_EQ(IdentifyPrinter(first), TRUE);
  EXPECT_EQ(IdentifyPrinter(second), FALSE);
  // Each port keeps the model its own identification found.
  EXPECT_STREQ(first->modelName, "KP-210S");
  EXPECT_STREQ(second->modelName, "");
}

TEST_P(IdentifyPrinterTest, DeviceMonitorWithoutDeviceDataNeverIdentifies) {
  emu::SetDeviceDataSupported(false);  // before the port copies the table
  PortRecord* record = OpenIdentifying("IDPNULL:", kDeviceId);
  ASSERT_NE(record, nullptr);
  ASSERT_FALSE(HasDevicePrinterData(record));

  EXPECT_EQ(IdentifyPrinter(record), FALSE);
  EXPECT_TRUE(emu::CallsTo(emu::Slot::GetPrinterDataFromPort).empty());
}

TEST_P(IdentifyPrinterTest, RefusedOrEmptyQueryNeverIdentifies) {
  PortRecord* record = OpenIdentifying("IDPFAULT:", kDeviceId);
  ASSERT_NE(record, nullptr);
  for (const emu::Fault fault : {emu::Fault::Refuse, emu::Fault::EmptyRead}) {
    SCOPED_TRACE(fault == emu::Fault::Refuse ? "refused" : "empty");
    // Identified just before, so the record still holds the registered model.
    ASSERT_EQ(IdentifyPrinter(record), TRUE);
    emu::InjectFault(emu::Slot::GetPrinterDataFromPort, fault);
    emu::ClearCalls();
    EXPECT_EQ(IdentifyPrinter(record), FALSE);
    EXPECT_STREQ(record->modelName, "");
    EXPECT_EQ(emu::CallsTo(emu::Slot::GetPrinterDataFromPort).front().result,
              DWORD{fault != emu::Fault::Refuse});
  }
}

TEST_P(IdentifyPrinterTest, NoStatusKeySelectedNeverIdentifies) {
  PortRecord* record = OpenIdentifying("IDPNOKEY:", kDeviceId);
  ASSERT_NE(record, nullptr);
  ClearStatusKey(record->statusKey);
  EXPECT_EQ(IdentifyPrinter(record), FALSE);
}

}  // namespace
