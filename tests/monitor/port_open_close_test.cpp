// OpenPortEx and ClosePort: the record the spooler gets as its port handle, the
// list that owns it, the order in which a close takes a port apart, and what a
// thousand opens and closes leave behind.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/leak_probe.h"
#include "tests/support/monitor_fixture.h"

namespace {

using monitor_test::LeakProbe;
using monitor_test::ListedPorts;
using monitor_test::MonitorTest;
using monitor_test::OpenDeviceDocument;
using monitor_test::Signalled;
using monitor_test::SpoolerFace;
using monitor_test::StandInPoller;
using monitor_test::StartStandInPoller;

std::vector<emu::Slot> DeviceSlotsCalled() {
  std::vector<emu::Slot> slots;
  for (const emu::Call& call : emu::Calls()) slots.push_back(call.slot);
  return slots;
}

HANDLE OpenThroughSpooler(SpoolerFace spool, const std::string& port, const std::string& printer,
                          BOOL* result) {
  HANDLE handle = reinterpret_cast<HANDLE>(0x5EED);  // must stay untouched on failure
  *result = spool.OpenPort(port, &printer, &handle);
  return handle;
}

using OpenPortEx_ = monitor_test::BothFaces<MonitorTest>;
KOVIRLM_BOTH_FACES(OpenPortEx_);

TEST_P(OpenPortEx_, ListsARecordThatHoldsThePortAndACopyOfTheDeviceTable) {
  const std::string port = "KOVIR1:";
  const std::string printer = "KOVIR Open Fields";
  PortRecord* record = OpenPort(port, printer);
  ASSERT_NE(record, nullptr);

  EXPECT_EQ(ListedPorts(), std::vector<PortRecord*>{record});
  EXPECT_EQ(record->signature, PORT_SIGNATURE);
  unsigned char signatureBytes[2];
  std::memcpy(signatureBytes, &record->signature, 2);
  EXPECT_EQ(signatureBytes[0], 0x50);  // 'P'
  EXPECT_EQ(signatureBytes[1], 0x4F);  // 'O'
  // The port name lives right behind the fixed fields, in the same block, in the
  // face's form.
  const bool nt = face_ == monitor_test::Face::Nt;
  EXPECT_EQ(nt ? static_cast<const void*>(record->portName.wide) : record->portName.ansi,
            static_cast<const void*>(record + 1));
  EXPECT_EQ(monitor_test::Text(record->portName), port);
  EXPECT_EQ(record->size, sizeof(PortRecord) + (port.size() + 1) * (nt ? sizeof(WCHAR) : 1));
  EXPECT_EQ(monitor_test::Text(record->printerName), printer);
  EXPECT_EQ(record->next, nullptr);
  EXPECT_EQ(record->status.load(), 0u);
  EXPECT_EQ(record->pollerThread, nullptr);

  EXPECT_EQ(record->devicePort, emu::PortHandle(port));
  if (nt) {
    EXPECT_EQ(
        std::memcmp(&record->deviceMonitor2, emu::DeviceMonitor2(), emu::DeviceMonitor2()->cbSize),
        0);
  } else {
    EXPECT_EQ(std::memcmp(&record->deviceMonitor, emu::DeviceMonitor(), sizeof(MONITOR)), 0);
  }
  const std::vector<emu::Call> calls = emu::Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].slot, emu::Slot::OpenPort);
  EXPECT_EQ(calls[0].port, port);

  if (diag::OpenPrinterHandles() != diag::kUnknown) {
    // The NT face opens none: it would be a call back into the spooler.
    EXPECT_EQ(record->printerHandle != nullptr, !nt) << "the stand-in spooler knows the printer";
  }
}

TEST_P(OpenPortEx_, GivesEveryRecordAStopEventOfItsOwnThatIsNotSignalled) {
  PortRecord* first = OpenPort("KOVIR1:");
  PortRecord* second = OpenPort("KOVIR2:");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  for (PortRecord* record : {first, second}) {
    ASSERT_NE(record->pollerStopEvent, nullptr);
    EXPECT_FALSE(Signalled(record->pollerStopEvent));
  }
  EXPECT_NE(first->pollerStopEvent, second->pollerStopEvent);
}

