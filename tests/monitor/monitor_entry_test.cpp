// The module's front door: the entry point and the table InitializeMonitorEx
// hands the spooler.
#include <gtest/gtest.h>

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

TEST(DllEntryPoint, ReturnsTrueForEveryReason) {
  for (DWORD reason : {DWORD{DLL_PROCESS_ATTACH}, DWORD{DLL_THREAD_ATTACH},
                       DWORD{DLL_THREAD_DETACH}, DWORD{DLL_PROCESS_DETACH}}) {
    EXPECT_EQ(DllEntryPoint(nullptr, reason, nullptr), TRUE) << "reason " << reason;
  }
}

}  // namespace
