// Shared helpers for tests that drive the monitor as the spooler does: through the
// MONITOR table that InitializeMonitorEx fills, with the emulated device monitor
// below it.
//
// - Spooler(), SpoolerNt(), SpoolerFace: the two faces' tables and calls
//   (tests/support/spooler_face.h).
// - MonitorTest: a fixture that resets the emulator before each test, opens ports
//   on emulated printers through its face (the Windows 95 spooler's, unless the
//   suite runs through both: BothFaces and KOVIRLM_BOTH_FACES below), and closes
//   whatever port a test left open, so that the next test (under Wine: in the
//   same process) starts with an empty PortList.
// - PrinterTest: a MonitorTest with a printer of its own, registered with the
//   status application stand-in, and the port a test opens on it.
// - OpenDeviceDocument(): puts a record in the state StartDocPort leaves behind
//   once the device monitor accepted the document, without running StartDocPort.
// - StandInPoller: a thread that behaves at its edges as the status poller must
//   (ends itself once PS_POLLER_RUN clears), for tests of the code that stops it.
// - FinishesWithin() and BackgroundCall: run a call that may block on a thread of
//   its own, so a test can bound the wait or check that the call is still blocked.
// - Signalled(), SettledThreadCount(), DeviceCalls(): an event's state, the thread
//   count once it settled, and the device monitor's log for one port.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "core/port_list.h"
#include "emulator/device_monitor.h"
#include "emulator/status_app.h"
#include "monitor/monitor.h"
#include "platform/diagnostics.h"
#include "platform/win32.h"
#include "port/device_calls.h"
#include "port/port_record.h"
#include "status_store/status_key.h"
#include "tests/support/printer_text.h"
#include "tests/support/spooler_face.h"
#include "tests/support/start_thread.h"

namespace monitor_test {

// Every record in PortList, head first. Takes MonitorLock.
inline std::vector<PortRecord*> ListedPorts() {
  std::vector<PortRecord*> records;
  MonitorLockGuard lock;
  for (PortRecord* record = PortList; record != nullptr; record = record->next) {
    records.push_back(record);
  }
  return records;
}

// Opens a device document on the record the way StartDocPort does once the
// device monitor accepted it: the device's pfnStartDocPort, then PS_JOB_ACTIVE and
// PS_DEVICE_DOC_OPEN. False when the device monitor refused.
inline bool OpenDeviceDocument(PortRecord* record, const char* printerName = "Stand-in",
                               DWORD jobId = 1) {
  const emu::WideString wide = emu::Wide(printerName);
  const SpoolerText name = record->face == FACE_NT ? WideText(wide.c_str()) : AnsiText(printerName);
  if (!DeviceStartDoc(record, name, jobId, 1, nullptr)) {
    return false;
  }
  SetStatusBits(record, PS_JOB_ACTIVE | PS_DEVICE_DOC_OPEN);
  return true;
}

// A stand-in for the status poller. Started by StartStandInPoller as
// StartStatusPoller starts the real one (PS_POLLER_RUN set first, the thread
// handle in record->pollerThread), it waits on the record's pollerStopEvent until
// PS_POLLER_RUN clears, then stays alive `lingerMs` longer, so that a caller
// that does not wait for it is caught, runs `onExit` on its own thread, and ends
// with `exitCode`. The object must outlive the thread.
struct StandInPoller {
  DWORD lingerMs = 0;
  DWORD exitCode = 0;
  std::function<void(PortRecord*)> onExit;

  PortRecord* record = nullptr;
  std::atomic<bool> running{false};  // the thread has started
  std::atomic<bool> ended{false};    // the thread has run its last line
};

inline DWORD WINAPI StandInPollerMain(LPVOID parameter) {
  auto* poller = static_cast<StandInPoller*>(parameter);
  PortRecord* record = poller->record;
  poller->running = true;
  while (HasStatusBits(record, PS_POLLER_RUN)) {
    if (record->pollerStopEvent == nullptr ||
        WaitForSingleObject(record->pollerStopEvent, 50) == WAIT_FAILED) {
      Sleep(10);
    }
  }
  if (poller->lingerMs != 0) Sleep(poller->lingerMs);
  if (poller->onExit) poller->onExit(record);
  const DWORD exitCode = poller->exitCode;
  poller->ended = true;
  return exitCode;
}

// False (with nothing started and PS_POLLER_RUN clear) if no thread could be made.
inline bool StartStandInPoller(PortRecord* record, StandInPoller& poller) {
  poller.record = record;
  if (record->pollerStopEvent != nullptr) ResetEvent(record->pollerStopEvent);
  SetStatusBits(record, PS_POLLER_RUN);
  record->pollerThread = monitor_test::StartThread(StandInPollerMain, &poller);
  if (record->pollerThread == nullptr) {
    ClearStatusBits(record, PS_POLLER_RUN);
    return false;
  }
  return true;
}

inline DWORD WINAPI RunOwnedJob(LPVOID parameter) {
  auto* job = static_cast<std::function<void()>*>(parameter);
  (*job)();
  delete job;
  return 0;
}

// Polls `condition` every few milliseconds until it holds (true) or `limitMs` has
// passed (false). For waits on other threads whose timing a loaded machine
// stretches: the limit is a bound against hanging, never a speed check.
template <typename Condition>
bool WaitUntil(Condition condition, int limitMs = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Sleep(5);
  }
  return true;
}