TEST_P(OpenPortEx_, AppendsNewRecordsAtTheTailAndClosingUnlinksFromAnyPlace) {
  PortRecord* a = OpenPort("KOVIR1:");
  PortRecord* b = OpenPort("KOVIR2:");
  PortRecord* c = OpenPort("KOVIR3:");
  PortRecord* d = OpenPort("KOVIR4:");
  ASSERT_EQ(ListedPorts(), (std::vector<PortRecord*>{a, b, c, d}));

  EXPECT_TRUE(ClosePort(b));  // from the middle
  EXPECT_EQ(ListedPorts(), (std::vector<PortRecord*>{a, c, d}));
  EXPECT_TRUE(ClosePort(a));  // the head
  EXPECT_EQ(ListedPorts(), (std::vector<PortRecord*>{c, d}));
  EXPECT_TRUE(ClosePort(d));  // the tail
  EXPECT_EQ(ListedPorts(), (std::vector<PortRecord*>{c}));
  PortRecord* e = OpenPort("KOVIR5:");
  EXPECT_EQ(ListedPorts(), (std::vector<PortRecord*>{c, e}));
}

TEST_P(OpenPortEx_, ReopeningANameThatDiffersOnlyInCaseFailsWithErrorBusyAndChangesNothing) {
  PortRecord* record = OpenPort("Kovir1:");
  ASSERT_NE(record, nullptr);
  const HANDLE devicePort = record->devicePort;
  emu::AttachPrinter("KOVIR1:");  // even a printer under that spelling changes nothing
  emu::ClearCalls();
  const LeakProbe leaks;

  for (const char* name : {"Kovir1:", "KOVIR1:", "kovir1:", "kOVIR1:"}) {
    SCOPED_TRACE(name);
    SetLastError(ERROR_SUCCESS);
    BOOL opened = TRUE;
    const HANDLE handle = OpenThroughSpooler(Spool(), name, "Another Printer", &opened);
    EXPECT_EQ(opened, FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x5EED));
  }

  EXPECT_TRUE(emu::Calls().empty()) << "the device monitor was asked to open the port again";
  EXPECT_EQ(ListedPorts(), std::vector<PortRecord*>{record});
  EXPECT_EQ(monitor_test::Text(record->portName), "Kovir1:");
  EXPECT_EQ(monitor_test::Text(record->printerName), monitor_test::kDefaultPrinter);
  EXPECT_EQ(record->devicePort, devicePort);
  EXPECT_EQ(record->status.load(), 0u);
  leaks.ExpectNothingLeaked();
}

// Some port monitors let a port be opened twice (network ports do), so only our
// own list keeps a second open of the name out, even one racing with the first.
TEST_P(OpenPortEx_, TwoOpensOfOneNameAtOnceNeverBothSucceedEvenWhereTheDeviceShares) {
  emu::SetSharedOpens(true);
  emu::AttachPrinter("KOVIR1:");
  for (int round = 0; round < 200; ++round) {
    std::atomic<int> ready{0};
    BOOL opened[2] = {FALSE, FALSE};
    HANDLE handles[2] = {};
    std::thread racers[2];
    for (int i = 0; i < 2; ++i) {
      racers[i] = std::thread([&, i] {
        for (++ready; ready < 2;) std::this_thread::yield();
        handles[i] = OpenThroughSpooler(Spool(), "KOVIR1:", "KOVIR Racer", &opened[i]);
      });
    }
    for (std::thread& racer : racers) racer.join();
    ASSERT_EQ(opened[0] + opened[1], 1) << "round " << round;
    EXPECT_TRUE(ClosePort(static_cast<PortRecord*>(handles[opened[0] ? 0 : 1])));
  }
}

