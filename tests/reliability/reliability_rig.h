// Helpers of the reliability suites: scaled counts, a random byte source, waits,
// a leak probe, and a fixture that gives every test printers of its own
// (registered with the status application stand-in) and runs whole jobs.
//
// Quick and soak forms are the same tests. KOVIRLM_SOAK=1 in the environment
// scales their counts up (scripts/soak sets it); without it they run in the test
// command within seconds.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "emulator/device_monitor.h"
#include "emulator/status_app.h"
#include "platform/diagnostics.h"
#include "port/port_record.h"
#include "status_store/status_key.h"
#include "tests/support/leak_probe.h"
#include "tests/support/monitor_fixture.h"
#include "tests/support/printer_text.h"
#include "tests/support/store_values.h"

namespace reliability {

namespace app = emu::status_app;

inline bool Soak() {
  const char* soak = std::getenv("KOVIRLM_SOAK");
  return soak != nullptr && soak[0] != '\0' && soak[0] != '0';
}

template <typename T>
T Scaled(T quick, T soak) {
  return Soak() ? soak : quick;
}

// Figures for scripts/soak to collect: one line per figure, easy to grep.
// A test run through both faces names its face ("soak cycles (Nt)").
inline void Figure(const std::string& name, const std::string& value) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string testName = test != nullptr ? test->name() : "";
  const std::size_t slash = testName.rfind('/');
  const std::string face =
      slash == std::string::npos ? "" : " (" + testName.substr(slash + 1) + ")";
  std::printf("[figure] %s%s: %s\n", name.c_str(), face.c_str(), value.c_str());
  std::fflush(stdout);
}

// splitmix64: a deterministic byte source, so a failing job can be rerun as it was.
struct Random {
  std::uint64_t state;
  explicit Random(std::uint64_t seed) : state(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  std::uint32_t Below(std::uint32_t bound) { return static_cast<std::uint32_t>(Next() % bound); }
  void Fill(char* out, std::size_t count) {
    for (std::size_t i = 0; i < count; i += 8) {
      const std::uint64_t word = Next();
      const std::size_t n = count - i < 8 ? count - i : 8;
      for (std::size_t b = 0; b < n; ++b) out[i + b] = static_cast<char>(word >> (8 * b));
    }
  }
  std::string Bytes(std::size_t count) {
    std::string bytes(count, '\0');
    Fill(bytes.data(), count);
    return bytes;
  }
};

using monitor_test::Bytes;
using monitor_test::DeviceIdFor;
using monitor_test::LanFlag;
using monitor_test::LeakProbe;
using monitor_test::WaitUntil;

// Index of the first call to `slot` at or after `from`, or the log's size.
inline std::size_t FirstFrom(const std::vector<emu::Call>& calls, emu::Slot slot,
                             std::size_t from = 0) {
  for (std::size_t i = from; i < calls.size(); ++i) {
    if (calls[i].slot == slot) return i;
  }
  return calls.size();
}

inline long long MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

// Whatever is set up on first use and then kept for good is set up here, once per
// process, so that it is in every leak baseline: one whole port cycle with a job
// on a scratch port through each face, and a trace scope (GoogleTest's Windows build watches each
// thread that first uses one with a thread of its own, for the thread's life).
inline void WarmUpOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  { SCOPED_TRACE("warm-up"); }
  emu::AttachPrinter("WARMUP:");
  const std::string printer = "Warm-up printer";
  for (const monitor_test::Face face : {monitor_test::Face::Win95, monitor_test::Face::Nt}) {
    const monitor_test::SpoolerFace spool{face};
    HANDLE handle = nullptr;
    if (spool.OpenPort("WARMUP:", &printer, &handle)) {
      spool.StartDoc(handle, &printer, 1);
      spool.EndDoc(handle);
      spool.Close(handle);
    }
  }
  emu::DetachPrinter("WARMUP:");
  emu::ClearCalls();  // a test's call log starts with its own calls
}

// Every printer of a test is named after it and cleaned up whatever the test did:
// ports closed, faults cleared, keys deleted (also those of printers a test only
// named).
class ReliabilityTest : public monitor_test::PrinterTest {
 protected:
  ReliabilityTest() : PrinterTest("Rel ") {}

  void SetUp() override {
    PrinterTest::SetUp();
    WarmUpOnce();
  }

  void TearDown() override {
    emu::ClearFaults();
    PrinterTest::TearDown();
  }

  // A printer of this test's own, registered with the stand-in application.
  std::string InstallPrinter(const std::string& suffix, const std::string& model,
                             DWORD pollIntervalMs, DWORD presentFlag = 1) {
    const std::string printer = NamePrinter(suffix);
    app::Install(printer, model, presentFlag, 1, pollIntervalMs);
    return printer;
  }

  // One whole job on an open port: StartDocPort, the bytes in `pieces` writes,
  // EndDocPort. Checks every result and that the printer received the job start's
  // commands followed by exactly the job's bytes. `matched`: the job start must
  // also have sent a status command and started the poller.
  void ExpectJobWorks(PortRecord* record, const std::string& port, std::string printer,
                      bool matched, const std::string& bytes = "a job's bytes\x1b\x00\xff",
                      int pieces = 3) {
    emu::ClearReceived(port);
    // The status key is the one of the printer the document names.
    const std::string keyPrinter = printer;
    ASSERT_TRUE(Spool().StartDoc(record, &printer, 77)) << "error " << GetLastError();
    EXPECT_EQ(HasStatusBits(record, PS_POLLER_RUN), matched);
    const std::vector<std::string> commands = emu::Commands(port);
    EXPECT_EQ(commands.empty(), !matched);
    std::string expected;
    for (const std::string& command : commands) expected += command;
    EXPECT_EQ(emu::Received(port), expected);

    std::size_t at = 0;
    for (int i = 0; i < pieces; ++i) {
      const std::size_t size = i + 1 == pieces ? bytes.size() - at : bytes.size() / pieces;
      DWORD written = 0;
      std::string piece = bytes.substr(at, size);
      EXPECT_TRUE(Spool().Write(record, reinterpret_cast<LPBYTE>(piece.data()),
                                static_cast<DWORD>(size), &written));
      EXPECT_EQ(written, size);
      at += size;
    }
    EXPECT_TRUE(Spool().EndDoc(record));
    EXPECT_FALSE(HasStatusBits(record, PS_POLLER_RUN | PS_JOB_ACTIVE | PS_DEVICE_DOC_OPEN));
    EXPECT_EQ(record->pollerThread, nullptr);
    EXPECT_EQ(emu::Received(port), expected + bytes);
    EXPECT_FALSE(emu::DocumentOpen(port));
    if (app::KeyExists(keyPrinter)) {
      EXPECT_EQ(app::ReadDword(keyPrinter, VALUE_LAN_MONITOR).value_or(99), 0u);
    }
  }
};

}  // namespace reliability
