// The stop handshake, exercised hundreds of times (thousands under KOVIRLM_SOAK):
// a poller at work on the back channel, and EndDocPort or ClosePort arriving at a
// random moment of its poll: in the middle of a read, in the pause between two
// reads, or in the wait between polls. Every stop returns, the poller is gone
// before the device hears of the end of the document, no read reaches the device
// after that, and nothing is left behind. Under ASan a poller that outlived its
// record is a use after free; under TSan any unsynchronised access is a report.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/reliability/reliability_rig.h"

namespace {

using namespace reliability;

constexpr char kPort[] = "KOVIRS:";

class StopHandshakeFixture : public ReliabilityTest {};
using StopHandshake = monitor_test::BothFaces<StopHandshakeFixture>;
KOVIRLM_BOTH_FACES(StopHandshake);

TEST_P(StopHandshake, EndDocPortAndClosePortRacingAPollLeaveNoPollerAndNoLateRead) {
  const int iterations = Scaled(300, 6000);
  std::string printer = InstallPrinter("", "KP-6600S", 0);
  emu::PrinterOptions options{.deviceId = DeviceIdFor("KP-6600S")};
  const LeakProbe leaks;
  PortRecord* record = OpenPort(kPort, printer, options);
  ASSERT_NE(record, nullptr);

  Random random(0x570b);
  int midPoll = 0, closes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < iterations && !HasFailure(); ++i) {
    SCOPED_TRACE(i);
    // A talkative printer keeps the poller reading; a silent one keeps it in the
    // 500 ms pauses between reads. Interval 0 polls again at once.
    const std::uint32_t shape = random.Below(6);
    options.statusUpdateEveryMs = shape < 3 ? 1 : 0;
    emu::SetPrinterOptions(kPort, options);
    app::SetDword(printer, VALUE_POLL_INTERVAL, shape == 5 ? 2 : 0);
    emu::ClearCalls();

    ASSERT_TRUE(Spool().StartDoc(record, &printer, i));
    ASSERT_TRUE(HasStatusBits(record, PS_POLLER_RUN));
    switch (random.Below(4)) {
      case 0:
        break;  // at once, most likely before the first poll
      case 1:
        Sleep(random.Below(3));
        break;
      default: {
        // Until the poller has read once or twice: it is inside a poll now.
        const std::size_t reads = 1 + random.Below(2);
        ASSERT_TRUE(WaitUntil([&] { return emu::CallsTo(emu::Slot::ReadPort).size() >= reads; }));
        ++midPoll;
        break;
      }
    }
    const bool close = random.Below(3) == 0;
    const auto stop = std::chrono::steady_clock::now();
    if (close) {
      ASSERT_TRUE(Spool().Close(record));
      ++closes;
    } else {
      ASSERT_TRUE(Spool().EndDoc(record));
      ASSERT_EQ(record->pollerThread, nullptr);
      ASSERT_FALSE(HasStatusBits(record, PS_POLLER_RUN));
    }
    // A stop ends a pause at once (a pause slept out takes 500 ms); only a read in
    // progress is waited for.
    EXPECT_LT(MsSince(stop), 400);

    const std::vector<emu::Call> calls = emu::Calls();
    const std::size_t endDoc = FirstFrom(calls, emu::Slot::EndDocPort);
    ASSERT_LT(endDoc, calls.size());
    EXPECT_EQ(FirstFrom(calls, emu::Slot::ReadPort, endDoc), calls.size())
        << "a read reached the device after the end of the document";
    if (close) {
      EXPECT_TRUE(monitor_test::ListedPorts().empty());
      EXPECT_EQ(calls.back().slot, emu::Slot::ClosePort);
      record = OpenPort(kPort, printer, options);
      ASSERT_NE(record, nullptr);
    }
  }
  const long long ms = MsSince(start);
  Figure("stop handshake", std::to_string(iterations) + " stops (" + std::to_string(closes) +
                               " by ClosePort, " + std::to_string(midPoll) + " inside a poll) in " +
                               std::to_string(ms) + " ms");
  EXPECT_TRUE(Spool().Close(record));
  EXPECT_TRUE(monitor_test::ListedPorts().empty());
  leaks.ExpectNothingLeaked();
}

}  // namespace
