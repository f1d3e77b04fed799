// What every benchmark and probe needs to drive the monitor as the spooler does:
// either spooler's table (the Windows 95 face's MONITOR, the NT face's MONITOR2
// with its monitor handle), ports opened on the sink device monitor for a printer
// the status monitor application has registered, and readings of wall time, CPU
// time and percentiles.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "monitor/monitor.h"
#include "monitor_nt/monitor_nt.h"
#include "platform/win32.h"
#include "port/port_record.h"

namespace bench {

using Clock = std::chrono::steady_clock;

// A printer of the maker, of the model the application registers for every
// bench printer: it gets a status command and a poller, and no ink query.
constexpr char kMatchedModel[] = "KP-6600S";
constexpr char kMatchedDeviceId[] =
    "MFG:KOVIR;CMD:REMOTE1,PCL;MDL:KP-6600S;CLS:PRINTER;DES:KP-6600S;";
// Another maker's printer: identification fails, nothing is sent.
constexpr char kOtherMakerDeviceId[] =
    "MFG:Lindqvist Office;CMD:PCL,PJL;MDL:LO 4020dn;CLS:PRINTER;DES:LO 4020dn;";

// The table InitializeMonitorEx filled; initialised once per process.
const MONITOR& Spooler();
// The NT spooler's instance of the monitor: the table InitializePrintMonitor2
// returned and the monitor handle it gave; made once per process and never shut
// down (the process ends with it).
struct NtSpooler {
  const MONITOR2* table;
  HANDLE monitor;
};
const NtSpooler& SpoolerNt();

// The spooler a port is opened through: the Windows 95 face (ANSI names, the
// sink's 13-slot table) or the NT face (UTF-16 names, the sink's MONITOR2 and its
// instance handle, our monitor handle).
enum class Face { Win95, Nt };

// The face's WritePort, as its spooler's table holds it.
using WritePortFn = BOOL(WINAPI*)(HANDLE, LPBYTE, DWORD, LPDWORD);
WritePortFn SpoolerWrite(Face face);

struct PortSetup {
  std::string port;     // e.g. "BENCH1:"
  std::string printer;  // the spooler's printer name; its StMonitor key is set up afresh
  std::string deviceId = kMatchedDeviceId;
  DWORD pollEnabled = 1;        // GetRealTimeStatusStartFlag
  DWORD pollIntervalMs = 3000;  // GetRealTimeStatusTime
  Face face = Face::Win95;
};

// Attaches a sink printer, registers the printer with the stand-in spooler and the
// status application, and opens the port through the setup's face. Null (with a
// message on stderr) when the monitor refused.
PortRecord* OpenBenchPort(const PortSetup& setup);
// Closes the port through the face that opened it and removes the printer's key.
void CloseBenchPort(PortRecord* record, const PortSetup& setup);

// Starts the sink's count afresh (Totals), then the document: through the
// monitor's face that opened the port, or through any table with its own port
// handle (the device monitor's, for a baseline without the monitor).
BOOL StartDocument(PortRecord* record, const PortSetup& setup, DWORD jobId);
BOOL StartDocument(const MONITOR& table, HANDLE port, const PortSetup& setup, DWORD jobId);
// Through the table of the face that opened the port.
BOOL EndDocument(PortRecord* record);

// CPU time of the whole process (every thread, user and system), and of the
// calling thread, in seconds: getrusage and the thread CPU clock natively,
// GetProcessTimes and GetThreadTimes in the Windows build. Under Wine the
// latter leave out the work the Wine server does for the process (its registry,
// its waits).
double ProcessCpuSeconds();
double ThreadCpuSeconds();

double MillisecondsBetween(Clock::time_point from, Clock::time_point to);

// " (i686 Windows build, Wine)", " (x86-64 Windows build, wine64)" or either
// without Wine in the Windows builds, nothing natively: figure names say where
// they were measured.
const char* BuildLabel();

// The p-th percentile (0 < p <= 100) by nearest rank; NaN for no values.
double Percentile(std::vector<double> values, double p);

}  // namespace bench
