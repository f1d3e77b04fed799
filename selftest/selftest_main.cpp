// kovirlm-selftest.exe: proves, in about ten seconds on the user's own Windows 95,
// 98 or Me PC, that kovirlm.dll loads there and does its work on that system and
// CPU. It plays the spooler: loads the DLL from its own folder, calls
// InitializeMonitorEx, stacks the monitor on a device monitor in this process
// with an emulated KOVIR KP-210S (device_port.h), and prints one job for a scratch
// printer whose status key it creates and deletes again (scratch_key.h). One
// PASS/FAIL line per check, a summary, and exit code 1 on any failure.
//
// The program obeys the DLL's rules (tests/win95_image.cmake): i486 code, imports
// only functions Windows 95 exports, no C runtime. So there is no main(): the
// image is entered at SelfTestMain, and everything here is plain Win32 calls
// and fixed buffers.
//
// Built with KOVIRLM_SELFTEST_NT it is kovirlmnt-selftest.exe, which checks
// kovirlmnt.dll the same way on Windows 2000 and later (x86 and x64): it plays
// the NT family's spooler, through InitializePrintMonitor2, the MONITOR2 table
// with wide strings and a monitor handle, and ends with Shutdown.
#include <windows.h>

#include "port/monitor_table.h"
#include "selftest/console.h"
#include "selftest/device_port.h"
#include "selftest/scratch_key.h"
#include "selftest/thread_count.h"

