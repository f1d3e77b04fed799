// The status key as a careless or hostile application might leave it: values of
// the wrong type or size, IDMDL missing, oversized or unterminated, the key
// deleted or created in the middle of a job, and every flag changed many times a
// second while jobs print. Whatever the key holds, jobs pass byte for byte,
// nothing crashes or hangs, each reader falls back as documented in
// status_store/status_values.cpp, and the monitor writes nothing anywhere but the
// printer's own StMonitor key.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/reliability/reliability_rig.h"

namespace {

using namespace reliability;
using monitor_test::kPrintersKey;
using monitor_test::kStoreValues;
using monitor_test::StoreValuesIn;

constexpr char kPort[] = "KOVIRR:";
constexpr DWORD kQuiet = 600000;
constexpr char kModel[] = "KP-6600S";

std::string Dword(DWORD value, std::size_t size = 4) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < 4 && i < size; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

// Nothing of the monitor's in the Printers key, nor in the printer's own key
// above StMonitor.
void ExpectNothingWrittenAbove(const std::string& printer) {
  EXPECT_TRUE(StoreValuesIn(kPrintersKey).empty());
  EXPECT_TRUE(StoreValuesIn(std::string(kPrintersKey) + "\\" + printer).empty());
}

// ---------------------------------------------------------------------------
// Odd values, one at a time, met by a whole job.

constexpr DWORD kDeleted = REG_NONE;   // the value is deleted instead of written
const std::optional<DWORD> kAsStored;  // the value is left as stored

struct OddValueCase {
  const char* name;
  const char* value;
  DWORD type;                     // as stored, or kDeleted
  std::string bytes;              // as stored
  std::optional<DWORD> restored;  // written back as this REG_DWORD, or kAsStored
  bool commandSent;               // the job start still sent the status command
};

class OddValues : public monitor_test::CasesOnBothFaces<ReliabilityTest, OddValueCase> {};

TEST_P(OddValues, EachReaderFallsBackAndTheJobPrints) {
  const OddValueCase& c = Case();
  std::string printer = InstallPrinter("", kModel, kQuiet);
  if (c.type == kDeleted) {
    app::DeleteValue(printer, c.value);
  } else {
    app::SetRaw(printer, c.value, c.type, c.bytes);
  }
  PortRecord* record = OpenPort(kPort, printer, {.deviceId = DeviceIdFor(kModel)});
  ASSERT_NE(record, nullptr);

  bool started = false;
  ASSERT_TRUE(monitor_test::FinishesWithin(10000, [&] {
    started = Spool().StartDoc(record, &printer, 1) != FALSE;
  })) << "StartDocPort hung";
  EXPECT_TRUE(started);
  EXPECT_EQ(!emu::Commands(kPort).empty(), c.commandSent);
  EXPECT_EQ(HasStatusBits(record, PS_POLLER_RUN), c.commandSent);
  // The poller reads its settings on its first pass; give it that pass.
  if (c.restored && c.commandSent) {
    EXPECT_TRUE(WaitUntil([&] { return app::ReadDword(printer, c.value) == c.restored; }, 10000));
  }
  std::string page = "page\x1b@";
  DWORD written = 0;
  EXPECT_TRUE(Spool().Write(record, reinterpret_cast<LPBYTE>(page.data()),
                            static_cast<DWORD>(page.size()), &written));
  EXPECT_TRUE(Spool().EndDoc(record));
  EXPECT_EQ(emu::Received(kPort).substr(emu::Received(kPort).size() - page.size()), page);

  if (c.restored) {
    EXPECT_EQ(app::ReadDword(printer, c.value), c.restored);
  } else if (c.type == kDeleted) {
    EXPECT_FALSE(app::Describe(printer, c.value).has_value());
  } else {
    const std::optional<app::ValueInfo> info = app::Describe(printer, c.value);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->type, c.type);
    // A string may read back with a terminator the registry added.
    if (c.type == REG_SZ) {
      EXPECT_EQ(app::ReadString(printer, c.value), c.bytes);
    } else {
      EXPECT_EQ(app::ReadRaw(printer, c.value), c.bytes);
    }
  }
  EXPECT_EQ(app::ReadDword(printer, VALUE_LAN_MONITOR), 0u);
  ExpectNothingWrittenAbove(printer);
  EXPECT_TRUE(ClosePort(record));
}

