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

constexpr std::size_t kJobBytes = 4 * 1024 * 1024 + 12345;

// A job of random bytes (every value 0-255 occurs, NULs included); the seed makes
// a failure reproducible.
std::string RandomJob(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string job(size, '\0');
  for (char& byte : job) byte = static_cast<char>(random() & 0xFF);
  return job;
}

// Writes the job the way the spooler does: chunks of varying size, and whatever
// the port did not take is offered again. Returns the number of WritePort calls.
std::size_t SpoolJob(const monitor_test::SpoolerFace& spooler, HANDLE port, std::string job,
                     std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<DWORD> chunkSize(1, 64 * 1024);
  std::size_t calls = 0;
  int idle = 0;  // writes in a row that took nothing
  for (std::size_t at = 0; at < job.size();) {
    DWORD chunk = std::min<DWORD>(chunkSize(random), static_cast<DWORD>(job.size() - at));
    DWORD written = 0;
    ++calls;
    if (!spooler.Write(port, reinterpret_cast<LPBYTE>(&job[at]), chunk, &written)) {
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

// The digest makes a short, readable failure message about MiB of data.
void ExpectSameBytes(const std::string& received, const std::string& sent) {
  EXPECT_EQ(received.size(), sent.size());
  EXPECT_EQ(emu::Digest(emu::kDigestStart, received.data(), received.size()),
            emu::Digest(emu::kDigestStart, sent.data(), sent.size()));
  if (received != sent) {
    auto mismatch = std::mismatch(received.begin(), received.end(), sent.begin(), sent.end());
    ADD_FAILURE() << "first difference at byte " << (mismatch.first - received.begin());
  }
}

// `record_` is port JOB1: for a printer of the test's own, whose status
// application key no earlier run left.
class WholeJobFixture : public monitor_test::PrinterTest {
 protected:
  WholeJobFixture() : PrinterTest("WholeJob.") {}
  void SetUp() override {
    PrinterTest::SetUp();
    app::Uninstall(printer_);
    record_ = OpenPort("JOB1:", printer_);
    ASSERT_NE(record_, nullptr);
  }
};

using WholeJob = monitor_test::BothFaces<WholeJobFixture>;
KOVIRLM_BOTH_FACES(WholeJob);

TEST_P(WholeJob, MultiMebibyteJobArrivesByteExactAndInOrder) {
  const std::string job = RandomJob(kJobBytes, 1);
  ASSERT_TRUE(StartDoc(record_, printer_, 3));
  const std::size_t writes = SpoolJob(Spool(), record_, job, 2);
  EXPECT_TRUE(EndDoc(record_));
  EXPECT_TRUE(ClosePort(record_));

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
TEST_P(WholeJob, ShortDeviceWritesAreMadeUpByTheSpoolerWithoutLossOrRepeat) {
  const std::string job = RandomJob(kJobBytes, 3);
  ASSERT_TRUE(StartDoc(record_, printer_, 4));
  emu::InjectFault(emu::Slot::WritePort, emu::Fault::ShortWrite, 5);
  SpoolJob(Spool(), record_, job, 4);
  EXPECT_TRUE(EndDoc(record_));
  EXPECT_TRUE(ClosePort(record_));

  ExpectSameBytes(emu::Received("JOB1:"), job);
}

TEST_P(WholeJob, DocumentsBackToBackOnOnePortArriveOneAfterTheOther) {
  const std::string jobs[] = {RandomJob(kJobBytes / 2, 5), RandomJob(kJobBytes / 2 + 1, 6)};
  DWORD jobId = 10;
  for (const std::string& job : jobs) {
    ASSERT_TRUE(StartDoc(record_, printer_, ++jobId));
    SpoolJob(Spool(), record_, job, jobId);
    EXPECT_TRUE(EndDoc(record_));
  }
  EXPECT_TRUE(ClosePort(record_));

  ExpectSameBytes(emu::Received("JOB1:"), jobs[0] + jobs[1]);
  EXPECT_EQ(emu::CallsTo(emu::Slot::StartDocPort).size(), 2u);
  EXPECT_EQ(emu::CallsTo(emu::Slot::EndDocPort).size(), 2u);
}

// The status application is installed and has registered this very printer: the
// job still arrives whole, behind whatever the monitor says to the printer at the
// start of the document, and the application sees the job come and go.
TEST_P(WholeJob, RegisteredPrinterReceivesTheWholeJobAfterAnyStatusCommand) {
  app::Install(printer_, "KP-210S", 1, 1, 3000);
  const std::string job = RandomJob(kJobBytes, 7);
  ASSERT_TRUE(StartDoc(record_, printer_, 5));
  EXPECT_EQ(app::ReadDword(printer_, VALUE_LAN_MONITOR), 1u);
  emu::ClearReceived("JOB1:");
  SpoolJob(Spool(), record_, job, 8);
  EXPECT_TRUE(EndDoc(record_));
  EXPECT_EQ(app::ReadDword(printer_, VALUE_LAN_MONITOR), 0u);
  EXPECT_TRUE(ClosePort(record_));

  ExpectSameBytes(emu::Received("JOB1:"), job);
}

}  // namespace