namespace selftest {
namespace {

constexpr DWORD kJobSize = 1024 * 1024;
constexpr DWORD kWriteSize = 4096;
constexpr DWORD kPollIntervalMs = 200;
// Bounds on waits for the poller, never speed checks: a slow PC still passes.
constexpr DWORD kPublishLimitMs = 10000;
constexpr DWORD kThreadLimitMs = 5000;
#ifdef KOVIRLM_SELFTEST_NT
constexpr char kMonitorFile[] = "kovirlmnt.dll";
constexpr char kEntryName[] = "InitializePrintMonitor2";
using SpoolerTable = MONITOR2;
using DeviceTable = MONITOR2;
// Writable, as the spooler's table takes them.
WCHAR portName[] = L"KVRTEST:";
WCHAR printerName[] = L"kovirlm self-test";
using DocInfo = DOC_INFO_1W;
// The monitor handle InitializePrintMonitor2 gave, for OpenPortEx and Shutdown.
HANDLE monitorHandle = nullptr;
#else
constexpr char kMonitorFile[] = "kovirlm.dll";
constexpr char kEntryName[] = "InitializeMonitorEx";
using SpoolerTable = MONITOR;
using DeviceTable = MONITOR;
char portName[] = "KVRTEST:";
char printerName[] = "kovirlm self-test";
using DocInfo = DOC_INFO_1A;
#endif

// Asks the DLL's entry point for the spooler's table.
BOOL FillTable(FARPROC entry, SpoolerTable* spooler) {
  if (entry == nullptr) return FALSE;
#ifdef KOVIRLM_SELFTEST_NT
  using InitializePrintMonitor2Fn = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
  MONITORINIT init = {};
  init.cbSize = sizeof init;
  init.bLocal = TRUE;
  LPMONITOR2 table = reinterpret_cast<InitializePrintMonitor2Fn>(reinterpret_cast<void*>(entry))(
      &init, &monitorHandle);
  if (table == nullptr || table->cbSize < sizeof(DWORD) || table->pfnShutdown == nullptr) {
    return FALSE;
  }
  *spooler = *table;
  return TRUE;
#else
  using InitializeMonitorExFn = BOOL(WINAPI*)(LPSTR, LPMONITOR);
  return reinterpret_cast<InitializeMonitorExFn>(reinterpret_cast<void*>(entry))(nullptr, spooler);
#endif
}

bool StartsWith(LPCSTR text, LPCSTR prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (*text != *prefix) return false;  // also stops at text's terminator
  }
  return true;
}

// Leaves `out` holding the folder of this program, with its final backslash.
void OwnFolder(char (&out)[MAX_PATH]) {
  const DWORD length = GetModuleFileNameA(nullptr, out, MAX_PATH);
  DWORD cut = 0;
  for (DWORD i = 0; i < length && i < MAX_PATH; ++i) {
    if (out[i] == '\\' || out[i] == '/') cut = i + 1;
  }
  out[cut] = '\0';
}

void DescribeSystem() {
  OSVERSIONINFOA version;
  version.dwOSVersionInfoSize = sizeof version;
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  char line[256];
  if (GetVersionExA(&version)) {
    // Windows 95, 98 and Me put a space in front of their letter (" A", " C"); NT does not.
    const char* separator = version.szCSDVersion[0] == ' ' ? "" : " ";
    wsprintfA(line, "kovirlm self-test %s on Windows %lu.%lu.%lu%s%s (%s), processor type %lu",
              KOVIRLM_VERSION_STRING, version.dwMajorVersion, version.dwMinorVersion,
              version.dwBuildNumber & 0xFFFF, separator, version.szCSDVersion,
              version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? "95/98/Me" : "NT",
              system.dwProcessorType);
  } else {
    wsprintfA(line, "kovirlm self-test %s", KOVIRLM_VERSION_STRING);
  }
  WriteLine(line);
}

// Loads the DLL from this program's folder and has it fill `spooler`.
BOOL LoadMonitor(SpoolerTable* spooler) {
  char path[MAX_PATH + 16];
  char folder[MAX_PATH];
  OwnFolder(folder);
  wsprintfA(path, "%s%s", folder, kMonitorFile);
  char line[MAX_PATH + 96];
  HMODULE module = LoadLibraryA(path);
  if (module == nullptr) {
    wsprintfA(line, "%s does not load from %s (error %lu)", kMonitorFile, path, GetLastError());
    Report(FALSE, line);
    return FALSE;
  }
  const BOOL filled = FillTable(GetProcAddress(module, kEntryName), spooler) &&
                      spooler->pfnOpenPortEx && spooler->pfnStartDocPort && spooler->pfnWritePort &&
                      spooler->pfnReadPort && spooler->pfnEndDocPort && spooler->pfnClosePort &&
                      spooler->pfnGetPrinterDataFromPort;
  wsprintfA(line, "%s loads from %s and %s %s", kMonitorFile, path, kEntryName,
            filled ? "fills the port operations" : "fails or leaves port operations empty");
  Report(filled, line);
  return filled;
}

// The job: a fixed pseudo-random pattern, so that any lost, doubled or changed
// byte shows in the comparison.
void MakeJob(BYTE* job) {
  DWORD state = 0x4B4F5649;
  for (DWORD i = 0; i < kJobSize; ++i) {
    state = state * 1103515245u + 12345u;
    job[i] = static_cast<BYTE>(state >> 24);
  }
}

BOOL SendJob(const SpoolerTable& spooler, HANDLE port, BYTE* job) {
  for (DWORD sent = 0; sent < kJobSize; sent += kWriteSize) {
    DWORD written = 0;
    if (!spooler.pfnWritePort(port, job + sent, kWriteSize, &written) || written != kWriteSize) {
      return FALSE;
    }
  }
  return TRUE;
}

void CheckJobArrived(const BYTE* job, const BYTE* received, BOOL sent) {
  const PrinterLog log = ReadPrinterLog();
  DWORD firstDifference = kJobSize;
  for (DWORD i = 0; i < kJobSize && i < log.jobBytes; ++i) {
    if (job[i] != received[i]) {
      firstDifference = i;
      break;
    }
  }
  char line[160];
  if (firstDifference == kJobSize) {
    wsprintfA(line, "a 1 MiB job arrives byte-exact (%lu of %lu bytes)", log.jobBytes, kJobSize);
  } else {
    wsprintfA(line, "a 1 MiB job arrives byte-exact (%lu of %lu bytes, first difference at %lu)",
              log.jobBytes, kJobSize, firstDifference);
  }
  Report(sent && log.jobBytes == kJobSize && firstDifference == kJobSize, line);
}

void CheckCommands() {
  const PrinterLog log = ReadPrinterLog();
  const BOOL commandA = log.statusCommands == 1 && log.statusResetFirst &&
                        log.statusParameter[0] == 0x00 && log.statusParameter[1] == 0x01;
  char line[160];
  wsprintfA(line, "the KP-210S gets StatusCommandA and then the ink query (%lu status, %lu ink)",
            log.statusCommands, log.inkQueries);
  Report(commandA && log.inkQueries == 1 && log.inkQueryAfterStatus, line);

  char inkLevel[128];
  ReadScratchText("InkLevel", inkLevel, sizeof inkLevel);
  wsprintfA(line, "InkLevel in the key: \"%s\"", inkLevel);
  Report(lstrcmpA(inkLevel, kExpectedInkLevel) == 0, line);
}

// The poller is the thread StartDocPort added; it publishes a status update the
// printer volunteered.
void CheckPoller(DWORD threadsBefore, DWORD threadsDuring) {
  char status[128];
  const DWORD start = GetTickCount();
  for (;;) {
    ReadScratchText("RealTimeStatusStrings", status, sizeof status);
    if (StartsWith(status, kStatusUpdatePrefix)) break;
    if (GetTickCount() - start > kPublishLimitMs) break;
    Sleep(50);
  }
  char line[200];
  wsprintfA(line, "the poller starts (threads %lu -> %lu) and publishes \"%s\"", threadsBefore,
            threadsDuring, status);
  Report(threadsDuring == threadsBefore + 1 && StartsWith(status, kStatusUpdatePrefix), line);
}

void CheckEndDocPort(const SpoolerTable& spooler, HANDLE port, DWORD threadsBefore) {
  DWORD flagDuring = 0xFFFFFFFF;
  ReadScratchDword("LanMonExistFlag", &flagDuring);
  const BOOL ended = spooler.pfnEndDocPort(port);
  const DWORD threadsAfter = WaitForThreadCount(threadsBefore, kThreadLimitMs);
  DWORD flagAfter = 0xFFFFFFFF;
  ReadScratchDword("LanMonExistFlag", &flagAfter);
  const DWORD readsAfter = ReadPrinterLog().readsAfterEnd;
  char line[160];
  wsprintfA(line, "EndDocPort stops the poller and lowers LanMonExistFlag (%lu -> %lu)", flagDuring,
            flagAfter);
  Report(ended && flagDuring == 1 && flagAfter == 0 && readsAfter == 0, line);
  wsprintfA(line, "no thread is left (%lu before the document, %lu after)", threadsBefore,
            threadsAfter);
  Report(threadsAfter == threadsBefore, line);
}

void Run() {
  DescribeSystem();
  SpoolerTable spooler = {};
  if (!LoadMonitor(&spooler)) return;

  auto* job = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, kJobSize));
  auto* received = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, kJobSize));
  if (job == nullptr || received == nullptr) {
    Report(FALSE, "2 MiB of memory for the job");
    return;
  }
  MakeJob(job);
  DeviceTable device = {};
  SetUpDevicePort(&device, received, kJobSize);

  if (!CreateScratchKey(kPollIntervalMs)) {
    Report(FALSE, "the scratch printer's StMonitor key cannot be created (administrator rights?)");
    DeleteScratchKey();
    return;
  }

  HANDLE port = nullptr;
  const DWORD threadsBefore = CountOwnThreads();
  DocInfo document = {printerName, nullptr, nullptr};