const std::string kOversizedModel(600, 'K');
const std::string kUnterminatedModel = std::string(kModel) + std::string(512 - 8, 'x');

const std::string kModelWithJunk = std::string(kModel) + std::string(1, '\0') + "junk";

const OddValueCase kOddValues[] = {
    // Flags stored with more than four bytes fail the read: default written back.
    {"MonitorFlagEightBytes", VALUE_STATUS_MONITOR, REG_DWORD, Dword(1, 8), 0u, false},
    {"MonitorFlagTextWithoutTerminator", VALUE_STATUS_MONITOR, REG_SZ, "abcd", 0u, false},
    {"ThreadFlagEightBytes", VALUE_STATUS_THREAD, REG_DWORD, Dword(1, 8), 0u, true},
    {"PollFlagEightBytes", VALUE_POLL_ENABLED, REG_BINARY, Dword(0, 8), 1u, true},
    {"PollTimeSixBytes", VALUE_POLL_INTERVAL, REG_BINARY, Dword(5, 6), 3000u, true},
    {"MonitorFlagMissing", VALUE_STATUS_MONITOR, kDeleted, "", 0u, false},
    {"ThreadFlagMissing", VALUE_STATUS_THREAD, kDeleted, "", 0u, true},
    // Four bytes or fewer of any type are taken as they are, and left alone.
    {"MonitorFlagFourBinaryBytes", VALUE_STATUS_MONITOR, REG_BINARY, Dword(1), kAsStored, true},
    {"MonitorFlagNoBytes", VALUE_STATUS_MONITOR, REG_BINARY, "", kAsStored, false},
    {"ThreadFlagTwoZeroBytes", VALUE_STATUS_THREAD, REG_BINARY, Dword(0, 2), kAsStored, true},
    // IDMDL: only a model that reads whole and terminated can match.
    {"ModelMissing", VALUE_REGISTERED_MODEL, kDeleted, "", kAsStored, false},
    {"ModelOversized", VALUE_REGISTERED_MODEL, REG_SZ, kOversizedModel, kAsStored, false},
    {"ModelFillsBufferUnterminated", VALUE_REGISTERED_MODEL, REG_BINARY, kUnterminatedModel,
     kAsStored, false},
    {"ModelWithoutTerminator", VALUE_REGISTERED_MODEL, REG_BINARY, kModel, kAsStored, true},
    {"ModelWithEmbeddedNul", VALUE_REGISTERED_MODEL, REG_BINARY, kModelWithJunk, kAsStored, true},
    {"ModelAsDword", VALUE_REGISTERED_MODEL, REG_DWORD, Dword(1), kAsStored, false},
};

KOVIRLM_CASES_ON_BOTH_FACES(Chaos, OddValues, testing::ValuesIn(kOddValues),
                            [](const auto& param) { return std::string(param.name); });

// ---------------------------------------------------------------------------
// The key going and coming while a job runs.

class KeyLifetimeFixture : public ReliabilityTest {};
using KeyLifetime = monitor_test::BothFaces<KeyLifetimeFixture>;
KOVIRLM_BOTH_FACES(KeyLifetime);

TEST_P(KeyLifetime, KeyDeletedMidJobIsNeverRecreatedAndPublishingResumesWhenItReturns) {
  std::string printer = InstallPrinter("", kModel, 100);
  PortRecord* record =
      OpenPort(kPort, printer, {.deviceId = DeviceIdFor(kModel), .statusUpdateEveryMs = 20});
  ASSERT_NE(record, nullptr);
  ASSERT_TRUE(Spool().StartDoc(record, &printer, 1));
  ASSERT_TRUE(HasStatusBits(record, PS_POLLER_RUN));
  ASSERT_TRUE(WaitUntil([&] { return app::PublishedStatus(printer).has_value(); }));

  app::Uninstall(printer);
  const std::size_t reads = emu::CallsTo(emu::Slot::ReadPort).size();
  // The poller goes on with the settings it had and publishes nowhere.
  ASSERT_TRUE(WaitUntil([&] { return emu::CallsTo(emu::Slot::ReadPort).size() >= reads + 3; }));
  EXPECT_FALSE(app::KeyExists(printer));

  app::Install(printer, kModel, 1, 1, 100);
  EXPECT_TRUE(WaitUntil([&] { return app::PublishedStatus(printer).has_value(); }));

  app::Uninstall(printer);
  EXPECT_TRUE(Spool().EndDoc(record));
  EXPECT_EQ(record->pollerThread, nullptr);
  EXPECT_FALSE(app::KeyExists(printer));  // LanMonExistFlag found no key to go to
  ExpectNothingWrittenAbove(printer);

  app::Install(printer, kModel, 1, 1, kQuiet);
  ExpectJobWorks(record, kPort, printer, true);
}

