#include "tools/spool_run.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "emulator/device_monitor.h"
#include "emulator/status_app.h"
#include "emulator/wide_text.h"
#include "platform/diagnostics.h"
#include "status_store/status_key.h"
#include "tools/port_tap.h"

namespace spool {
namespace {

// The level-1 document information the spooler passes to StartDocPort: ANSI
// strings from the Windows 95 spooler, UTF-16 from the NT family's (DOC_INFO_1W).
template <typename Char>
struct DocInfo1 {
  Char* docName;
  Char* outputFile;
  Char* datatype;
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

// The spooler's calls through the loaded face, with the simulator's UTF-8 names.
// The NT face is stacked on the emulated device monitor's MONITOR2 and opened
// with its instance handle and our monitor handle, as the NT spooler does.
bool IsNt(const LoadedMonitor& monitor) {
  return monitor.face == SpoolerFace::Nt;
}

BOOL OpenPort(const LoadedMonitor& monitor, const std::string& portName, const std::string& printer,
              HANDLE* port) {
  if (!IsNt(monitor)) {
    std::string portCopy = portName, printerCopy = printer;
    return monitor.table.pfnOpenPortEx(portCopy.data(), printerCopy.data(), port,
                                       emu::DeviceMonitor());
  }
  emu::WideString widePort = emu::Wide(portName), widePrinter = emu::Wide(printer);
  return monitor.table2->pfnOpenPortEx(monitor.instance, emu::kPortMonitorInstance, widePort.data(),
                                       widePrinter.data(), port, emu::DeviceMonitor2());
}

BOOL StartDoc(const LoadedMonitor& monitor, HANDLE port, const std::string& printer,
              const std::string& docName) {
  if (!IsNt(monitor)) {
    std::string printerCopy = printer, docCopy = docName, datatype = "RAW";
    DocInfo1<char> docInfo{docCopy.data(), nullptr, datatype.data()};
    return monitor.table.pfnStartDocPort(port, printerCopy.data(), kJobId, 1,
                                         reinterpret_cast<LPBYTE>(&docInfo));
  }
  emu::WideString widePrinter = emu::Wide(printer), wideDoc = emu::Wide(docName),
                  datatype = emu::Wide("RAW");
  DocInfo1<WCHAR> docInfo{wideDoc.data(), nullptr, datatype.data()};
  return monitor.table2->pfnStartDocPort(port, widePrinter.data(), kJobId, 1,
                                         reinterpret_cast<LPBYTE>(&docInfo));
}

BOOL WritePort(const LoadedMonitor& monitor, HANDLE port, LPBYTE bytes, DWORD count,
               LPDWORD written) {
  return IsNt(monitor) ? monitor.table2->pfnWritePort(port, bytes, count, written)
                       : monitor.table.pfnWritePort(port, bytes, count, written);
}

BOOL EndDocPort(const LoadedMonitor& monitor, HANDLE port) {
  return IsNt(monitor) ? monitor.table2->pfnEndDocPort(port) : monitor.table.pfnEndDocPort(port);
}

BOOL ClosePort(const LoadedMonitor& monitor, HANDLE port) {
  return IsNt(monitor) ? monitor.table2->pfnClosePort(port) : monitor.table.pfnClosePort(port);
}

// Writes the job in chunks, at the requested pace, as spooler data.
std::string WriteJob(const LoadedMonitor& monitor, HANDLE port, const SpoolOptions& options,
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
      ok = WritePort(monitor, port, reinterpret_cast<LPBYTE>(const_cast<char*>(job.data() + done)),
                     count, &written);
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

std::string EntryLine(const LoadedMonitor& monitor, const std::string& loaded) {
  if (!IsNt(monitor)) return "InitializeMonitorEx -> TRUE (" + loaded + ")";
  return "InitializePrintMonitor2 -> MONITOR2 of " + std::to_string(monitor.table2->cbSize) +
         " bytes and a monitor handle (" + loaded + ")";
}

std::string PrintJob(const LoadedMonitor& monitor, const SpoolOptions& options,
                     const std::string& job, Console& console) {
  const std::string& portName = options.port;
  const std::string& printer = options.printer;
  HANDLE port = nullptr;
  console.Event("spooler", "OpenPortEx(" + Quoted(portName) + ", " + Quoted(printer) + ")");
  if (!OpenPort(monitor, portName, printer, &port)) {
    return "OpenPortEx failed (error " + std::to_string(GetLastError()) + ")";
  }
  console.Event("spooler", "OpenPortEx -> TRUE");

  std::thread holder;
  if (options.holdThreadFlagMs > 0) holder = HoldThreadFlag(options, console);

  const std::string docName = options.jobFile.empty() ? "KOVIR demo job" : options.jobFile;
  console.Event("spooler", "StartDocPort(" + Quoted(printer) + ", job " + std::to_string(kJobId) +
                               ", " + Quoted(docName) + ")");
  const long started = console.ElapsedMs();
  const BOOL docOpen = StartDoc(monitor, port, printer, docName);
  const DWORD startError = GetLastError();
  console.Event("spooler", std::string("StartDocPort -> ") + Result(docOpen) + " after " +
                               std::to_string(console.ElapsedMs() - started) + " ms");
  if (holder.joinable()) holder.join();

  std::string error;
  if (docOpen) {
    error = WriteJob(monitor, port, options, job, console);
    console.Event("spooler", "EndDocPort");
    const BOOL ended = EndDocPort(monitor, port);
    console.Event("spooler", std::string("EndDocPort -> ") + Result(ended));
  } else {
    error = "StartDocPort failed (error " + std::to_string(startError) + ")";
  }
  console.Event("spooler", "ClosePort");
  const BOOL closed = ClosePort(monitor, port);
  console.Event("spooler", std::string("ClosePort -> ") + Result(closed));
  if (IsNt(monitor)) {
    // The NT spooler ends the instance when it stops or no longer needs it.
    console.Event("spooler", "Shutdown");
    monitor.table2->pfnShutdown(monitor.instance);
    console.Event("spooler", "Shutdown returned");
  }
  return error;
}

}  // namespace spool
