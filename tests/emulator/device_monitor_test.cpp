// The emulated device monitor: its table, the port lifecycle, the call log, the
// device ID and the injected faults. Monitor tests trust what these pin down.
#include "emulator/device_monitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/device_port.h"

namespace {

using monitor_test::DeviceRead;
using monitor_test::DeviceWrite;

constexpr char kPort[] = "LPT1:";

class DeviceMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    emu::Reset();
    emu::AttachPrinter(kPort);
    table = emu::DeviceMonitor();
  }
  // Reset forgets every port, so a test need not close the ports it opened.
  void TearDown() override { emu::Reset(); }

  HANDLE Open(const char* name = kPort) {
    HANDLE handle = nullptr;
    EXPECT_TRUE(table->pfnOpenPort(const_cast<LPSTR>(name), &handle));
    return handle;
  }
  BOOL StartDoc(HANDLE port) {
    return table->pfnStartDocPort(port, const_cast<LPSTR>("Office"), 7, 1, nullptr);
  }
  BOOL DeviceId(HANDLE port, char* out, DWORD size, DWORD* returned, DWORD control = 17) {
    return table->pfnGetPrinterDataFromPort(port, control, nullptr, nullptr, 0, out, size,
                                            returned);
  }

  MONITOR* table = nullptr;
};

TEST_F(DeviceMonitorTest, TableHasTheSevenPortSlotsAndNullElsewhere) {
  EXPECT_EQ(table->pfnEnumPorts, nullptr);
  EXPECT_EQ(table->pfnOpenPortEx, nullptr);
  EXPECT_EQ(table->pfnAddPort, nullptr);
  EXPECT_EQ(table->pfnConfigurePort, nullptr);
  EXPECT_EQ(table->pfnDeletePort, nullptr);
  EXPECT_EQ(table->pfnSetPortTimeOuts, nullptr);
  EXPECT_NE(table->pfnOpenPort, nullptr);
  EXPECT_NE(table->pfnStartDocPort, nullptr);
  EXPECT_NE(table->pfnWritePort, nullptr);
  EXPECT_NE(table->pfnReadPort, nullptr);
  EXPECT_NE(table->pfnEndDocPort, nullptr);
  EXPECT_NE(table->pfnClosePort, nullptr);
  EXPECT_NE(table->pfnGetPrinterDataFromPort, nullptr);

  emu::SetDeviceDataSupported(false);
  EXPECT_EQ(table->pfnGetPrinterDataFromPort, nullptr);
  emu::Reset();
  EXPECT_NE(table->pfnGetPrinterDataFromPort, nullptr);
}

TEST_F(DeviceMonitorTest, WholeDocumentIsLoggedInCallOrderWithItsArguments) {
  HANDLE port = Open("lpt1:");  // port names ignore case
  ASSERT_NE(port, nullptr);
  EXPECT_TRUE(emu::PortOpen(kPort));
  EXPECT_EQ(emu::PortHandle(kPort), port);
  ASSERT_TRUE(StartDoc(port));
  EXPECT_TRUE(emu::DocumentOpen(kPort));
  DWORD written = 0;
  ASSERT_TRUE(DeviceWrite(port, std::string("job\0data", 8), &written));
  EXPECT_EQ(written, 8u);
  EXPECT_EQ(DeviceRead(port, 64), "");
  ASSERT_TRUE(table->pfnEndDocPort(port));
  EXPECT_FALSE(emu::DocumentOpen(kPort));
  ASSERT_TRUE(table->pfnClosePort(port));
  EXPECT_FALSE(emu::PortOpen(kPort));
  EXPECT_EQ(emu::PortHandle(kPort), nullptr);

  const std::vector<emu::Call> calls = emu::Calls();
  ASSERT_EQ(calls.size(), 6u);
  const emu::Slot order[] = {emu::Slot::OpenPort, emu::Slot::StartDocPort, emu::Slot::WritePort,
                             emu::Slot::ReadPort, emu::Slot::EndDocPort,   emu::Slot::ClosePort};
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].slot, order[i]) << i << ": " << emu::SlotName(calls[i].slot);
    EXPECT_EQ(calls[i].result, static_cast<DWORD>(TRUE)) << i;
    EXPECT_EQ(calls[i].handle, port) << i;
  }
  EXPECT_EQ(calls[0].port, "lpt1:");
  EXPECT_EQ(calls[1].text, "Office");
  EXPECT_EQ(calls[1].number, 7u);
  EXPECT_EQ(calls[1].level, 1u);
  EXPECT_EQ(calls[2].number, 8u);
  EXPECT_EQ(calls[2].bytes, 8u);
  EXPECT_EQ(calls[2].data, std::string("job\0data", 8));
  EXPECT_EQ(calls[3].number, 64u);
  EXPECT_EQ(calls[3].bytes, 0u);
  EXPECT_EQ(emu::Received(kPort), std::string("job\0data", 8));
  EXPECT_EQ(emu::CallsTo(emu::Slot::WritePort).size(), 1u);
  emu::ClearCalls();
  EXPECT_TRUE(emu::Calls().empty());
}

