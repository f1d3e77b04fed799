// The module's front door: the entry point and the table InitializeMonitorEx
// hands the spooler.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "tests/support/monitor_fixture.h"
#include "tests/support/monitor_slots.h"

namespace {

using monitor_test::Address;
using monitor_test::Spooler;

TEST(InitializeMonitorEx, FillsSevenSlotsWithOurOperationsAndNullsTheOtherSix) {
  const std::map<std::string, void*> ours = {
      {"pfnOpenPortEx", Address(&OpenPortEx)},
      {"pfnStartDocPort", Address(&StartDocPort)},
      {"pfnWritePort", Address(&WritePort)},
      {"pfnReadPort", Address(&ReadPort)},
      {"pfnEndDocPort", Address(&EndDocPort)},
      {"pfnClosePort", Address(&ClosePort)},
      {"pfnGetPrinterDataFromPort", Address(&GetPrinterDataFromPort)},
  };
  int filled = 0;
  for (const monitor_test::SlotAddress& slot : monitor_test::SlotAddresses(Spooler())) {
    const auto our = ours.find(slot.name);
    EXPECT_EQ(slot.address, our == ours.end() ? nullptr : our->second) << slot.name;
    if (slot.address != nullptr) ++filled;
  }
  EXPECT_EQ(filled, 7);
}

TEST(InitializePrintMonitor2, FillsTheLanguageMonitorsEightEntriesOfAWindows2000SizedTable) {
  const monitor_test::NtInstance& nt = monitor_test::SpoolerNt();
  ASSERT_NE(nt.table, nullptr);
  EXPECT_NE(nt.handle, nullptr);
  const MONITOR2& table = *nt.table;
  EXPECT_EQ(table.cbSize, offsetof(MONITOR2, pfnShutdown) + sizeof(void*));
  // winsplp.h's MONITOR2_SIZE_WIN2K (declared for Windows XP and later) adds the
  // entries to cbSize without the padding behind it: 4 bytes short of ours on x64.
  constexpr std::size_t headerWin2kSize = sizeof(DWORD) + sizeof(void*) * 18;
  EXPECT_EQ(table.cbSize, headerWin2kSize + (sizeof(void*) == 8 ? 4 : 0));
  EXPECT_EQ(Address(table.pfnOpenPortEx), Address(&OpenPortExNt));
  EXPECT_EQ(Address(table.pfnStartDocPort), Address(&StartDocPortNt));
  EXPECT_EQ(Address(table.pfnWritePort), Address(&WritePort));
  EXPECT_EQ(Address(table.pfnReadPort), Address(&ReadPort));
  EXPECT_EQ(Address(table.pfnEndDocPort), Address(&EndDocPort));
  EXPECT_EQ(Address(table.pfnClosePort), Address(&ClosePort));
  EXPECT_EQ(Address(table.pfnGetPrinterDataFromPort), Address(&GetPrinterDataFromPortNt));
  EXPECT_EQ(Address(table.pfnShutdown), Address(&ShutdownNt));
  for (void* portManagement :
       {Address(table.pfnEnumPorts), Address(table.pfnOpenPort), Address(table.pfnAddPort),
        Address(table.pfnAddPortEx), Address(table.pfnConfigurePort), Address(table.pfnDeletePort),
        Address(table.pfnSetPortTimeOuts), Address(table.pfnXcvOpenPort),
        Address(table.pfnXcvDataPort), Address(table.pfnXcvClosePort)}) {
    EXPECT_EQ(portManagement, nullptr);
  }
}

// The NT spooler loads only the NT face, so its entry may be the first of the
// process: it prepares MonitorLock itself. Every other test here goes through the
// Windows 95 face first, which prepares the lock once for the whole process, so
// this one runs in a process of its own, started afresh. The Linux layer refuses
// a lock never initialised; Windows does not tell, so it runs there only.
TEST(InitializePrintMonitor2, AsTheFirstEntryOfTheProcessPreparesTheLockForItsPorts) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows does not tell a critical section never initialised";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        emu::AttachPrinter("LPT8:");
        HANDLE port = nullptr;
        const monitor_test::SpoolerFace nt{monitor_test::Face::Nt};
        std::exit(nt.OpenPort("LPT8:", nullptr, &port) && nt.Close(port) ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
#endif
}

TEST(DllEntryPoint, ReturnsTrueForEveryReason) {
  for (DWORD reason : {DWORD{DLL_PROCESS_ATTACH}, DWORD{DLL_THREAD_ATTACH},
                       DWORD{DLL_THREAD_DETACH}, DWORD{DLL_PROCESS_DETACH}}) {
    EXPECT_EQ(DllEntryPoint(nullptr, reason, nullptr), TRUE) << "reason " << reason;
  }
}

}  // namespace