// The thread count once it fell back to `baseline`, or after 10 s: the system may
// list a thread for a moment after its handle was signalled.
inline long SettledThreadCount(long baseline) {
  WaitUntil([baseline] { return diag::CurrentResourceCounts().threads <= baseline; }, 10000);
  return diag::CurrentResourceCounts().threads;
}

// Runs `work` on a thread of its own and waits at most `limitMs` for it; true when
// it finished. A test that must not hang on the fault it looks for uses this. On a
// time-out the thread is left running, so whatever `work` uses must stay valid.
inline bool FinishesWithin(DWORD limitMs, std::function<void()> work) {
  auto* job = new std::function<void()>(std::move(work));
  HANDLE thread = monitor_test::StartThread(RunOwnedJob, job);
  if (thread == nullptr) {
    delete job;
    return false;
  }
  const bool finished = WaitForSingleObject(thread, limitMs) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return finished;
}

// Runs `work` on a thread of its own, for a test that checks the call is still
// blocked, unblocks it and then waits for it. The thread is always joined (at
// most 10 s after the test let it go; a call still blocked then is reported and
// left behind).
class BackgroundCall {
 public:
  explicit BackgroundCall(std::function<void()> work)
      : work_(new std::function<void()>(std::move(work))) {
    thread_ = monitor_test::StartThread(Run, work_);
  }
  ~BackgroundCall() {
    if (thread_ != nullptr && !FinishedWithin(10000)) {
      ADD_FAILURE() << "a background call never returned";
      return;  // the thread may still run `work_`, so it stays allocated
    }
    if (thread_ != nullptr) CloseHandle(thread_);
    delete work_;
  }
  BackgroundCall(const BackgroundCall&) = delete;
  BackgroundCall& operator=(const BackgroundCall&) = delete;

  bool Started() const { return thread_ != nullptr; }
  bool FinishedWithin(DWORD ms) const { return WaitForSingleObject(thread_, ms) == WAIT_OBJECT_0; }

 private:
  static DWORD WINAPI Run(LPVOID work) {
    (*static_cast<std::function<void()>*>(work))();
    return 0;
  }
  std::function<void()>* work_;
  HANDLE thread_ = nullptr;
};

inline bool Signalled(HANDLE event) {
  return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// The device monitor's calls to `slot` for `port`, in order.
inline std::vector<emu::Call> DeviceCalls(emu::Slot slot, const std::string& port) {
  std::vector<emu::Call> calls;
  for (const emu::Call& call : emu::CallsTo(slot)) {
    if (call.port == port) calls.push_back(call);
  }
  return calls;
}

constexpr char kDefaultPrinter[] = "KOVIR Monitor Test";

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Spooler();
    SpoolerNt();
    emu::Reset();
  }

  void TearDown() override {
    for (PortRecord* record : ListedPorts()) {
      // A listed record without a device port is the trace of a failed open that
      // was not taken back; closing it would close a port nobody opened.
      if (record->devicePort == nullptr) {
        ADD_FAILURE() << "port " << record->portName << " listed but never opened on the device";
        continue;
      }
      Spooler().pfnClosePort(record);
    }
    for (const std::string& printer : spoolerPrinters_) diag::RemoveSpoolerPrinter(printer.c_str());
    for (const std::string& printer : registered_) emu::status_app::Uninstall(printer);
    emu::Reset();
  }

  // The status application stand-in registers `model` for `printer` (arguments as
  // emu::status_app::Install); the key goes at the end of the test.
  void Register(const std::string& printer, const std::string& model, DWORD presentFlag = 1,
                DWORD pollFlag = 1, DWORD intervalMs = 3000) {
    emu::status_app::Install(printer, model, presentFlag, pollFlag, intervalMs);
    registered_.push_back(printer);
  }

  // Deletes `printer`'s key now, whatever an earlier run left in it, and again at
  // the end of the test.
  void Forget(const std::string& printer) {
    emu::status_app::Uninstall(printer);
    registered_.push_back(printer);
  }

  // Attaches an emulated printer to `port`, makes `printer` known to the stand-in
  // spooler (Linux layer only), and opens the port through the spooler's table.
  // Null, with a test failure, when the open fails.
  PortRecord* OpenPort(const std::string& port, const std::string& printer = kDefaultPrinter,
                       const emu::PrinterOptions& options = {}) {
    emu::AttachPrinter(port, options);
    if (diag::AddSpoolerPrinter(printer.c_str())) spoolerPrinters_.push_back(printer);
    HANDLE handle = nullptr;
    const BOOL opened = Spool().OpenPort(port, &printer, &handle);
    EXPECT_TRUE(opened) << "OpenPortEx(" << port << ") failed with " << GetLastError();
    return opened ? static_cast<PortRecord*>(handle) : nullptr;
  }

  // OpenPort, then a device document opened as StartDocPort opens it. Null, with
  // a test failure, when either fails.
  PortRecord* OpenWithDocument(const std::string& port,
                               const std::string& printer = kDefaultPrinter,
                               const emu::PrinterOptions& options = {}) {
    PortRecord* record = OpenPort(port, printer, options);
    if (record == nullptr) return nullptr;
    const bool opened = OpenDeviceDocument(record, printer.c_str());
    EXPECT_TRUE(opened) << "the device refused the document on " << port;
    return opened ? record : nullptr;
  }

  // OpenWithDocument, and `printer`'s status key selected as StartDocPort selects
  // it: the state the job-start exchange meets.
  PortRecord* OpenAtJobStart(const std::string& port, const std::string& printer,
                             const emu::PrinterOptions& options) {
    PortRecord* record = OpenWithDocument(port, printer, options);
    if (record == nullptr) return nullptr;
    SelectKey(record->statusKey, printer.c_str(), face_);
    return record;
  }

  BOOL ClosePort(PortRecord* record) { return Spool().Close(record); }

  // A document through the face's table, for `printer` on the record's port.
  BOOL StartDoc(PortRecord* record, const std::string& printer, DWORD jobId = 1) {
    return Spool().StartDoc(record, &printer, jobId);
  }
  BOOL EndDoc(PortRecord* record) { return Spool().EndDoc(record); }
  // True when WritePort succeeded and took every byte.
  BOOL Write(PortRecord* record, std::string bytes) {
    DWORD written = 0;
    return Spool().Write(record, reinterpret_cast<LPBYTE>(bytes.data()),
                         static_cast<DWORD>(bytes.size()), &written) &&
           written == bytes.size();
  }

  // The calls of the face this test runs through.
  SpoolerFace Spool() const { return SpoolerFace{face_}; }
  Face face_ = Face::Win95;

 private:
  std::vector<std::string> spoolerPrinters_;
  std::vector<std::string> registered_;
};

