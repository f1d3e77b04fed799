// Whole print jobs as the spooler sends them: OpenPortEx, StartDocPort, many
// WritePort calls, EndDocPort, ClosePort. Every byte of the job must reach the
// printer, in order, and nothing may be left open behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "emulator/status_app.h"
#include "status_store/status_key.h"
#include "tests/support/monitor_fixture.h"

namespace {

namespace app = emu::status_app;
using monitor_test::MonitorTest;
using monitor_test::Spooler;

constexpr std::size_t kJobBytes = 4 * 1024 * 1024 + 12345;

// A job of random bytes (every value 0-255 occurs, NULs included); the seed makes
// a failure reproducible.
std::string RandomJob(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string job(size, '\0');
  for (char& byte : job) byte = static_cast<char>(random() & 0xFF);
  return job;
}

// FNV-1a: a short, readable fingerprint for failure messages about MiB of data.
std::uint64_t Fingerprint(const std::string& bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
  return hash;
}

class WholeJob : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    printer_ = "WholeJob." + name;
    app::Uninstall(printer_);
  }
  void TearDown() override {
    MonitorTest::TearDown();
    app::Uninstall(printer_);
  }

  // Writes the job the way the spooler does: chunks of varying size, and whatever
  // the port did not take is offered again. Returns the number of WritePort calls.
  std::size_t SpoolJob(HANDLE port, const std::string& job, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<DWORD> chunkSize(1, 64 * 1024);
    std::string buffer = job;
    std::size_t calls = 0;
    int idle = 0;  // writes in a row that took nothing
    for (std::size_t at = 0; at < buffer.size();) {
      DWORD chunk = std::min<DWORD>(chunkSize(random), static_cast<DWORD>(buffer.size() - at));
      DWORD written = 0;
      ++calls;
      if (!Spooler().pfnWritePort(port, reinterpret_cast<LPBYTE>(&buffer[at]), chunk, &written)) {
        ADD_FAILURE() << "WritePort failed at byte " << at << " with " << GetLastError();
        break;
      }
      idle = written == 0 ? idle + 1 : 0;
      if (idle > 10) {
        ADD_FAILURE() << "the port stopped taking bytes at " << at;
        break;
      }
      at += written;
    }
    return calls;
  }

  std::string printer_;
};

void ExpectSameBytes(const std::string& received, const std::string& sent) {
  EXPECT_EQ(received.size(), sent.size());
  EXPECT_EQ(Fingerprint(received), Fingerprint(sent));
  if (received != sent) {
    auto mismatch = std::mismatch(received.begin(), received.end(), sent.begin(), sent.end());
    ADD_FAILURE() << "first difference at byte " << (mismatch.first - received.begin());
  }
}

TEST_F(WholeJob, MultiMebibyteJobArrivesByteExactAndInOrder) {
  const std::string job = RandomJob(kJobBytes, 1);
  HANDLE port = OpenPort("JOB1:", printer_);
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(Spooler().pfnStartDocPort(port, const_cast<LPSTR>(printer_.c_str()), 3, 1, nullptr));
  const std::size_t writes = SpoolJob(port, job, 2);
  EXPECT_TRUE(Spooler().pfnEndDocPort(port));
  EXPECT_TRUE(Spooler().pfnClosePort(port));

  ExpectSameBytes(emu::Received("JOB1:"), job);
  // Each WritePort went straight through as one device write.
  EXPECT_EQ(emu::CallsTo(emu::Slot::WritePort).size(), writes);
  EXPECT_EQ(emu::CallsTo(emu::Slot::StartDocPort).size(), 1u);
  EXPECT_EQ(emu::CallsTo(emu::Slot::EndDocPort).size(), 1u);
  EXPECT_EQ(emu::CallsTo(emu::Slot::ClosePort).size(), 1u);
  EXPECT_FALSE(emu::PortOpen("JOB1:"));
  EXPECT_TRUE(monitor_test::ListedPorts().empty());
}

// The device takes only part of some writes; the spooler offers the rest again,
// and the printer still gets every byte once.
TEST_F(WholeJob, ShortDeviceWritesAreMadeUpByTheSpoolerWithoutLossOrRepeat) {
  const std::string job = RandomJob(kJobBytes, 3);
  HANDLE port = OpenPort("JOB1:", printer_);
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(Spooler().pfnStartDocPort(port, const_cast<LPSTR>(printer_.c_str()), 4, 1, nullptr));
  emu::InjectFault(emu::Slot::WritePort, emu::Fault::ShortWrite, 5);
  SpoolJob(port, job, 4);
  EXPECT_TRUE(Spooler().pfnEndDocPort(port));
  EXPECT_TRUE(Spooler().pfnClosePort(port));

  ExpectSameBytes(emu::Received("JOB1:"), job);
}

TEST_F(WholeJob, DocumentsBackToBackOnOnePortArriveOneAfterTheOther) {
  const std::string jobs[] = {RandomJob(kJobBytes / 2, 5), RandomJob(kJobBytes / 2 + 1, 6)};
  HANDLE port = OpenPort("JOB1:", printer_);
  ASSERT_NE(port, nullptr);
  DWORD jobId = 10;
  for (const std::string& job : jobs) {
    ASSERT_TRUE(
        Spooler().pfnStartDocPort(port, const_cast<LPSTR>(printer_.c_str()), ++jobId, 1, nullptr));
    SpoolJob(port, job, jobId);
    EXPECT_TRUE(Spooler().pfnEndDocPort(port));
  }
  EXPECT_TRUE(Spooler().pfnClosePort(port));

  ExpectSameBytes(emu::Received("JOB1:"), jobs[0] + jobs[1]);
  EXPECT_EQ(emu::CallsTo(emu::Slot::StartDocPort).size(), 2u);
  EXPECT_EQ(emu::CallsTo(emu::Slot::EndDocPort).size(), 2u);
}

// The status application is installed and has registered this very printer: the
// job still arrives whole, behind whatever the monitor says to the printer at the
// start of the document, and the application sees the job come and go.
TEST_F(WholeJob, RegisteredPrinterReceivesTheWholeJobAfterAnyStatusCommand) {
  app::Install(printer_, "KP-210S", 1, 1, 3000);
  const std::string job = RandomJob(kJobBytes, 7);
  HANDLE port = OpenPort("JOB1:", printer_);
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(Spooler().pfnStartDocPort(port, const_cast<LPSTR>(printer_.c_str()), 5, 1, nullptr));
  EXPECT_EQ(app::ReadDword(printer_, VALUE_LAN_MONITOR), 1u);
  emu::ClearReceived("JOB1:");
  SpoolJob(port, job, 8);
  EXPECT_TRUE(Spooler().pfnEndDocPort(port));
  EXPECT_EQ(app::ReadDword(printer_, VALUE_LAN_MONITOR), 0u);
  EXPECT_TRUE(Spooler().pfnClosePort(port));

  ExpectSameBytes(emu::Received("JOB1:"), job);
}

}  // namespace
