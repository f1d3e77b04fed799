// The status-application stand-in writes and reads the printer's StMonitor key
// through the real registry calls. Under Wine the registry outlives the process,
// so every test uses its own printer name and removes its key.
#include "emulator/status_app.h"

#include <gtest/gtest.h>

#include <string>

namespace {

namespace app = emu::status_app;

class StatusAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    printer =
        std::string("EmuRig ") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    app::Uninstall(printer);
  }
  void TearDown() override {
    app::Uninstall(printer);
    EXPECT_FALSE(app::KeyExists(printer));
  }
  std::string printer;
};

TEST_F(StatusAppTest, KeyPathIsUnderThePrintersKey) {
  EXPECT_EQ(app::KeyPath("Office"),
            "System\\CurrentControlSet\\control\\Print\\Printers\\Office\\StMonitor");
}

TEST_F(StatusAppTest, InstallRegistersEveryValue) {
  EXPECT_FALSE(app::KeyExists(printer));
  app::Install(printer, "KP-210S", 17, 0, 200);
  EXPECT_TRUE(app::KeyExists(printer));
  EXPECT_EQ(app::ReadDword(printer, "StMonExistFlag"), 17u);
  EXPECT_EQ(app::ReadDword(printer, "StRealThreadExistFlag"), 0u);
  EXPECT_EQ(app::ReadDword(printer, "GetRealTimeStatusStartFlag"), 0u);
  EXPECT_EQ(app::ReadDword(printer, "GetRealTimeStatusTime"), 200u);
  EXPECT_EQ(app::ReadString(printer, "IDMDL"), "KP-210S");
  const auto model = app::Describe(printer, "IDMDL");
  ASSERT_TRUE(model.has_value());
  EXPECT_EQ(model->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(model->size, 8u) << "stored with its terminator";
}

TEST_F(StatusAppTest, InstallReplacesWhatAnEarlierRunLeft) {
  app::Install(printer, "KP-6600S");
  app::SetString(printer, "InkLevel", "IQ:BLACK=1%;");
  app::SetDword(printer, "LanMonExistFlag", 1);
  app::Install(printer, "KP-210S");
  EXPECT_EQ(app::PublishedInkLevel(printer), std::nullopt);
  EXPECT_EQ(app::ReadDword(printer, "LanMonExistFlag"), std::nullopt);
  EXPECT_EQ(app::ReadString(printer, "IDMDL"), "KP-210S");
  EXPECT_EQ(app::ReadDword(printer, "StMonExistFlag"), 1u);
  EXPECT_EQ(app::ReadDword(printer, "GetRealTimeStatusTime"), 3000u);
}

TEST_F(StatusAppTest, MidJobChangesRoundTrip) {
  app::Install(printer, "KP-210S");
  app::SetRealThreadExists(printer, true);
  EXPECT_EQ(app::ReadDword(printer, "StRealThreadExistFlag"), 1u);
  app::SetRealThreadExists(printer, false);
  EXPECT_EQ(app::ReadDword(printer, "StRealThreadExistFlag"), 0u);
  app::SetPollSettings(printer, 0, 250);
  EXPECT_EQ(app::ReadDword(printer, "GetRealTimeStatusStartFlag"), 0u);
  EXPECT_EQ(app::ReadDword(printer, "GetRealTimeStatusTime"), 250u);
  app::DeleteValue(printer, "GetRealTimeStatusTime");
  EXPECT_EQ(app::Describe(printer, "GetRealTimeStatusTime"), std::nullopt);
  app::Close(printer, true);  // crashed mid-talk: its thread flag stays up
  EXPECT_EQ(app::ReadDword(printer, "StMonExistFlag"), 16u);
  EXPECT_EQ(app::ReadDword(printer, "StRealThreadExistFlag"), 1u);
  app::Close(printer);
  EXPECT_EQ(app::ReadDword(printer, "StRealThreadExistFlag"), 0u);
}

// The flag is written once, by the call the test picked, before that call returns.
TEST_F(StatusAppTest, ActsOnceAtThePickedDeviceCall) {
  app::Install(printer, "KP-210S");
  emu::Reset();
  emu::AttachPrinter("LPT1:");
  app::ActOnCall([](const emu::Call& call) { return call.slot == emu::Slot::StartDocPort; },
                 [&] { app::SetDword(printer, "GetRealTimeStatusStartFlag", 7); });
  MONITOR* table = emu::DeviceMonitor();
  HANDLE port = nullptr;
  ASSERT_TRUE(table->pfnOpenPort(const_cast<LPSTR>("LPT1:"), &port));
  EXPECT_EQ(app::ReadDword(printer, "GetRealTimeStatusStartFlag"), 1u);
  ASSERT_TRUE(table->pfnStartDocPort(port, const_cast<LPSTR>("P"), 1, 1, nullptr));
  EXPECT_EQ(app::ReadDword(printer, "GetRealTimeStatusStartFlag"), 7u);
  app::SetDword(printer, "GetRealTimeStatusStartFlag", 1);
  table->pfnEndDocPort(port);
  table->pfnStartDocPort(port, const_cast<LPSTR>("P"), 2, 1, nullptr);
  EXPECT_EQ(app::ReadDword(printer, "GetRealTimeStatusStartFlag"), 1u) << "acted twice";
  emu::Reset();
}

// What the monitor writes: strings without terminator, as raw bytes of their length.
TEST_F(StatusAppTest, PublishedValuesReadBackUpToTheirFirstNul) {
  app::Install(printer, "KP-210S");
  EXPECT_EQ(app::PublishedStatus(printer), std::nullopt);
  app::SetRaw(printer, "RealTimeStatusStrings", REG_SZ, "STATUS KVR1 03 PRINTING;");
  EXPECT_EQ(app::PublishedStatus(printer), "STATUS KVR1 03 PRINTING;");
  app::SetRaw(printer, "InkLevel", REG_SZ, "");
  EXPECT_EQ(app::PublishedInkLevel(printer), "");
  app::SetRaw(printer, "InkLevel", REG_BINARY, std::string("IQ:\0zz", 6));
  EXPECT_EQ(app::PublishedInkLevel(printer), "IQ:");
  EXPECT_EQ(app::ReadRaw(printer, "InkLevel"), std::string("IQ:\0zz", 6));
}

TEST_F(StatusAppTest, OnlyFourByteDwordsReadAsFlags) {
  app::Install(printer, "KP-210S");
  app::SetRaw(printer, "GetRealTimeStatusTime", REG_DWORD, std::string(8, '\x01'));
  EXPECT_EQ(app::ReadDword(printer, "GetRealTimeStatusTime"), std::nullopt);
  const auto info = app::Describe(printer, "GetRealTimeStatusTime");
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(info->size, 8u);
  app::SetRaw(printer, "StMonExistFlag", REG_BINARY, std::string("\x10\0\0\0", 4));
  EXPECT_EQ(app::ReadDword(printer, "StMonExistFlag"), std::nullopt);
}

TEST_F(StatusAppTest, WritersCreateTheKeyReadersDoNot) {
  EXPECT_EQ(app::ReadDword(printer, "StMonExistFlag"), std::nullopt);
  EXPECT_FALSE(app::KeyExists(printer));
  app::SetDword(printer, "StMonExistFlag", 16);
  EXPECT_TRUE(app::KeyExists(printer));
  EXPECT_EQ(app::ReadDword(printer, "StMonExistFlag"), 16u);
}

}  // namespace
