#include "tools/spool_run.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "emulator/device_monitor.h"
#include "emulator/status_app.h"
#include "platform/diagnostics.h"
#include "status_store/status_key.h"
#include "tools/port_tap.h"

namespace spool {
namespace {

// The level-1 document information the spooler passes to StartDocPort.
struct DocInfo1 {
  LPSTR docName;
  LPSTR outputFile;
  LPSTR datatype;
};

constexpr DWORD kJobId = 1;

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}
const char* Result(BOOL ok) {
  return ok ? "TRUE" : "FALSE";
}

// The status application's real-time thread: holds StRealThreadExistFlag at 1
// for a while, which keeps StartDocPort waiting, then clears it.
std::thread HoldThreadFlag(const SpoolOptions& options, Console& console) {
  emu::status_app::SetDword(options.printer, VALUE_STATUS_THREAD, 1);
  console.Event("status app", std::string(VALUE_STATUS_THREAD) + " = 1 for " +
                                  std::to_string(options.holdThreadFlagMs) + " ms");
  return std::thread([&options, &console] {
    std::this_thread::sleep_for(std::chrono::milliseconds(options.holdThreadFlagMs));
    console.Event("status app", std::string("clears ") + VALUE_STATUS_THREAD);
    emu::status_app::SetDword(options.printer, VALUE_STATUS_THREAD, 0);
  });
}

// Writes the job in chunks, at the requested pace, as spooler data.
std::string WriteJob(MONITOR* monitor, HANDLE port, const SpoolOptions& options,
                     const std::string& job, Console& console) {
  const std::size_t chunk = options.paceKiBPerSecond == 0 ? 4096 : 1024;
  const auto start = std::chrono::steady_clock::now();
  std::size_t done = 0;
  console.Progress(0, job.size());
  while (done < job.size()) {
    const DWORD count = static_cast<DWORD>(std::min(chunk, job.size() - done));
    DWORD written = 0;
    BOOL ok;
    {
      JobWriteScope spoolerData;
      ok = monitor->pfnWritePort(
          port, reinterpret_cast<LPBYTE>(const_cast<char*>(job.data() + done)), count, &written);
    }
    if (!ok || written == 0) {
      console.EndProgress();
      return "WritePort failed after " + std::to_string(done) + " of " +
             std::to_string(job.size()) + " bytes";
    }
    done += written;
    console.Progress(done, job.size());
    if (options.paceKiBPerSecond != 0) {
      const auto due = start + std::chrono::microseconds(done * 1000000ull /
                                                         (options.paceKiBPerSecond * 1024ull));
      std::this_thread::sleep_until(due);
    }
  }
  console.EndProgress();
  return "";
}

}  // namespace

void SetUpScenario(const SpoolOptions& options) {
  emu::Reset();
  emu::PrinterOptions printer;
  printer.deviceId = options.deviceId;
  printer.statusUpdateEveryMs = options.statusUpdatesMs;
  emu::AttachPrinter(options.port, printer);
  // The Linux layer's stand-in spooler knows only printers it was told about; on
  // Windows this does nothing and OpenPrinterA meets the real spooler.
  diag::AddSpoolerPrinter(options.printer.c_str());

  emu::status_app::Uninstall(options.printer);
  emu::status_app::Install(options.printer, options.model, options.statusApp ? 1 : 0,
                           DEFAULT_POLL_ENABLED, options.pollIntervalMs);
}

void TearDownScenario(const SpoolOptions& options) {
  emu::status_app::Uninstall(options.printer);
  diag::RemoveSpoolerPrinter(options.printer.c_str());
}

std::string PrintJob(MONITOR* monitor, MONITOR* deviceMonitor, const SpoolOptions& options,
                     const std::string& job, Console& console) {
  std::string portName = options.port;
  std::string printer = options.printer;
  HANDLE port = nullptr;
  console.Event("spooler", "OpenPortEx(" + Quoted(portName) + ", " + Quoted(printer) + ")");
  if (!monitor->pfnOpenPortEx(portName.data(), printer.data(), &port, deviceMonitor)) {
    return "OpenPortEx failed (error " + std::to_string(GetLastError()) + ")";
  }
  console.Event("spooler", "OpenPortEx -> TRUE");

  std::thread holder;
  if (options.holdThreadFlagMs > 0) holder = HoldThreadFlag(options, console);

  std::string docName = options.jobFile.empty() ? "KOVIR demo job" : options.jobFile;
  std::string datatype = "RAW";
  DocInfo1 docInfo{docName.data(), nullptr, datatype.data()};
  console.Event("spooler", "StartDocPort(" + Quoted(printer) + ", job " + std::to_string(kJobId) +
                               ", " + Quoted(docName) + ")");
  const long started = console.ElapsedMs();
  const BOOL docOpen =
      monitor->pfnStartDocPort(port, printer.data(), kJobId, 1, reinterpret_cast<LPBYTE>(&docInfo));
  const DWORD startError = GetLastError();
  console.Event("spooler", std::string("StartDocPort -> ") + Result(docOpen) + " after " +
                               std::to_string(console.ElapsedMs() - started) + " ms");
  if (holder.joinable()) holder.join();

  std::string error;
  if (docOpen) {
    error = WriteJob(monitor, port, options, job, console);
    console.Event("spooler", "EndDocPort");
    const BOOL ended = monitor->pfnEndDocPort(port);
    console.Event("spooler", std::string("EndDocPort -> ") + Result(ended));
  } else {
    error = "StartDocPort failed (error " + std::to_string(startError) + ")";
  }
  console.Event("spooler", "ClosePort");
  const BOOL closed = monitor->pfnClosePort(port);
  console.Event("spooler", std::string("ClosePort -> ") + Result(closed));
  return error;
}

}  // namespace spool