// A close may come while the device monitor is still opening the port: a Shutdown
// of the NT instance (the service stopping as a printer's first job opens its
// port), or a ClosePort with the record. It waits for the open, which closes the
// device port it opened and fails as on a closed port: the spooler gets no handle.
TEST_P(OpenPortEx_, ACloseDuringTheDeviceOpenWaitsForItAndTheOpenFailsWithNoHandle) {
  emu::AttachPrinter("KOVIR1:");
  const std::string printer = "KOVIR Opening";
  for (const bool shutdown : {false, true}) {
    if (shutdown && face_ != monitor_test::Face::Nt) continue;
    SCOPED_TRACE(shutdown ? "Shutdown" : "ClosePort");
    HANDLE instance = nullptr;
    const MONITOR2* table = shutdown ? InitializePrintMonitor2(nullptr, &instance) : nullptr;
    emu::HoldOpens(true);
    emu::ClearCalls();
    HANDLE handle = nullptr;
    BOOL opened = TRUE;
    DWORD error = 0;
    monitor_test::BackgroundCall open([&] {
      opened = Spool().OpenPort("KOVIR1:", &printer, &handle, instance);
      error = GetLastError();
    });
    ASSERT_TRUE(monitor_test::WaitUntil([] { return emu::HeldOpens() == 1; }));
    PortRecord* record = ListedPorts().at(0);
    monitor_test::BackgroundCall close([&] {
      if (shutdown) table->pfnShutdown(instance);
      if (!shutdown) ClosePort(record);
    });
    EXPECT_FALSE(close.FinishedWithin(200)) << "the close did not wait for the open";

    emu::HoldOpens(false);
    ASSERT_TRUE(close.FinishedWithin(10000));
    ASSERT_TRUE(open.FinishedWithin(10000));
    EXPECT_EQ(opened, FALSE);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(DeviceSlotsCalled(),
              (std::vector<emu::Slot>{emu::Slot::OpenPort, emu::Slot::ClosePort}));
    EXPECT_FALSE(emu::PortOpen("KOVIR1:"));
    EXPECT_TRUE(ListedPorts().empty());
  }
}

struct FailedOpenCase {
  const char* what;
  bool attachPrinter;
  bool refuse;
  DWORD deviceError;
  bool noOpenEntry = false;  // NT: a port monitor's table without pfnOpenPort
};

TEST_P(OpenPortEx_, AFailedDeviceOpenListsNothingKeepsTheDeviceErrorAndLeavesThePortReopenable) {
  const FailedOpenCase cases[] = {
      {"device refuses the port", true, true, ERROR_ACCESS_DENIED},
      {"no printer on the port", false, false, ERROR_FILE_NOT_FOUND},
      {"no OpenPort in the table", true, false, ERROR_INVALID_FUNCTION, true},
  };
  const char* printer = "KOVIR Failed Open";
  const bool spoolerKnowsPrinter = diag::AddSpoolerPrinter(printer);
  for (const FailedOpenCase& c : cases) {
    SCOPED_TRACE(c.what);
    emu::Reset();
    if (c.attachPrinter) emu::AttachPrinter("KOVIR7:");
    if (c.refuse) emu::InjectFault(emu::Slot::OpenPort, emu::Fault::Refuse, 1);
    if (c.noOpenEntry && face_ != monitor_test::Face::Nt) continue;
    if (c.noOpenEntry) emu::RemoveDeviceMonitor2Entry(emu::Slot::OpenPort);
    const LeakProbe leaks;

    BOOL opened = TRUE;
    const HANDLE handle = OpenThroughSpooler(Spool(), "KOVIR7:", printer, &opened);
    EXPECT_EQ(opened, FALSE);
    EXPECT_EQ(GetLastError(), c.deviceError);
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x5EED));
    EXPECT_TRUE(ListedPorts().empty());
    leaks.ExpectNothingLeaked();

    // The same name opens once the device monitor agrees.
    emu::Reset();
    emu::AttachPrinter("KOVIR7:");
    const HANDLE reopened = OpenThroughSpooler(Spool(), "kovir7:", printer, &opened);
    ASSERT_EQ(opened, TRUE);
    EXPECT_EQ(ListedPorts(), std::vector<PortRecord*>{static_cast<PortRecord*>(reopened)});
    EXPECT_TRUE(ClosePort(static_cast<PortRecord*>(reopened)));
  }
  if (spoolerKnowsPrinter) diag::RemoveSpoolerPrinter(printer);
}