TEST_P(KeyLifetime, KeyCreatedMidJobGetsOnlyTheEndOfTheJob) {
  const std::string printer = printer_;  // no key when the job starts: forgotten at set-up
  PortRecord* record = OpenPort(kPort, printer, {.deviceId = DeviceIdFor(kModel)});
  ASSERT_NE(record, nullptr);
  std::string name = printer;
  ASSERT_TRUE(Spool().StartDoc(record, &name, 1));
  EXPECT_FALSE(HasStatusBits(record, PS_PRINTER_MATCHED | PS_POLLER_RUN));
  EXPECT_FALSE(app::KeyExists(printer));

  app::Install(printer, kModel, 1, 1, kQuiet);
  EXPECT_TRUE(Spool().EndDoc(record));

  // Of the monitor's values only the one EndDocPort writes was added.
  const std::vector<std::string> values = StoreValuesIn(app::KeyPath(printer));
  const std::set<std::string> found(values.begin(), values.end());
  const std::set<std::string> expected = {VALUE_POLL_ENABLED,   VALUE_POLL_INTERVAL,
                                          VALUE_STATUS_MONITOR, VALUE_STATUS_THREAD,
                                          VALUE_LAN_MONITOR,    VALUE_REGISTERED_MODEL};
  EXPECT_EQ(found, expected);
  EXPECT_EQ(app::ReadDword(printer, VALUE_LAN_MONITOR), 0u);
  ExpectNothingWrittenAbove(printer);
  ExpectJobWorks(record, kPort, printer, true);
}

// ---------------------------------------------------------------------------
// Every flag changed many times a second, values deleted, mangled and the key
// itself deleted and recreated, while a spooler thread prints job after job.

struct Chaos {
  std::string printer;
  std::atomic<bool> stop{false};
  std::atomic<long> changes{0};
};

DWORD WINAPI StirTheKey(LPVOID parameter) {
  auto* chaos = static_cast<Chaos*>(parameter);
  Random random(0xC4A05);
  const std::string& p = chaos->printer;
  while (!chaos->stop.load()) {
    switch (random.Below(14)) {
      case 0:
      case 1:
        app::SetDword(p, VALUE_POLL_ENABLED, random.Below(2));
        break;
      case 2:
      case 3: {
        const DWORD intervals[] = {0, 1, 20, 100, 0xFFFFFFFFu};
        app::SetDword(p, VALUE_POLL_INTERVAL, intervals[random.Below(5)]);
        break;
      }
      case 4: {
        const DWORD flags[] = {0, 1, 16, 17};
        app::SetDword(p, VALUE_STATUS_MONITOR, flags[random.Below(4)]);
        break;
      }
      case 5:
        // A short burst of the application's own real-time thread.
        app::SetRealThreadExists(p, true);
        Sleep(1);
        app::SetRealThreadExists(p, false);
        break;
      case 6:
        app::SetString(p, VALUE_REGISTERED_MODEL, random.Below(2) ? kModel : "KP-210S");
        break;
      case 7:
        app::SetRaw(p, VALUE_REGISTERED_MODEL, REG_BINARY, kUnterminatedModel);
        break;
      case 8:
        app::DeleteValue(p, kStoreValues[random.Below(7)]);
        break;
      case 9:
        app::SetRaw(p, kStoreValues[random.Below(4)], REG_BINARY, Dword(1, 8));
        break;
      case 10:
        app::SetRaw(p, VALUE_STATUS_STRING, REG_BINARY, std::string(3000, '\0'));
        break;
      case 11:
        app::Uninstall(p);
        break;
      case 12:
        app::Install(p, kModel, 1, 1, 20);
        break;
      default:
        app::SetDword(p, VALUE_STATUS_MONITOR, 1);
        app::SetString(p, VALUE_REGISTERED_MODEL, kModel);
        break;
    }
    ++chaos->changes;
    Sleep(1);
  }
  return 0;
}

