// A thousand ports opened and closed, in every state a close can meet, leave
// nothing behind: no heap block, no handle (event, thread, printer), no thread.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/monitor_fixture.h"

namespace {

using monitor_test::ListedPorts;
using monitor_test::MonitorTest;
using monitor_test::OpenDeviceDocument;
using monitor_test::Spooler;
using monitor_test::StandInPoller;
using monitor_test::StartStandInPoller;

constexpr int kCycles = 1000;
constexpr char kPrinter[] = "KOVIR Port Cycles";

// Waits (up to 10 s) for the thread count to fall back to `baseline`: the system
// may list a thread for a moment after its handle was signalled.
long SettledThreadCount(long baseline) {
  long threads = diag::CurrentResourceCounts().threads;
  for (int i = 0; i < 1000 && threads > baseline; ++i) {
    Sleep(10);
    threads = diag::CurrentResourceCounts().threads;
  }
  return threads;
}

// One port's life. Cycle i goes through a different mix: a refused first open,
// a device document, a running poller.
void Cycle(int i) {
  LPSTR port = const_cast<LPSTR>(i % 2 == 0 ? "KOVIR1:" : "kovir1:");
  HANDLE handle = nullptr;
  if (i % 10 == 3) {
    emu::InjectFault(emu::Slot::OpenPort, emu::Fault::Refuse, 1);
    ASSERT_FALSE(
        Spooler().pfnOpenPortEx(port, const_cast<LPSTR>(kPrinter), &handle, emu::DeviceMonitor()));
  }
  ASSERT_TRUE(
      Spooler().pfnOpenPortEx(port, const_cast<LPSTR>(kPrinter), &handle, emu::DeviceMonitor()));
  auto* record = static_cast<PortRecord*>(handle);
  if (i % 3 != 0) {
    ASSERT_TRUE(OpenDeviceDocument(record));
  }
  StandInPoller poller;
  if (i % 2 != 0) {
    ASSERT_TRUE(StartStandInPoller(record, poller));
  }
  ASSERT_TRUE(Spooler().pfnClosePort(record));
  ASSERT_TRUE(poller.ended || i % 2 == 0);
  emu::ClearCalls();  // keep the rig's log short
}

using PortCycles = MonitorTest;

TEST_F(PortCycles, AThousandOpenCloseCyclesLeaveNoHeapBlockHandleOrThreadBehind) {
  emu::AttachPrinter("KOVIR1:");
  const bool spoolerKnowsPrinter = diag::AddSpoolerPrinter(kPrinter);
  // One cycle first, so that whatever the platform sets up once is in the baseline.
  Cycle(1);
  const diag::ResourceCounts before = diag::CurrentResourceCounts();
  const long printerHandles = diag::OpenPrinterHandles();

  for (int i = 0; i < kCycles && !HasFatalFailure(); ++i) {
    SCOPED_TRACE(i);
    Cycle(i);
  }

  EXPECT_TRUE(ListedPorts().empty());
  const diag::ResourceCounts after = diag::CurrentResourceCounts();
  if (before.heapBlocks != diag::kUnknown) {
    EXPECT_EQ(after.heapBlocks, before.heapBlocks);
  }
  if (before.handles != diag::kUnknown) {
    EXPECT_EQ(after.handles, before.handles);
  }
  if (printerHandles != diag::kUnknown) {
    EXPECT_EQ(diag::OpenPrinterHandles(), printerHandles);
  }
  ASSERT_NE(before.threads, diag::kUnknown);
  EXPECT_EQ(SettledThreadCount(before.threads), before.threads);
  if (spoolerKnowsPrinter) diag::RemoveSpoolerPrinter(kPrinter);
}

}  // namespace
