// The fault matrix: every device-monitor slot the monitor calls, failing in each
// way it can, at each step where the monitor calls it. A case checks what the
// spooler sees at that step (results, error codes, bytes on the wire, the poller,
// the published values), then runs the next job on the same port in full, closes
// the port and finds nothing left behind: no heap block, handle, key or printer
// handle (Linux layer) and no thread (both builds).
//
// Faults are the emulated device monitor's: Refuse (FALSE, ERROR_ACCESS_DENIED),
// ShortWrite (half the bytes), EmptyRead (TRUE, no bytes), ReadError (FALSE, no
// bytes), OverReport (a full buffer, and twice its size claimed), once, twice or
// always, optionally after the first calls of the slot passed, so that a fault
// can hit, say, the ink query rather than the status command before it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "emulator/printer_replies.h"
#include "port/back_channel.h"
#include "printer_status/remote_commands.h"
#include "tests/reliability/reliability_rig.h"

namespace {

using namespace reliability;
using emu::Fault;
using emu::kAlways;
using emu::Slot;

constexpr char kPort[] = "KOVIRF:";
constexpr DWORD kQuiet = 600000;  // poll interval that keeps the poller from reading
constexpr DWORD kBrisk = 100;     // poll interval for the cases on the poller's reads

std::string Name(Fault fault) {
  const char* const names[] = {"None",      "Refuse",    "ShortWrite",
                               "EmptyRead", "ReadError", "OverReport"};
  return names[static_cast<int>(fault)];
}

std::string Times(int times) {
  return times == kAlways ? "Always" : times == 1 ? "Once" : "Twice";
}

// The rows of every table name their fault the same way.
struct FaultCase {
  Fault fault;
  int times;
  int after = 0;  // calls of the slot that pass before the fault bites
};

std::string Label(const FaultCase& f, const char* where) {
  return std::string(where) + Name(f.fault) + Times(f.times);
}

// The device turns a call down once, twice or always.
const FaultCase kRefusals[] = {{Fault::Refuse, 1}, {Fault::Refuse, 2}, {Fault::Refuse, kAlways}};

class FaultMatrix : public ReliabilityTest {
 protected:
  void TearDown() override {
    emu::SetDeviceDataSupported(true);
    ReliabilityTest::TearDown();
    for (const std::string& printer : spooler_) diag::RemoveSpoolerPrinter(printer.c_str());
  }

  // A printer of `model` on kPort, registered with the application; the leak
  // probe starts before the port is first opened.
  void Prepare(const std::string& model, DWORD interval, emu::PrinterOptions options = {}) {
    InstallPrinter("", model, interval);
    options.deviceId =
        options.deviceId == emu::PrinterOptions{}.deviceId ? DeviceIdFor(model) : options.deviceId;
    emu::AttachPrinter(kPort, options);
    if (diag::AddSpoolerPrinter(printer_.c_str())) spooler_.push_back(printer_);
    leaks_.Start();
  }

  // OpenPortEx as the spooler calls it, on the printer as it is now.
  BOOL Open(PortRecord*& record) {
    HANDLE handle = nullptr;
    const BOOL opened = Spool().OpenPort(kPort, &printer_, &handle);
    record = opened ? static_cast<PortRecord*>(handle) : nullptr;
    return opened;
  }

  PortRecord* OpenOrFail() {
    PortRecord* record = nullptr;
    EXPECT_TRUE(Open(record)) << "error " << GetLastError();
    return record;
  }

  // Prepare, then the port opened (null, with a failure, if it would not open).
  PortRecord* PrepareOpen(const std::string& model, DWORD interval,
                          const emu::PrinterOptions& options = {}) {
    Prepare(model, interval, options);
    return OpenOrFail();
  }

  // The end of every case: faults gone, the next job on the same port works, the
  // port closes, and nothing is left behind.
  void ExpectRecovery(PortRecord* record, bool matched = true) {
    emu::ClearFaults();
    if (record == nullptr) record = OpenOrFail();
    ASSERT_NE(record, nullptr);
    ExpectJobWorks(record, kPort, printer_, matched);
    EXPECT_TRUE(Spool().Close(record));
    EXPECT_TRUE(monitor_test::ListedPorts().empty());
    EXPECT_FALSE(emu::PortOpen(kPort));
    leaks_.ExpectNothingLeaked();
  }

