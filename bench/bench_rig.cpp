// The bench rig: ports on the sink device monitor, opened and driven through
// either spooler's table exactly as the tests' fixture does with the test rig's
// printer. The NT face gets every name in UTF-16, as its spooler passes them.
#include "bench/bench_rig.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <time.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "bench/sink_port.h"
#include "emulator/status_app.h"
#include "emulator/wide_text.h"
#include "platform/diagnostics.h"

namespace bench {

const MONITOR& Spooler() {
  static const MONITOR table = [] {
    MONITOR filled{};
    InitializeMonitorEx(nullptr, &filled);
    return filled;
  }();
  return table;
}

const NtSpooler& SpoolerNt() {
  static const NtSpooler instance = [] {
    NtSpooler made{};
    made.table = InitializePrintMonitor2(nullptr, &made.monitor);
    return made;
  }();
  return instance;
}

WritePortFn SpoolerWrite(Face face) {
  return face == Face::Nt ? SpoolerNt().table->pfnWritePort : Spooler().pfnWritePort;
}

namespace {

BOOL OpenThroughFace(const PortSetup& setup, HANDLE* handle) {
  if (setup.face == Face::Win95) {
    return Spooler().pfnOpenPortEx(const_cast<LPSTR>(setup.port.c_str()),
                                   const_cast<LPSTR>(setup.printer.c_str()), handle, SinkMonitor());
  }
  emu::WideString port = emu::Wide(setup.port);
  emu::WideString printer = emu::Wide(setup.printer);
  return SpoolerNt().table->pfnOpenPortEx(SpoolerNt().monitor, kSinkInstance, port.data(),
                                          printer.data(), handle, SinkMonitor2());
}

// The face that opened a port, from its record: the calls after OpenPortEx go
// through that face's table, as its spooler makes them.
bool OpenedByNt(const PortRecord* record) {
  return record->face == FACE_NT;
}

}  // namespace

PortRecord* OpenBenchPort(const PortSetup& setup) {
  AttachSink(setup.port, setup.deviceId);
  diag::AddSpoolerPrinter(setup.printer.c_str());
  emu::status_app::Install(setup.printer, kMatchedModel, 1, setup.pollEnabled,
                           setup.pollIntervalMs);
  HANDLE handle = nullptr;
  if (!OpenThroughFace(setup, &handle)) {
    std::fprintf(stderr, "OpenPortEx(%s)%s failed with %lu\n", setup.port.c_str(),
                 setup.face == Face::Nt ? " through the NT face" : "",
                 static_cast<unsigned long>(GetLastError()));
    return nullptr;
  }
  return static_cast<PortRecord*>(handle);
}

void CloseBenchPort(PortRecord* record, const PortSetup& setup) {
  if (record != nullptr) {
    OpenedByNt(record) ? SpoolerNt().table->pfnClosePort(record) : Spooler().pfnClosePort(record);
  }
  emu::status_app::Uninstall(setup.printer);
  diag::RemoveSpoolerPrinter(setup.printer.c_str());
}

BOOL StartDocument(PortRecord* record, const PortSetup& setup, DWORD jobId) {
  if (setup.face == Face::Win95) return StartDocument(Spooler(), record, setup, jobId);
  StartSinkDocument(setup.port);
  emu::WideString printer = emu::Wide(setup.printer);
  return SpoolerNt().table->pfnStartDocPort(record, printer.data(), jobId, 1, nullptr);
}

BOOL StartDocument(const MONITOR& table, HANDLE port, const PortSetup& setup, DWORD jobId) {
  StartSinkDocument(setup.port);
  return table.pfnStartDocPort(port, const_cast<LPSTR>(setup.printer.c_str()), jobId, 1, nullptr);
}

BOOL EndDocument(PortRecord* record) {
  return OpenedByNt(record) ? SpoolerNt().table->pfnEndDocPort(record)
                            : Spooler().pfnEndDocPort(record);
}

#ifdef _WIN32
namespace {
double Seconds(const FILETIME& time) {
  const ULONGLONG ticks = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<double>(ticks) / 1e7;  // 100 ns units
}
}  // namespace

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return NAN;
  return Seconds(kernel) + Seconds(user);
}

double ThreadCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return NAN;
  return Seconds(kernel) + Seconds(user);
}
#else
double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
#endif

const char* BuildLabel() {
#ifdef _WIN32
  // Wine's ntdll exports its version; Windows' does not.
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  const bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#ifdef _WIN64
  return wine ? " (x86-64 Windows build, wine64)" : " (x86-64 Windows build)";
#else
  return wine ? " (i686 Windows build, Wine)" : " (i686 Windows build)";
#endif
#else
  return "";
#endif
}

double MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * values.size()));
  return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

}  // namespace bench