#ifdef KOVIRLM_SELFTEST_NT
  const BOOL opened = spooler.pfnOpenPortEx(monitorHandle, nullptr, portName, printerName, &port,
                                            &device);
#else
  const BOOL opened = spooler.pfnOpenPortEx(portName, printerName, &port, &device);
#endif
  const BOOL started =
      opened &&
      spooler.pfnStartDocPort(port, printerName, 1, 1, reinterpret_cast<LPBYTE>(&document));
  Report(started, "OpenPortEx and StartDocPort on the emulated KP-210S");
  if (started) {
    const DWORD threadsDuring = CountOwnThreads();
    CheckCommands();
    const BOOL sent = SendJob(spooler, port, job);
    CheckPoller(threadsBefore, threadsDuring);
    CheckEndDocPort(spooler, port, threadsBefore);
    CheckJobArrived(job, received, sent);
  }
  if (port != nullptr) spooler.pfnClosePort(port);
#ifdef KOVIRLM_SELFTEST_NT
  spooler.pfnShutdown(monitorHandle);
#endif
  Report(DeleteScratchKey(), "the scratch printer's StMonitor key is deleted again");
}

}  // namespace
}  // namespace selftest

// The image's entry point (there is no C runtime to call a main). It never returns:
// ExitProcess ends the process with the result.
extern "C" void SelfTestMain() {
  selftest::Run();
  ExitProcess(selftest::Summarise());
}