TEST_P(OpenPortEx_, AnEventThatCannotBeCreatedFailsTheOpenAndLeavesNothingBehind) {
  const char* printer = "KOVIR Event Failure";
  const bool spoolerKnowsPrinter = diag::AddSpoolerPrinter(printer);
  emu::AttachPrinter("KOVIR1:");
  // The record's own memory (-1), then its stop event.
  for (int which = -1; which < 1; ++which) {
    SCOPED_TRACE(which);
    const LeakProbe leaks;
    const bool planned =
        which < 0 ? diag::FailNextHeapAllocation() : diag::FailEventCreation(which);
    if (!planned) GTEST_SKIP() << "allocation cannot be made to fail";

    BOOL opened = TRUE;
    const HANDLE handle = OpenThroughSpooler(Spool(), "KOVIR1:", printer, &opened);
    diag::FailEventCreation(-1);

    EXPECT_EQ(opened, FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x5EED));
    EXPECT_TRUE(ListedPorts().empty());
    EXPECT_TRUE(emu::Calls().empty()) << "the device monitor was asked to open the port";
    leaks.ExpectNothingLeaked();
  }
  BOOL opened = FALSE;
  const HANDLE handle = OpenThroughSpooler(Spool(), "KOVIR1:", printer, &opened);
  ASSERT_EQ(opened, TRUE);
  EXPECT_TRUE(ClosePort(static_cast<PortRecord*>(handle)));
  if (spoolerKnowsPrinter) diag::RemoveSpoolerPrinter(printer);
}

using ClosePort_ = monitor_test::BothFaces<MonitorTest>;
KOVIRLM_BOTH_FACES(ClosePort_);

TEST_P(ClosePort_, ClosesTheDevicePortForgetsTheRecordAndGivesBackWhatItOwned) {
  const LeakProbe leaks;
  PortRecord* record = OpenPort("KOVIR1:", "KOVIR Close Port");
  ASSERT_NE(record, nullptr);
  const HANDLE devicePort = record->devicePort;
  emu::ClearCalls();

  EXPECT_EQ(ClosePort(record), TRUE);

  const std::vector<emu::Call> calls = emu::Calls();
  ASSERT_EQ(calls.size(), 1u) << "only the device port is closed; no document was open";
  EXPECT_EQ(calls[0].slot, emu::Slot::ClosePort);
  EXPECT_EQ(calls[0].handle, devicePort);
  EXPECT_FALSE(emu::PortOpen("KOVIR1:"));
  EXPECT_TRUE(ListedPorts().empty());
  // The stand-in spooler printer is registered by OpenPort; its handle is gone.
  leaks.ExpectNothingLeaked();
}

TEST_P(ClosePort_, WithARunningPollerStopsItAndWaitsForItBeforeEndingTheDocumentAndClosing) {
  struct AtPollerExit {
    bool portOpen = false;
    bool documentOpen = false;
    bool recordIntact = false;
    std::vector<emu::Slot> deviceCallsSoFar;
  } seen;
  PortRecord* record = OpenWithDocument("KOVIR1:");
  ASSERT_NE(record, nullptr);
  StandInPoller poller;
  poller.lingerMs = 300;
  poller.onExit = [&seen](PortRecord* r) {
    seen.portOpen = emu::PortOpen("KOVIR1:");
    seen.documentOpen = emu::DocumentOpen("KOVIR1:");
    seen.recordIntact = r->signature == PORT_SIGNATURE && !HasStatusBits(r, PS_POLLER_RUN);
    seen.deviceCallsSoFar = DeviceSlotsCalled();
  };
  ASSERT_TRUE(StartStandInPoller(record, poller));
  emu::ClearCalls();

  const DWORD start = GetTickCount();
  EXPECT_EQ(ClosePort(record), TRUE);
  const DWORD took = GetTickCount() - start;

  EXPECT_TRUE(poller.ended);
  EXPECT_GE(took, 250u) << "ClosePort returned before the poller had ended";
  EXPECT_TRUE(seen.portOpen);
  EXPECT_TRUE(seen.documentOpen);
  EXPECT_TRUE(seen.recordIntact);
  EXPECT_TRUE(seen.deviceCallsSoFar.empty());
  EXPECT_EQ(DeviceSlotsCalled(),
            (std::vector<emu::Slot>{emu::Slot::EndDocPort, emu::Slot::ClosePort}));
  EXPECT_FALSE(emu::PortOpen("KOVIR1:"));
  EXPECT_TRUE(ListedPorts().empty());
}

