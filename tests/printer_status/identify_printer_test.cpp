// IdentifyPrinter over the emulated device monitor and printer, with the status
// application stand-in registering a model in the real registry: which device IDs
// and registrations identify the printer, and how the device ID is asked for.
//
// Each test opens its own port for its own printer (names unique to the test),
// selects that printer's status key in the port's record as StartDocPort would,
// opens the device document, and undoes all of it, registry key included.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "emulator/device_monitor.h"
#include "emulator/status_app.h"
#include "monitor/monitor.h"
#include "port/port_record.h"
#include "printer_status/device_id.h"
#include "status_store/status_key.h"
#include "tests/support/monitor_fixture.h"

namespace {

std::string UniqueName(const char* kind) {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  return std::string("Identify ") + kind + " " + info->name();
}

// One port stacked on the emulated device monitor, in the state IdentifyPrinter
// meets at document start: the device document open and the printer's status key
// selected in the record.
class Port {
 public:
  Port(const std::string& portName, const std::string& printerName, const std::string& deviceId)
      : portName_(portName), printerName_(printerName) {
    emu::PrinterOptions options;
    options.deviceId = deviceId;
    emu::AttachPrinter(portName_, options);
    std::vector<char> port(portName_.begin(), portName_.end()),
        printer(printerName_.begin(), printerName_.end());
    port.push_back('\0');
    printer.push_back('\0');
    HANDLE handle = nullptr;
    opened_ = OpenPortEx(port.data(), printer.data(), &handle, emu::DeviceMonitor()) != FALSE;
    record_ = static_cast<PortRecord*>(handle);
    if (!opened_) return;
    docOpen_ = record_->deviceMonitor.pfnStartDocPort(record_->devicePort, printer.data(), 1, 1,
                                                      nullptr) != FALSE;
    if (docOpen_) SetStatusBits(record_, PS_DEVICE_DOC_OPEN);
    SelectStatusKey(record_->statusKey, printerName_.c_str());
  }
  ~Port() {
    if (opened_) {
      ClearStatusKey(record_->statusKey);
      if (docOpen_) {
        ClearStatusBits(record_, PS_DEVICE_DOC_OPEN);
        record_->deviceMonitor.pfnEndDocPort(record_->devicePort);
      }
      ClosePort(record_);
    }
    emu::DetachPrinter(portName_);
  }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  bool ready() const { return opened_ && docOpen_; }
  PortRecord* record() const { return record_; }
  const std::string& name() const { return portName_; }

  BOOL Identify() { return IdentifyPrinter(record_); }

 private:
  std::string portName_;
  std::string printerName_;
  PortRecord* record_ = nullptr;
  bool opened_ = false;
  bool docOpen_ = false;
};

// The status application's registration for one printer; removed again at the end.
class Registration {
 public:
  Registration(const std::string& printerName, std::optional<std::string> model)
      : printerName_(printerName) {
    emu::status_app::Uninstall(printerName_);
    emu::status_app::Install(printerName_, model.value_or(""));
    if (!model) emu::status_app::DeleteValue(printerName_, VALUE_REGISTERED_MODEL);
  }
  ~Registration() { emu::status_app::Uninstall(printerName_); }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

 private:
  std::string printerName_;
};

class IdentifyPrinterTest : public testing::Test {
 protected:
  void SetUp() override {
    monitor_test::Spooler();  // InitializeMonitorEx, once: OpenPortEx takes MonitorLock
    emu::Reset();
  }
  void TearDown() override { emu::Reset(); }
};

struct IdentifyCase {
  std::string deviceId;
  std::optional<std::string> registered;  // IDMDL, or none
  bool identified;
  const char* why;
};

TEST_F(IdentifyPrinterTest, MatchesMakerAndRegisteredModel) {
  const std::string longModel(300, 'L');
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
  };
  int n = 0;
  for (const IdentifyCase& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string printer = UniqueName("printer") + " " + std::to_string(n);
    Registration registration(printer, c.registered);
    Port port("IDP" + std::to_string(n++) + ":", printer, c.deviceId);
    ASSERT_TRUE(port.ready());
    EXPECT_EQ(port.Identify(), c.identified ? TRUE : FALSE);
  }
}

TEST_F(IdentifyPrinterTest, AsksTheDeviceMonitorsOwnSlotForTheDeviceId) {
  const std::string printer = UniqueName("printer");
  Registration registration(printer, "KP-210S");
  Port port("IDPASK:", printer, "MFG:KOVIR;CMD:X;MDL:KP-210S;");
  ASSERT_TRUE(port.ready());
  // Our own GetPrinterDataFromPort answers only while the record says a device
  // document is open; the device monitor's slot does not care.
  ClearStatusBits(port.record(), PS_DEVICE_DOC_OPEN);
  emu::ClearCalls();

  EXPECT_EQ(port.Identify(), TRUE);

  const std::vector<emu::Call> calls = emu::CallsTo(emu::Slot::GetPrinterDataFromPort);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].handle, port.record()->devicePort);
  EXPECT_EQ(calls[0].number, DEVICE_ID_CONTROL_CODE);
  EXPECT_EQ(calls[0].text, "");  // no value name
  EXPECT_FALSE(calls[0].inBuffer);
  EXPECT_EQ(calls[0].inSize, 0u);
  EXPECT_EQ(calls[0].outSize, DEVICE_ID_BUFFER_SIZE);
  EXPECT_STREQ(port.record()->modelName, "KP-210S");
}