  std::optional<std::string> Ink() const { return app::PublishedInkLevel(printer_); }

  LeakProbe leaks_;
  std::vector<std::string> spooler_;
};

// ---------------------------------------------------------------------------
// pfnOpenPort, called by OpenPortEx.

class OpenPortFaults : public monitor_test::CasesOnBothFaces<FaultMatrix, FaultCase> {};

TEST_P(OpenPortFaults, RefusedOpenListsNothingAndTheNextOpenWorks) {
  const FaultCase& f = Case();
  Prepare("KP-6600S", kQuiet);
  emu::InjectFault(Slot::OpenPort, f.fault, f.times);
  const int refusals = f.times == kAlways ? 3 : f.times;

  for (int i = 0; i < refusals; ++i) {
    SCOPED_TRACE(i);
    PortRecord* record = nullptr;
    SetLastError(0);
    EXPECT_FALSE(Open(record));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));  // the device's reason
    EXPECT_TRUE(monitor_test::ListedPorts().empty());
    EXPECT_FALSE(emu::PortOpen(kPort));
  }
  ExpectRecovery(nullptr);
}

KOVIRLM_CASES_ON_BOTH_FACES(Faults, OpenPortFaults, testing::ValuesIn(kRefusals),
                            [](const auto& param) { return Label(param, "OpenPort"); });

// ---------------------------------------------------------------------------
// pfnStartDocPort, called by StartDocPort (and once more after a 500 ms pause).

class StartDocFaults : public monitor_test::CasesOnBothFaces<FaultMatrix, FaultCase> {};

TEST_P(StartDocFaults, OneRefusalIsRetriedTwoFailTheDocumentCleanly) {
  const FaultCase& f = Case();
  PortRecord* record = PrepareOpen("KP-6600S", kQuiet);
  ASSERT_NE(record, nullptr);
  emu::InjectFault(Slot::StartDocPort, f.fault, f.times);

  const auto start = std::chrono::steady_clock::now();
  SetLastError(0);
  const BOOL started = StartDoc(record, printer_, 9);
  const DWORD error = GetLastError();

  EXPECT_GE(MsSince(start), 450);  // the one pause before the retry
  EXPECT_EQ(emu::CallsTo(Slot::StartDocPort).size(), 2u);
  if (f.times == 1) {
    EXPECT_TRUE(started);
    EXPECT_TRUE(HasStatusBits(record, PS_DEVICE_DOC_OPEN | PS_POLLER_RUN));
    EXPECT_EQ(LanFlag(printer_), 1u);
    EXPECT_TRUE(Spool().EndDoc(record));
  } else {
    EXPECT_FALSE(started);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(HasStatusBits(record, PS_JOB_ACTIVE));
    EXPECT_FALSE(HasStatusBits(record, PS_DEVICE_DOC_OPEN));
    EXPECT_EQ(LanFlag(printer_), 0u);
    EXPECT_TRUE(emu::Commands(kPort).empty());
    EXPECT_FALSE(emu::DocumentOpen(kPort));
  }
  ExpectRecovery(record);
}

KOVIRLM_CASES_ON_BOTH_FACES(Faults, StartDocFaults, testing::ValuesIn(kRefusals),
                            [](const auto& param) { return Label(param, "StartDoc"); });

// ---------------------------------------------------------------------------
// pfnWritePort, called by SendPrinterCommand at the job start: the status command
// (first write) and the ink query (second write) of a KP-210S.

enum class Wire { Nothing, HalfStatus, Status, StatusHalfInk };

struct CommandWriteCase {
  FaultCase f;
  Wire wire;  // what the printer received by the end of StartDocPort
};

class CommandWriteFaults : public monitor_test::CasesOnBothFaces<FaultMatrix, CommandWriteCase> {};