// A document in progress is ended first, as EndDocPort ends it: the device hears
// pfnEndDocPort and LanMonExistFlag goes down in the document's key. A poller
// without a document (no spooler call leaves one: a poller runs only within a
// document) has no device document to end: the device hears only pfnClosePort,
// and the poller is stopped before its record is freed.
TEST_P(ClosePort_, WithADocumentEndsItFirstAndWithOnlyAPollerClosesTheDevicePortAlone) {
  const char* printer = "KOVIR Close Mid-Job";
  Register(printer, "KP-100");
  for (const bool document : {false, true}) {
    SCOPED_TRACE(document ? "a document, no poller" : "a running poller, no document");
    PortRecord* record = document ? OpenWithDocument("KOVIR1:") : OpenPort("KOVIR1:");
    ASSERT_NE(record, nullptr);
    if (document)
      monitor_test::SelectKey(record->statusKey, printer, face_);  // as StartDocPort leaves it
    SetLanMonitorFlag(record->statusKey, TRUE);
    StandInPoller poller;
    poller.lingerMs = 300;
    bool recordIntactAtExit = false;
    poller.onExit = [&recordIntactAtExit](PortRecord* r) {
      recordIntactAtExit = r->signature == PORT_SIGNATURE;
    };
    ASSERT_TRUE(document || StartStandInPoller(record, poller));
    emu::ClearCalls();

    EXPECT_EQ(ClosePort(record), TRUE);

    const std::vector<emu::Slot> ended{emu::Slot::EndDocPort, emu::Slot::ClosePort};
    const std::vector<emu::Slot> closedAlone{emu::Slot::ClosePort};
    EXPECT_EQ(DeviceSlotsCalled(), document ? ended : closedAlone);
    if (document) {
      EXPECT_EQ(emu::status_app::ReadDword(printer, VALUE_LAN_MONITOR), 0u);
    }
    EXPECT_TRUE(ListedPorts().empty());
    if (!document) {
      EXPECT_TRUE(poller.ended);
      EXPECT_TRUE(recordIntactAtExit);
    }
  }
}

// Freeing a record stops a poller still on it, rather than waiting for a thread
// that was never told to end.
TEST_P(ClosePort_, FreeingARecordWithAPollerStillOnItStopsThePollerFirst) {
  PortRecord* record = OpenPort("KOVIR1:");
  StandInPoller poller;
  ASSERT_TRUE(record != nullptr && StartStandInPoller(record, poller));
  EXPECT_TRUE(monitor_test::FinishesWithin(10000, [record] { ::ClosePort(record); }));
  EXPECT_TRUE(poller.ended);
}

// A device monitor of our own for a record that is not listed: its close slot
// counts the calls that reach it.
int gForeignCloses = 0;
BOOL WINAPI ForeignClosePort(HANDLE) {
  ++gForeignCloses;
  return TRUE;
}