TEST_P(KeyLifetime, FlagsStirredManyTimesASecondNeverCostAByteOrTouchAnotherKey) {
  std::string printer = InstallPrinter("", kModel, 20);
  // A bystander: registered, never printed to. Its values must stay as they are.
  const std::string bystander = InstallPrinter(" bystander", "KP-210S", 3000);
  PortRecord* record =
      OpenPort(kPort, printer, {.deviceId = DeviceIdFor(kModel), .statusUpdateEveryMs = 5});
  ASSERT_NE(record, nullptr);

  Chaos chaos;
  chaos.printer = printer;
  HANDLE stirrer = monitor_test::StartThread(StirTheKey, &chaos);
  ASSERT_NE(stirrer, nullptr);

  Random random(42);
  // At least this many jobs and this long a storm, whichever takes longer.
  const int minJobs = Scaled(12, 300);
  const long long minMs = Scaled(1500, 60000);
  const auto start = std::chrono::steady_clock::now();
  int jobs = 0;
  int matchedJobs = 0;
  for (int job = 0; (job < minJobs || MsSince(start) < minMs) && !HasFailure(); ++job) {
    jobs = job + 1;
    SCOPED_TRACE(job);
    emu::ClearReceived(kPort);
    bool started = false;
    ASSERT_TRUE(monitor_test::FinishesWithin(
        20000, [&] { started = Spool().StartDoc(record, &printer, job) != FALSE; }));
    ASSERT_TRUE(started);
    if (HasStatusBits(record, PS_POLLER_RUN)) ++matchedJobs;
    const std::string bytes = random.Bytes(1000 + random.Below(20000));
    std::size_t at = 0;
    while (at < bytes.size()) {
      const std::size_t size = std::min<std::size_t>(bytes.size() - at, 1 + random.Below(4096));
      std::string piece = bytes.substr(at, size);
      DWORD written = 0;
      ASSERT_TRUE(Spool().Write(record, reinterpret_cast<LPBYTE>(piece.data()),
                                static_cast<DWORD>(size), &written));
      ASSERT_EQ(written, size);
      at += size;
      if (random.Below(4) == 0) Sleep(1);
    }
    ASSERT_TRUE(monitor_test::FinishesWithin(20000, [&] { Spool().EndDoc(record); }));
    ASSERT_EQ(record->pollerThread, nullptr);
    std::string commands;
    for (const std::string& command : emu::Commands(kPort)) commands += command;
    EXPECT_EQ(emu::Received(kPort), commands + bytes);
  }
  chaos.stop = true;
  EXPECT_EQ(WaitForSingleObject(stirrer, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(stirrer);
  Figure("registry chaos", std::to_string(jobs) + " jobs, " + std::to_string(matchedJobs) +
                               " matched, " + std::to_string(chaos.changes.load()) +
                               " key changes");

  // The bystander's key is exactly as installed.
  EXPECT_EQ(app::ReadDword(bystander, VALUE_STATUS_MONITOR), 1u);
  EXPECT_EQ(app::ReadDword(bystander, VALUE_POLL_INTERVAL), 3000u);
  EXPECT_EQ(app::ReadString(bystander, VALUE_REGISTERED_MODEL), "KP-210S");
  for (const char* value : {VALUE_LAN_MONITOR, VALUE_STATUS_STRING, VALUE_INK_LEVEL}) {
    EXPECT_FALSE(app::Describe(bystander, value).has_value()) << value;
  }
  ExpectNothingWrittenAbove(printer);
  ExpectNothingWrittenAbove(bystander);

  // Calm again: the next job is an ordinary one.
  app::Install(printer, kModel, 1, 1, kQuiet);
  ExpectJobWorks(record, kPort, printer, true);
}

}  // namespace