TEST_P(CommandWriteFaults, AnIncompleteCommandStartsNothingThatDependsOnIt) {
  const CommandWriteCase& c = Case();
  PortRecord* record = PrepareOpen("KP-210S", kQuiet);
  ASSERT_NE(record, nullptr);
  emu::InjectFault(Slot::WritePort, c.f.fault, c.f.times, c.f.after);

  EXPECT_TRUE(StartDoc(record, printer_, 9));

  const std::string status = Bytes(StatusCommandA);
  const std::string ink = Bytes(InkQueryCommand);
  const bool statusWritten = c.wire == Wire::Status || c.wire == Wire::StatusHalfInk;
  std::string expected;
  if (c.wire == Wire::HalfStatus) expected = status.substr(0, status.size() / 2);
  if (statusWritten) expected = status;
  if (c.wire == Wire::StatusHalfInk) expected += ink.substr(0, ink.size() / 2);
  EXPECT_EQ(emu::Received(kPort), expected);
  // The poller runs only after the whole status command went out; the ink query
  // never leaves the monitor whole here, so no ink level is published.
  EXPECT_EQ(HasStatusBits(record, PS_POLLER_RUN), statusWritten);
  EXPECT_TRUE(HasStatusBits(record, PS_PRINTER_MATCHED));
  EXPECT_FALSE(Ink().has_value());
  // Polling is paused only during an ink query, and put back.
  EXPECT_EQ(app::ReadDword(printer_, VALUE_POLL_ENABLED), 1u);
  EXPECT_TRUE(Spool().EndDoc(record));
  ExpectRecovery(record);
}

KOVIRLM_CASES_ON_BOTH_FACES(
    Faults, CommandWriteFaults,
    testing::Values(CommandWriteCase{{Fault::Refuse, 1, 0}, Wire::Nothing},
                    CommandWriteCase{{Fault::Refuse, kAlways, 0}, Wire::Nothing},
                    CommandWriteCase{{Fault::ShortWrite, 1, 0}, Wire::HalfStatus},
                    CommandWriteCase{{Fault::Refuse, 1, 1}, Wire::Status},
                    CommandWriteCase{{Fault::ShortWrite, 1, 1}, Wire::StatusHalfInk}),
    [](const auto& param) {
      return Label(param.f, param.f.after == 0 ? "StatusCommand" : "InkQuery");
    });

// ---------------------------------------------------------------------------
// pfnReadPort, called through ReadPrinterReply at the job start: the status reply
// (first read) and the ink reply (second read) of a KP-210S. A faulted read does
// not reach the printer, so the reply waits for the next try.

struct ReplyReadCase {
  FaultCase f;
  bool inkQuerySent;
  bool inkStored;
};

class ReplyReadFaults : public monitor_test::CasesOnBothFaces<FaultMatrix, ReplyReadCase> {};

TEST_P(ReplyReadFaults, AFailedReadIsRetriedAndTenGiveUpWithPollingRestored) {
  const ReplyReadCase& c = Case();
  PortRecord* record = PrepareOpen("KP-210S", kQuiet);
  ASSERT_NE(record, nullptr);
  emu::InjectFault(Slot::ReadPort, c.f.fault, c.f.times, c.f.after);

  EXPECT_TRUE(StartDoc(record, printer_, 9));

  std::vector<std::string> expected = {Bytes(StatusCommandA)};
  if (c.inkQuerySent) expected.push_back(Bytes(InkQueryCommand));
  EXPECT_EQ(emu::Commands(kPort), expected);
  EXPECT_TRUE(HasStatusBits(record, PS_POLLER_RUN));
  EXPECT_EQ(Ink().has_value(), c.inkStored);
  if (c.inkStored) {
    EXPECT_EQ(*Ink(), "IQ:" + emu::MakeInkData(emu::DefaultInkLevels()));
  }
  EXPECT_EQ(app::ReadDword(printer_, VALUE_POLL_ENABLED), 1u);
  EXPECT_TRUE(Spool().EndDoc(record));
  ExpectRecovery(record);
}

KOVIRLM_CASES_ON_BOTH_FACES(
    Faults, ReplyReadFaults,
    testing::Values(ReplyReadCase{{Fault::EmptyRead, 1, 0}, true, true},
                    ReplyReadCase{{Fault::ReadError, 1, 0}, true, true},
                    ReplyReadCase{{Fault::OverReport, 1, 0}, true, true},
                    ReplyReadCase{{Fault::ReadError, kAlways, 0}, false, false},
                    ReplyReadCase{{Fault::ReadError, 1, 1}, true, true},
                    ReplyReadCase{{Fault::EmptyRead, kAlways, 1}, true, false}),
    [](const auto& param) {
      return Label(param.f, param.f.after == 0 ? "StatusReply" : "InkReply");
    });

// ---------------------------------------------------------------------------
// pfnReadPort, called by the poller. A KP-6600S is sent no ink query, so every
// read after StartDocPort is the poller's.