// A port that is not listed (closed already, or being closed by a Shutdown on
// another thread) is not ours to close again: not even its device port is.
TEST_P(ClosePort_, ReturnsTrueForARecordThatIsNotListedAndTouchesNothing) {
  PortRecord* listed = OpenPort("KOVIR1:");
  ASSERT_NE(listed, nullptr);
  PortRecord stranger{};
  stranger.signature = PORT_SIGNATURE;
  stranger.devicePort = reinterpret_cast<HANDLE>(0x1234);
  stranger.deviceMonitor.pfnClosePort = ForeignClosePort;
  stranger.deviceMonitor2.pfnClosePort = ForeignClosePort;
  gForeignCloses = 0;
  const LeakProbe leaks;

  EXPECT_EQ(ClosePort(&stranger), TRUE);

  EXPECT_EQ(gForeignCloses, 0);
  EXPECT_EQ(stranger.signature, PORT_SIGNATURE);
  EXPECT_EQ(ListedPorts(), std::vector<PortRecord*>{listed});
  EXPECT_TRUE(emu::PortOpen("KOVIR1:"));
  // Every other call on such a port fails as on a closed handle.
  emu::ClearCalls();
  BYTE bytes[4] = {};
  DWORD count = 0;
  const std::string printer = "KOVIR Stranger";
  const std::function<BOOL()> calls[] = {
      [&] { return Spool().StartDoc(&stranger, &printer, 1); },
      [&] { return Spool().Write(&stranger, bytes, sizeof bytes, &count); },
      [&] { return Spool().Read(&stranger, bytes, sizeof bytes, &count); },
      [&] {
        return Spool().GetData(&stranger, Spool().DeviceIdControl(), nullptr, nullptr, 0, bytes,
                               sizeof bytes, &count);
      },
      [&] { return Spool().EndDoc(&stranger); }};
  for (const std::function<BOOL()>& call : calls) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(call(), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  EXPECT_TRUE(emu::Calls().empty());
  leaks.ExpectNothingLeaked();
}

// A thousand ports opened and closed, in every state a close can meet, leave
// nothing behind: no heap block, no handle (event, thread, printer), no thread.
constexpr int kCycles = 1000;
constexpr char kPrinter[] = "KOVIR Port Cycles";

// One port's life. Cycle i goes through a different mix: a refused first open,
// a device document, a running poller.
void Cycle(SpoolerFace spool, int i) {
  const std::string port = i % 2 == 0 ? "KOVIR1:" : "kovir1:";
  const std::string printer = kPrinter;
  HANDLE handle = nullptr;
  if (i % 10 == 3) {
    emu::InjectFault(emu::Slot::OpenPort, emu::Fault::Refuse, 1);
    ASSERT_FALSE(spool.OpenPort(port, &printer, &handle));
  }
  ASSERT_TRUE(spool.OpenPort(port, &printer, &handle));
  auto* record = static_cast<PortRecord*>(handle);
  if (i % 3 != 0) {
    ASSERT_TRUE(OpenDeviceDocument(record));
  }
  StandInPoller poller;
  if (i % 2 != 0) {
    ASSERT_TRUE(StartStandInPoller(record, poller));
  }
  ASSERT_TRUE(spool.Close(record));
  ASSERT_TRUE(poller.ended || i % 2 == 0);
  emu::ClearCalls();  // keep the rig's log short
}

using PortCycles = monitor_test::BothFaces<MonitorTest>;
KOVIRLM_BOTH_FACES(PortCycles);

TEST_P(PortCycles, AThousandOpenCloseCyclesLeaveNoHeapBlockHandleOrThreadBehind) {
  emu::AttachPrinter("KOVIR1:");
  const bool spoolerKnowsPrinter = diag::AddSpoolerPrinter(kPrinter);
  // One cycle first, so that whatever the platform sets up once is in the baseline.
  Cycle(Spool(), 1);
  const LeakProbe leaks;

  for (int i = 0; i < kCycles && !HasFatalFailure(); ++i) {
    SCOPED_TRACE(i);
    Cycle(Spool(), i);
  }

  EXPECT_TRUE(ListedPorts().empty());
  leaks.ExpectNothingLeaked();
  ASSERT_NE(leaks.before.threads, diag::kUnknown);
  if (spoolerKnowsPrinter) diag::RemoveSpoolerPrinter(kPrinter);
}

}  // namespace
