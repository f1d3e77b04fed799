// What a leak would show: the Linux layer's exact counters (heap blocks, kernel
// handles, registry keys, printer handles) and, in both builds, the threads.
// Counts are taken when the probe is made, or again by Start(), and compared
// where the platform can count them.
#pragma once

#include <gtest/gtest.h>

#include "platform/diagnostics.h"
#include "tests/support/monitor_fixture.h"

namespace monitor_test {

// GoogleTest keeps each thread's SCOPED_TRACE stack in a thread-local slot, and on
// Windows the slot's first use starts a watcher thread that lives as long as the
// thread does. Used once before counting, so that a SCOPED_TRACE in the probed
// stretch is not taken for a leaked thread.
inline diag::ResourceCounts CountsAfterTraceStackReady() {
  { SCOPED_TRACE("leak probe"); }
  return diag::CurrentResourceCounts();
}

struct LeakProbe {
  diag::ResourceCounts before = CountsAfterTraceStackReady();
  long printerHandles = diag::OpenPrinterHandles();

  void Start() {
    before = CountsAfterTraceStackReady();
    printerHandles = diag::OpenPrinterHandles();
  }

  void ExpectNothingLeaked() const {
    if (before.threads != diag::kUnknown) {
      // A thread whose handle was signalled may be listed a moment longer.
      EXPECT_EQ(SettledThreadCount(before.threads), before.threads) << "threads";
    }
    const diag::ResourceCounts after = diag::CurrentResourceCounts();
    if (before.heapBlocks != diag::kUnknown) {
      EXPECT_EQ(after.heapBlocks, before.heapBlocks) << "local-heap blocks";
    }
    if (before.handles != diag::kUnknown) {
      EXPECT_EQ(after.handles, before.handles) << "handles";
    }
    if (before.openKeys != diag::kUnknown) {
      EXPECT_EQ(after.openKeys, before.openKeys) << "registry keys";
    }
    if (printerHandles != diag::kUnknown) {
      EXPECT_EQ(diag::OpenPrinterHandles(), printerHandles) << "printer handles";
    }
  }
};

}  // namespace monitor_test