struct PollerReadCase {
  FaultCase f;
  bool publishes;  // while the fault lasts
};

class PollerReadFaults : public monitor_test::CasesOnBothFaces<FaultMatrix, PollerReadCase> {};

TEST_P(PollerReadFaults, FailedReadsPublishNothingAndTheStopStillComesAtOnce) {
  const PollerReadCase& c = Case();
  PortRecord* record = PrepareOpen("KP-6600S", kBrisk, {.statusUpdateEveryMs = 20});
  ASSERT_NE(record, nullptr);
  emu::InjectFault(Slot::ReadPort, c.f.fault, c.f.times);
  ASSERT_TRUE(StartDoc(record, printer_, 9));
  ASSERT_TRUE(HasStatusBits(record, PS_POLLER_RUN));

  if (c.publishes) {
    // One failed read, a pause, and the next read of the same poll delivers.
    EXPECT_TRUE(WaitUntil([&] { return app::PublishedStatus(printer_).has_value(); }));
    EXPECT_GE(emu::CallsTo(Slot::ReadPort).size(), 2u);
    // A count claimed beyond the chunk asked for is cut to it.
    if (c.f.fault == Fault::OverReport) {
      EXPECT_EQ(app::PublishedStatus(printer_), std::string(REPLY_CHUNK_SIZE, '?'));
    }
  } else {
    ASSERT_TRUE(WaitUntil([] { return emu::CallsTo(Slot::ReadPort).size() >= 3; }));
    EXPECT_FALSE(app::PublishedStatus(printer_).has_value());
  }
  // The poller is between reads of a poll (or about to be): the stop must not
  // wait for the rest of the poll.
  const auto stop = std::chrono::steady_clock::now();
  EXPECT_TRUE(Spool().EndDoc(record));
  EXPECT_LT(MsSince(stop), 4000);
  EXPECT_EQ(record->pollerThread, nullptr);
  if (!c.publishes) {
    EXPECT_FALSE(app::PublishedStatus(printer_).has_value());
  }
  ExpectRecovery(record);
}

KOVIRLM_CASES_ON_BOTH_FACES(Faults, PollerReadFaults,
                            testing::Values(PollerReadCase{{Fault::EmptyRead, 1}, true},
                                            PollerReadCase{{Fault::ReadError, 1}, true},
                                            PollerReadCase{{Fault::OverReport, kAlways}, true},
                                            PollerReadCase{{Fault::EmptyRead, kAlways}, false},
                                            PollerReadCase{{Fault::ReadError, kAlways}, false}),
                            [](const auto& param) { return Label(param.f, "Poller"); });

// ---------------------------------------------------------------------------
// The spooler's own calls passed through: pfnWritePort, pfnReadPort and
// pfnGetPrinterDataFromPort, each called twice after the document started.

enum class Count { Zero, Half, All };

// A refused first call must also leave the device's reason as the last error.
struct PassThroughCase {
  Slot slot;
  FaultCase f;
  BOOL firstResult;
  Count firstCount;
  BOOL secondResult;
  Count secondCount;
};

class PassThroughFaults : public monitor_test::CasesOnBothFaces<FaultMatrix, PassThroughCase> {
 protected:
  // One call of the case's slot: its result, its count, its error.
  struct Outcome {
    BOOL result;
    DWORD count;
    DWORD error;
    std::string bytes;
  };

  Outcome Call(PortRecord* record, Slot slot, const std::string& data) {
    Outcome out{};
    SetLastError(0);
    if (slot == Slot::WritePort) {
      std::string copy = data;
      out.result = Spool().Write(record, reinterpret_cast<LPBYTE>(copy.data()),
                                 static_cast<DWORD>(copy.size()), &out.count);
    } else if (slot == Slot::ReadPort) {
      char buffer[512] = {};
      out.count = 12345;
      out.result =
          Spool().Read(record, reinterpret_cast<LPBYTE>(buffer), sizeof buffer, &out.count);
      if (out.count <= sizeof buffer) out.bytes.assign(buffer, out.count);
    } else {
      char buffer[1024] = {};
      out.result = Spool().GetData(record, Spool().DeviceIdControl(), nullptr, nullptr, 0, buffer,
                                   sizeof buffer, &out.count);
      if (out.count <= sizeof buffer) out.bytes.assign(buffer, out.count);
    }
    out.error = GetLastError();
    return out;
  }
};