TEST_F(IdentifyPrinterTest, DeviceIdWithoutModelIsNotIdentifiedRightAfterAModel) {
  const std::string printer = UniqueName("printer");
  Registration registration(printer, "KP-210S");
  Port port("IDPNOMDL:", printer, "MFG:KOVIR;CMD:X;MDL:KP-210S;");
  ASSERT_TRUE(port.ready());
  ASSERT_EQ(port.Identify(), TRUE);

  emu::SetDeviceId(port.name(), "MFG:KOVIR;CMD:X;");
  EXPECT_EQ(port.Identify(), FALSE);
  EXPECT_STREQ(port.record()->modelName, "");
}

TEST_F(IdentifyPrinterTest, DeviceIdWithoutModelDoesNotBorrowAnotherPortsModel) {
  const std::string matched = UniqueName("matched"), other = UniqueName("other");
  Registration matchedRegistration(matched, "KP-210S"), otherRegistration(other, "KP-210S");
  Port first("IDPFIRST:", matched, "MFG:KOVIR;CMD:X;MDL:KP-210S;");
  Port second("IDPSECOND:", other, "MFG:KOVIR;CMD:X;");
  ASSERT_TRUE(first.ready() && second.ready());

  ASSERT_EQ(first.Identify(), TRUE);
  EXPECT_EQ(second.Identify(), FALSE);
  // Each port keeps the model its own identification found.
  EXPECT_STREQ(first.record()->modelName, "KP-210S");
  EXPECT_STREQ(second.record()->modelName, "");
}

TEST_F(IdentifyPrinterTest, DeviceMonitorWithoutDeviceDataNeverIdentifies) {
  const std::string printer = UniqueName("printer");
  Registration registration(printer, "KP-210S");
  emu::SetDeviceDataSupported(false);  // before the port copies the table
  Port port("IDPNULL:", printer, "MFG:KOVIR;CMD:X;MDL:KP-210S;");
  ASSERT_TRUE(port.ready());
  ASSERT_EQ(port.record()->deviceMonitor.pfnGetPrinterDataFromPort, nullptr);

  EXPECT_EQ(port.Identify(), FALSE);
  EXPECT_TRUE(emu::CallsTo(emu::Slot::GetPrinterDataFromPort).empty());
}

TEST_F(IdentifyPrinterTest, RefusedOrEmptyQueryNeverIdentifies) {
  const std::string printer = UniqueName("printer");
  Registration registration(printer, "KP-210S");
  Port port("IDPFAULT:", printer, "MFG:KOVIR;CMD:X;MDL:KP-210S;");
  ASSERT_TRUE(port.ready());
  for (const emu::Fault fault : {emu::Fault::Refuse, emu::Fault::EmptyRead}) {
    SCOPED_TRACE(fault == emu::Fault::Refuse ? "refused" : "empty");
    // Identified just before, so the record still holds the registered model.
    ASSERT_EQ(port.Identify(), TRUE);
    emu::InjectFault(emu::Slot::GetPrinterDataFromPort, fault);
    EXPECT_EQ(port.Identify(), FALSE);
    EXPECT_STREQ(port.record()->modelName, "");
    EXPECT_EQ(emu::CallsTo(emu::Slot::GetPrinterDataFromPort).back().result,
              DWORD{fault != emu::Fault::Refuse});
  }
}

TEST_F(IdentifyPrinterTest, NoStatusKeySelectedNeverIdentifies) {
  const std::string printer = UniqueName("printer");
  Registration registration(printer, "KP-210S");
  Port port("IDPNOKEY:", printer, "MFG:KOVIR;CMD:X;MDL:KP-210S;");
  ASSERT_TRUE(port.ready());
  ClearStatusKey(port.record()->statusKey);
  EXPECT_EQ(IdentifyPrinter(port.record()), FALSE);
}

TEST_F(IdentifyPrinterTest, ReplyFillingTheWholeBufferIsParsedWithinIt) {
  const std::string printer = UniqueName("printer");
  Registration registration(printer, "KP-210S");
  struct {
    std::string deviceId;
    bool identified;
    const char* why;
  } const cases[] = {
      {"MFG:KOVIR;MDL:KP-210S;CLS:" + std::string(DEVICE_ID_BUFFER_SIZE - 26, 'P'), true,
       "exactly 1024 bytes, no terminator"},
      {"MFG:KOVIR;MDL:KP-210S;CLS:" + std::string(2 * DEVICE_ID_BUFFER_SIZE, 'P'), true,
       "longer than the buffer"},
      {"CLS:" + std::string(DEVICE_ID_BUFFER_SIZE - 4, 'P') + ";MFG:KOVIR;MDL:KP-210S;", false,
       "the fields behind the first 1024 bytes are not seen"},
      {"MDL:KP-210S;MFG:" + std::string(DEVICE_ID_BUFFER_SIZE - 21, 'x') + "KOVIR", true,
       "the maker's name in the very last bytes: all 1024 are kept"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Port port("IDPFULL" + std::to_string(n++) + ":", printer, c.deviceId);
    ASSERT_TRUE(port.ready());
    EXPECT_EQ(port.Identify(), c.identified ? TRUE : FALSE);
    EXPECT_EQ(emu::CallsTo(emu::Slot::GetPrinterDataFromPort).back().bytes, DEVICE_ID_BUFFER_SIZE);
  }
}

}  // namespace