TEST_F(DeviceMonitorTest, OpenFailsForUnknownPortBusyPortAndNoPrinter) {
  HANDLE handle = nullptr;
  SetLastError(0);
  EXPECT_FALSE(table->pfnOpenPort(const_cast<LPSTR>("COM9:"), &handle));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(handle, nullptr);

  HANDLE first = Open();
  EXPECT_FALSE(table->pfnOpenPort(const_cast<LPSTR>("LPT1:"), &handle));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_TRUE(table->pfnClosePort(first));
  HANDLE again = Open();
  EXPECT_NE(again, first) << "handles are never reused";
  EXPECT_TRUE(table->pfnClosePort(again));
}

TEST_F(DeviceMonitorTest, ClosedHandleIsRefusedEverywhere) {
  HANDLE port = Open();
  ASSERT_TRUE(table->pfnClosePort(port));
  DWORD count = 99;
  char id[32];
  EXPECT_FALSE(StartDoc(port));
  EXPECT_FALSE(DeviceWrite(port, "x", &count));
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(table->pfnEndDocPort(port));
  EXPECT_FALSE(DeviceId(port, id, sizeof id, &count));
  EXPECT_FALSE(table->pfnClosePort(port));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(DeviceMonitorTest, WritesAndReadsNeedAnOpenDocument) {
  HANDLE port = Open();
  DWORD written = 99;
  EXPECT_FALSE(DeviceWrite(port, "early", &written));
  EXPECT_EQ(written, 0u);
  BOOL ok = TRUE;
  emu::QueueBackChannel(kPort, "hello");
  EXPECT_EQ(DeviceRead(port, 16, &ok), "");
  EXPECT_FALSE(ok);
  EXPECT_EQ(emu::Received(kPort), "");
  ASSERT_TRUE(StartDoc(port));
  EXPECT_FALSE(StartDoc(port)) << "a second document on the same port";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(DeviceRead(port, 16), "hello");
  EXPECT_TRUE(table->pfnClosePort(port));
  EXPECT_FALSE(emu::DocumentOpen(kPort)) << "closing abandons the document";
}

TEST_F(DeviceMonitorTest, BackChannelDrainsInChunksOfTheReadSize) {
  HANDLE port = Open();
  ASSERT_TRUE(StartDoc(port));
  std::string queued;
  for (int i = 0; i < 5000; ++i) queued += static_cast<char>('A' + i % 26);
  emu::QueueBackChannel(kPort, queued);
  EXPECT_EQ(emu::PendingBackChannel(kPort), 5000u);
  const std::string first = DeviceRead(port, 2047);
  const std::string second = DeviceRead(port, 2047);
  const std::string third = DeviceRead(port, 2047);
  EXPECT_EQ(first.size(), 2047u);
  EXPECT_EQ(second.size(), 2047u);
  EXPECT_EQ(third.size(), 906u);
  EXPECT_EQ(first + second + third, queued);
  EXPECT_EQ(DeviceRead(port, 2047), "");
  EXPECT_EQ(emu::PendingBackChannel(kPort), 0u);
}

TEST_F(DeviceMonitorTest, ReadChunkCapsEveryRead) {
  emu::SetPrinterOptions(kPort, {.readChunk = 3});
  HANDLE port = Open();
  ASSERT_TRUE(StartDoc(port));
  emu::QueueBackChannel(kPort, "abcdefgh");
  EXPECT_EQ(DeviceRead(port, 100), "abc");
  EXPECT_EQ(DeviceRead(port, 2), "de");
  EXPECT_EQ(DeviceRead(port, 100), "fgh");
  EXPECT_EQ(DeviceRead(port, 100), "");
}

TEST_F(DeviceMonitorTest, DeviceIdIsTerminatedWhenThereIsRoom) {
  emu::SetDeviceId(kPort, "MFG:KOVIR;MDL:KP-210S;");
  HANDLE port = Open();
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  DWORD returned = 0;
  ASSERT_TRUE(DeviceId(port, buffer, sizeof buffer, &returned));
  EXPECT_EQ(returned, 22u);
  EXPECT_STREQ(buffer, "MFG:KOVIR;MDL:KP-210S;");
  const emu::Call call = emu::CallsTo(emu::Slot::GetPrinterDataFromPort).at(0);
  EXPECT_EQ(call.number, 17u);
  EXPECT_EQ(call.outSize, 64u);
  EXPECT_EQ(call.inSize, 0u);
  EXPECT_FALSE(call.inBuffer);
  EXPECT_EQ(call.data, "MFG:KOVIR;MDL:KP-210S;");

  EXPECT_FALSE(DeviceId(port, buffer, sizeof buffer, &returned, 0));
  EXPECT_FALSE(DeviceId(port, buffer, sizeof buffer, &returned, 18));
}

TEST_F(DeviceMonitorTest, DeviceIdFillingTheBufferHasNoTerminator) {
  std::string id = "MFG:KOVIR;MDL:KP-210S;CMD:";
  id.resize(1024, 'Z');
  emu::SetDeviceId(kPort, id);
  HANDLE port = Open();
  std::vector<char> buffer(1100, '#');
  DWORD returned = 0;
  ASSERT_TRUE(DeviceId(port, buffer.data(), 1024, &returned));
  EXPECT_EQ(returned, 1024u);
  EXPECT_EQ(std::string(buffer.data(), 1024), id);
  EXPECT_EQ(buffer[1024], '#') << "nothing written past the output size";
}

// One row per fault: what the faulted call returns and what reaches the printer.
struct FaultCase {
  const char* name;
  emu::Fault fault;
  BOOL result;
  DWORD written;
};

class WriteFaultTest : public DeviceMonitorTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(WriteFaultTest, FaultAppliesOnceThenWritesFlowAgain) {
  const FaultCase& c = GetParam();
  HANDLE port = Open();
  ASSERT_TRUE(StartDoc(port));
  emu::InjectFault(emu::Slot::WritePort, c.fault, 1);
  DWORD written = 99;
  EXPECT_EQ(DeviceWrite(port, "0123456789", &written), c.result);
  EXPECT_EQ(written, c.written);
  EXPECT_EQ(emu::Received(kPort), std::string("0123456789").substr(0, c.written));
  ASSERT_TRUE(DeviceWrite(port, "ab", &written));
  EXPECT_EQ(written, 2u);
}

INSTANTIATE_TEST_SUITE_P(Faults, WriteFaultTest,
                         ::testing::Values(FaultCase{"Refuse", emu::Fault::Refuse, FALSE, 0},
                                           FaultCase{"ShortWrite", emu::Fault::ShortWrite, TRUE,
                                                     5}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceMonitorTest, RefuseTwiceThenAlways) {
  emu::InjectFault(emu::Slot::OpenPort, emu::Fault::Refuse, 2);
  HANDLE handle = nullptr;
  EXPECT_FALSE(table->pfnOpenPort(const_cast<LPSTR>(kPort), &handle));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(table->pfnOpenPort(const_cast<LPSTR>(kPort), &handle));
  EXPECT_FALSE(emu::PortOpen(kPort));
  HANDLE port = Open();
  ASSERT_NE(port, nullptr);

  emu::InjectFault(emu::Slot::StartDocPort, emu::Fault::Refuse, emu::kAlways);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(StartDoc(port)) << i;
  EXPECT_FALSE(emu::DocumentOpen(kPort));
  emu::ClearFaults();
  EXPECT_TRUE(StartDoc(port));

  const std::vector<emu::Call> opens = emu::CallsTo(emu::Slot::OpenPort);
  ASSERT_EQ(opens.size(), 3u);
  EXPECT_EQ(opens[0].result, static_cast<DWORD>(FALSE));
  EXPECT_EQ(opens[0].error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(opens[2].result, static_cast<DWORD>(TRUE));
  EXPECT_EQ(emu::CallsTo(emu::Slot::StartDocPort).size(), 6u);
}

TEST_F(DeviceMonitorTest, EmptyReadAndReadErrorLeaveTheBackChannelAlone) {
  HANDLE port = Open();
  ASSERT_TRUE(StartDoc(port));
  emu::QueueBackChannel(kPort, "reply");
  BOOL ok = FALSE;
  emu::InjectFault(emu::Slot::ReadPort, emu::Fault::EmptyRead);
  EXPECT_EQ(DeviceRead(port, 64, &ok), "");
  EXPECT_TRUE(ok);
  emu::InjectFault(emu::Slot::ReadPort, emu::Fault::ReadError);
  EXPECT_EQ(DeviceRead(port, 64, &ok), "");
  EXPECT_FALSE(ok);
  emu::InjectFault(emu::Slot::ReadPort, emu::Fault::OverReport);  // claims 128 of the 64 asked
  EXPECT_EQ(DeviceRead(port, 64, &ok), std::string(64, '?') + std::string(64, '\0'));
  EXPECT_TRUE(ok);
  EXPECT_EQ(emu::PendingBackChannel(kPort), 5u);
  EXPECT_EQ(DeviceRead(port, 64, &ok), "reply");
  EXPECT_TRUE(ok);

  emu::InjectFault(emu::Slot::GetPrinterDataFromPort, emu::Fault::EmptyRead);
  char id[64] = "untouched";
  DWORD returned = 99;
  EXPECT_TRUE(DeviceId(port, id, sizeof id, &returned));
  EXPECT_EQ(returned, 0u);
  EXPECT_STREQ(id, "untouched");
}

// The read on the off-line port is still blocked when the other port's calls are done.
TEST_F(DeviceMonitorTest, OfflinePortBlocksOnlyItsOwnReadsAndWrites) {
  emu::AttachPrinter("LPT2:");
  HANDLE a = Open(), b = Open("LPT2:");
  ASSERT_TRUE(StartDoc(a) && StartDoc(b));
  emu::QueueBackChannel(kPort, "late");
  emu::SetOffline(kPort, 20000);
  std::atomic<bool> aDone{false};
  std::thread blocked([&] {
    EXPECT_EQ(DeviceRead(a, 8), "late");
    aDone = true;
  });
  while (emu::BlockedCalls(kPort) == 0) Sleep(5);
  DWORD written = 0;
  EXPECT_TRUE(DeviceWrite(b, "job", &written) && DeviceRead(b, 8).empty());
  EXPECT_FALSE(aDone) << "b's calls waited for a's blocked read";
  emu::SetOffline(kPort, 0);  // releases a's read at once
  blocked.join();
  EXPECT_TRUE(aDone);
}

TEST_F(DeviceMonitorTest, RefusedCloseKeepsThePortOpen) {
  HANDLE port = Open();
  emu::InjectFault(emu::Slot::ClosePort, emu::Fault::Refuse);
  EXPECT_FALSE(table->pfnClosePort(port));
  EXPECT_TRUE(emu::PortOpen(kPort));
  EXPECT_TRUE(table->pfnClosePort(port));
  EXPECT_FALSE(emu::PortOpen(kPort));
}

}  // namespace