DWORD Expected(Count count, std::size_t all) {
  return count == Count::Zero   ? 0
         : count == Count::Half ? static_cast<DWORD>(all / 2)
                                : static_cast<DWORD>(all);
}

TEST_P(PassThroughFaults, TheSpoolerSeesTheDevicesAnswerAndTheNextCallWorks) {
  const PassThroughCase& c = Case();
  PortRecord* record = PrepareOpen("KP-6600S", kQuiet);
  ASSERT_NE(record, nullptr);
  ASSERT_TRUE(StartDoc(record, printer_, 9));
  emu::ClearReceived(kPort);
  emu::InjectFault(c.slot, c.f.fault, c.f.times);

  const std::string first(300, 'A');
  const std::string second(200, 'B');
  const Outcome one = Call(record, c.slot, first);
  const Outcome two = Call(record, c.slot, second);

  EXPECT_EQ(one.result, c.firstResult);
  if (!c.firstResult) {
    EXPECT_EQ(one.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  EXPECT_EQ(two.result, c.secondResult);
  if (c.slot == Slot::WritePort) {
    EXPECT_EQ(one.count, Expected(c.firstCount, first.size()));
    EXPECT_EQ(two.count, Expected(c.secondCount, second.size()));
    // Byte-exact: what the device accepted, in order, and nothing else.
    EXPECT_EQ(emu::Received(kPort), first.substr(0, one.count) + second.substr(0, two.count));
  } else if (c.slot == Slot::ReadPort) {
    // The printer's answer to the status command is waiting on the back channel.
    EXPECT_EQ(one.count == 0, c.firstCount == Count::Zero);
    EXPECT_EQ(two.count == 0, c.secondCount == Count::Zero);
    if (two.count != 0) {
      EXPECT_EQ(two.bytes, emu::MakeStatusReply(true));
    }
  } else {
    const std::string id = DeviceIdFor("KP-6600S");
    EXPECT_EQ(one.count, Expected(c.firstCount, id.size()));
    EXPECT_EQ(two.count, Expected(c.secondCount, id.size()));
    if (two.count != 0) {
      EXPECT_EQ(two.bytes, id);
    }
  }
  EXPECT_TRUE(Spool().EndDoc(record));
  ExpectRecovery(record);
}

constexpr Slot kGetData = Slot::GetPrinterDataFromPort;

const PassThroughCase kPassThroughCases[] = {
    {Slot::WritePort, {Fault::Refuse, 1}, FALSE, Count::Zero, TRUE, Count::All},
    {Slot::WritePort, {Fault::Refuse, kAlways}, FALSE, Count::Zero, FALSE, Count::Zero},
    {Slot::WritePort, {Fault::ShortWrite, 1}, TRUE, Count::Half, TRUE, Count::All},
    {Slot::WritePort, {Fault::ShortWrite, kAlways}, TRUE, Count::Half, TRUE, Count::Half},
    {Slot::ReadPort, {Fault::Refuse, 1}, FALSE, Count::Zero, TRUE, Count::All},
    {Slot::ReadPort, {Fault::EmptyRead, 1}, TRUE, Count::Zero, TRUE, Count::All},
    {Slot::ReadPort, {Fault::ReadError, kAlways}, FALSE, Count::Zero, FALSE, Count::Zero},
    {kGetData, {Fault::Refuse, 1}, FALSE, Count::Zero, TRUE, Count::All},
    {kGetData, {Fault::EmptyRead, 1}, TRUE, Count::Zero, TRUE, Count::All},
    {kGetData, {Fault::Refuse, kAlways}, FALSE, Count::Zero, FALSE, Count::Zero},
};

KOVIRLM_CASES_ON_BOTH_FACES(Faults, PassThroughFaults, testing::ValuesIn(kPassThroughCases),
                            [](const auto& param) {
                              return Label(param.f, emu::SlotName(param.slot));
                            });

// ---------------------------------------------------------------------------
// pfnGetPrinterDataFromPort, called by IdentifyPrinter at the job start: refused,
// empty, missing, or answering device IDs at the edges of the face's buffer.

enum class IdSetup { Fault, NoSlot, DeviceId };

struct IdentifyCase {
  const char* name;
  IdSetup setup;
  FaultCase f;
  std::string (*deviceId)(DWORD buffer);  // for IdSetup::DeviceId
  bool matched;
};

std::string NoDeviceId(DWORD) {
  return "";
}

// A device ID of exactly the buffer's size that ends in its MDL value, without ';'
// or NUL.
std::string FullBufferId(DWORD buffer) {
  std::string id = "MFG:KOVIR;CMD:REMOTE1;DES:";
  const std::string tail = ";MDL:KP-6600S";
  id += std::string(buffer - id.size() - tail.size(), 'd');
  return id + tail;
}

// 476 bytes longer than the buffer, the MDL field starting beyond it: the device
// cuts it off.
std::string OverlongId(DWORD buffer) {
  std::string id = "MFG:KOVIR;DES:" + std::string(buffer + 176, 'x') + ";MDL:KP-6600S;";
  return id + std::string(buffer + 476 - id.size(), 'y');
}

class IdentifyFaults : public monitor_test::CasesOnBothFaces<FaultMatrix, IdentifyCase> {};

TEST_P(IdentifyFaults, AnUnreadableDeviceIdMatchesNothingAndTheJobStillPrints) {
  const IdentifyCase& c = Case();
  emu::PrinterOptions options;
  if (c.setup == IdSetup::DeviceId) options.deviceId = c.deviceId(Spool().DeviceIdBufferSize());
  Prepare("KP-6600S", kQuiet, options);
  if (c.setup == IdSetup::NoSlot) emu::SetDeviceDataSupported(false);
  PortRecord* record = OpenOrFail();
  ASSERT_NE(record, nullptr);
  if (c.setup == IdSetup::Fault)
    emu::InjectFault(Slot::GetPrinterDataFromPort, c.f.fault, c.f.times);
  // Left from an earlier document; a failed identification clears them.
  SetStatusBits(record, PS_PRINTER_MATCHED);

  EXPECT_TRUE(StartDoc(record, printer_, 9));

  EXPECT_EQ(HasStatusBits(record, PS_PRINTER_MATCHED), c.matched);
  EXPECT_EQ(HasStatusBits(record, PS_POLLER_RUN), c.matched);
  EXPECT_EQ(emu::Commands(kPort).empty(), !c.matched);
  if (c.setup == IdSetup::NoSlot) {
    char buffer[64];
    DWORD returned = 0;
    EXPECT_FALSE(Spool().GetData(record, Spool().DeviceIdControl(), nullptr, nullptr, 0, buffer,
                                 sizeof buffer, &returned));
  }
  char page[] = "page";
  DWORD written = 0;
  EXPECT_TRUE(Spool().Write(record, reinterpret_cast<LPBYTE>(page), 4, &written));
  EXPECT_EQ(written, 4u);
  EXPECT_TRUE(Spool().EndDoc(record));
  // Without the slot, the port still prints, unidentified.
  ExpectRecovery(record, c.setup != IdSetup::NoSlot && (c.setup == IdSetup::Fault || c.matched));
}

KOVIRLM_CASES_ON_BOTH_FACES(
    Faults, IdentifyFaults,
    testing::Values(
        IdentifyCase{"RefuseOnce", IdSetup::Fault, {Fault::Refuse, 1}, NoDeviceId, false},
        IdentifyCase{"RefuseAlways", IdSetup::Fault, {Fault::Refuse, kAlways}, NoDeviceId, false},
        IdentifyCase{"EmptyReadOnce", IdSetup::Fault, {Fault::EmptyRead, 1}, NoDeviceId, false},
        IdentifyCase{"NullSlot", IdSetup::NoSlot, {}, NoDeviceId, false},
        IdentifyCase{"EmptyDeviceId", IdSetup::DeviceId, {}, NoDeviceId, false},
        IdentifyCase{"FullBufferUnterminated", IdSetup::DeviceId, {}, FullBufferId, true},
        IdentifyCase{"ModelBeyondTheBuffer", IdSetup::DeviceId, {}, OverlongId, false}),
    [](const auto& param) { return std::string(param.name); });

// ---------------------------------------------------------------------------
// pfnEndDocPort (from EndDocPort, and from ClosePort with a poller running) and
// pfnClosePort (from ClosePort): the monitor ignores their answers, so only the
// device's own state decides what the next call meets.

enum class Teardown { EndDoc, CloseMidJob, CloseIdle, CloseMidJobDeviceRefuses };

// The device refuses the case's slot once or always.
struct TeardownCase {
  const char* name;
  Teardown step;
  Slot slot;
  int times;
};

class TeardownFaults : public monitor_test::CasesOnBothFaces<FaultMatrix, TeardownCase> {};

TEST_P(TeardownFaults, TheMonitorLetsGoWhateverTheDeviceAnswers) {
  const TeardownCase& c = Case();
  PortRecord* record = PrepareOpen("KP-6600S", kBrisk, {.statusUpdateEveryMs = 20});
  ASSERT_NE(record, nullptr);
  if (c.step != Teardown::CloseIdle) {
    ASSERT_TRUE(StartDoc(record, printer_, 9));
    ASSERT_TRUE(HasStatusBits(record, PS_POLLER_RUN));
  }
  emu::InjectFault(c.slot, Fault::Refuse, c.times);

  if (c.step == Teardown::EndDoc) {
    EXPECT_TRUE(monitor_test::FinishesWithin(10000, [&] { Spool().EndDoc(record); }));
    EXPECT_EQ(record->pollerThread, nullptr);
    EXPECT_FALSE(HasStatusBits(record, PS_JOB_ACTIVE | PS_DEVICE_DOC_OPEN | PS_POLLER_RUN));
    EXPECT_EQ(LanFlag(printer_), 0u);
    // The device kept its document, so it turns the next one down: the spooler
    // gets the device's reason, and the application is not told a job runs.
    EXPECT_TRUE(emu::DocumentOpen(kPort));
    SetLastError(0);
    EXPECT_FALSE(StartDoc(record, printer_, 9));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
    EXPECT_FALSE(HasStatusBits(record, PS_JOB_ACTIVE));
    EXPECT_EQ(LanFlag(printer_), 0u);
    // The spooler's EndDocPort for that document reaches the device again.
    emu::ClearFaults();
    EXPECT_TRUE(Spool().EndDoc(record));
    EXPECT_FALSE(emu::DocumentOpen(kPort));
    ExpectRecovery(record);
    return;
  }

  EXPECT_TRUE(monitor_test::FinishesWithin(10000, [&] { Spool().Close(record); }));
  EXPECT_TRUE(monitor_test::ListedPorts().empty());
  const std::vector<emu::Call> calls = emu::Calls();
  if (c.step != Teardown::CloseIdle) {
    // The poller ended before the device heard of the end of the document.
    const std::size_t endDoc = FirstFrom(calls, Slot::EndDocPort);
    EXPECT_EQ(FirstFrom(calls, Slot::ReadPort, endDoc), calls.size());
    ASSERT_LT(endDoc, calls.size());
    EXPECT_EQ(calls.back().slot, Slot::ClosePort);
  }
  if (c.slot == Slot::ClosePort) {
    // The device kept the port: the next open meets its refusal, lists nothing,
    // and works once the device has let go.
    EXPECT_TRUE(emu::PortOpen(kPort));
    PortRecord* again = nullptr;
    SetLastError(0);
    EXPECT_FALSE(Open(again));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
    EXPECT_TRUE(monitor_test::ListedPorts().empty());
    emu::ClearFaults();
    EXPECT_TRUE(emu::DeviceMonitor()->pfnClosePort(emu::PortHandle(kPort)));
  }
  EXPECT_FALSE(emu::PortOpen(kPort));
  ExpectRecovery(nullptr);
}

const TeardownCase kTeardownCases[] = {
    {"EndDocRefuseOnce", Teardown::EndDoc, Slot::EndDocPort, 1},
    {"EndDocRefuseAlways", Teardown::EndDoc, Slot::EndDocPort, kAlways},
    {"CloseMidJobEndDocRefuseOnce", Teardown::CloseMidJob, Slot::EndDocPort, 1},
    {"CloseMidJobEndDocRefuseAlways", Teardown::CloseMidJob, Slot::EndDocPort, kAlways},
    {"CloseIdleRefuseOnce", Teardown::CloseIdle, Slot::ClosePort, 1},
    {"CloseIdleRefuseAlways", Teardown::CloseIdle, Slot::ClosePort, kAlways},
    {"CloseMidJobRefuseOnce", Teardown::CloseMidJobDeviceRefuses, Slot::ClosePort, 1},
};

KOVIRLM_CASES_ON_BOTH_FACES(Faults, TeardownFaults, testing::ValuesIn(kTeardownCases),
                            [](const auto& param) { return std::string(param.name); });

}  // namespace