// `printer_` is named after the running test, behind `prefix`, so that no two
// tests share a key; its key is deleted at the start and at the end.
class PrinterTest : public MonitorTest {
 protected:
  explicit PrinterTest(const std::string& prefix)
      : printer_(prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name()) {
    for (char& c : printer_) {
      if (c == '/') c = ' ';  // a parameterised test's name
    }
    Forget(printer_);
  }

  // A further printer of this test's own, named `printer_` + `suffix`, forgotten
  // as `printer_` is.
  std::string NamePrinter(const std::string& suffix) {
    const std::string printer = printer_ + suffix;
    Forget(printer);
    return printer;
  }

  // The application registers `model` with the given flags; `record_` is then the
  // port opened on an emulated printer with `options`, or null.
  void OpenRegistered(const std::string& port, const std::string& model, DWORD presentFlag,
                      DWORD pollFlag, DWORD intervalMs, const emu::PrinterOptions& options) {
    emu::status_app::Install(printer_, model, presentFlag, pollFlag, intervalMs);
    record_ = OpenPort(port, printer_, options);
  }

  std::string printer_;
  PortRecord* record_ = nullptr;
};

// A suite that runs through both faces: its fixture is BothFaces<Fixture>, its
// tests are TEST_P, and KOVIRLM_BOTH_FACES(Suite) once in its file runs each test
// as Suite.Test/Win95 and Suite.Test/Nt.
template <typename Fixture>
class BothFaces : public Fixture, public ::testing::WithParamInterface<Face> {
 protected:
  BothFaces() { this->face_ = this->GetParam(); }
};

// A suite with cases of its own runs each case through both faces: its fixture
// derives from CasesOnBothFaces<Fixture, Case>, Case() is the test's case, and
// KOVIRLM_CASES_ON_BOTH_FACES(Prefix, Suite, cases, name) instantiates it from the
// generator `cases`, each test named name(case) then the face ("..._Nt").
template <typename Fixture, typename CaseType>
class CasesOnBothFaces : public Fixture,
                         public ::testing::WithParamInterface<std::tuple<CaseType, Face>> {
 protected:
  CasesOnBothFaces() { this->face_ = std::get<1>(this->GetParam()); }
  const CaseType& Case() const { return std::get<0>(this->GetParam()); }
};

}  // namespace monitor_test

#define KOVIRLM_CASES_ON_BOTH_FACES(Prefix, Suite, cases, name)                                 \
  INSTANTIATE_TEST_SUITE_P(                                                                     \
      Prefix, Suite,                                                                            \
      ::testing::Combine(cases,                                                                 \
                         ::testing::Values(monitor_test::Face::Win95, monitor_test::Face::Nt)), \
      [](const auto& info) {                                                                    \
        return std::string(name(std::get<0>(info.param))) +                                     \
               (std::get<1>(info.param) == monitor_test::Face::Nt ? "_Nt" : "_Win95");          \
      })
