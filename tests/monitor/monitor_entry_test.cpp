// The module's front door: the entry point and the table InitializeMonitorEx
// hands the spooler.
#include <gtest/gtest.h>

#include "tests/support/function_address.h"
#include "tests/support/monitor_fixture.h"

namespace {

using monitor_test::Address;
using monitor_test::Spooler;

// Which of the 13 slots the spooler finds filled, and with what.
struct SlotCase {
  const char* name;
  void* (*read)(const MONITOR&);
  void* expected;
};

#define SLOT(slot, expected)                                          \
  SlotCase {                                                          \
#slot, [](const MONITOR& m) { return Address(m.slot); }, expected \
  }

TEST(InitializeMonitorEx, FillsSevenSlotsWithOurOperationsAndNullsTheOtherSix) {
  const SlotCase cases[] = {
      SLOT(pfnEnumPorts, nullptr),
      SLOT(pfnOpenPort, nullptr),
      SLOT(pfnOpenPortEx, Address(&OpenPortEx)),
      SLOT(pfnStartDocPort, Address(&StartDocPort)),
      SLOT(pfnWritePort, Address(&WritePort)),
      SLOT(pfnReadPort, Address(&ReadPort)),
      SLOT(pfnEndDocPort, Address(&EndDocPort)),
      SLOT(pfnClosePort, Address(&ClosePort)),
      SLOT(pfnAddPort, nullptr),
      SLOT(pfnConfigurePort, nullptr),
      SLOT(pfnDeletePort, nullptr),
      SLOT(pfnGetPrinterDataFromPort, Address(&GetPrinterDataFromPort)),
      SLOT(pfnSetPortTimeOuts, nullptr),
  };
  static_assert(sizeof cases / sizeof cases[0] == sizeof(MONITOR) / sizeof(void*));

  const MONITOR& table = Spooler();
  int filled = 0;
  for (const SlotCase& slot : cases) {
    EXPECT_EQ(slot.read(table), slot.expected) << slot.name;
    if (slot.read(table) != nullptr) ++filled;
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
