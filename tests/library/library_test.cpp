// The shipped library itself, loaded the way the spooler loads it: by file name,
// its two exports looked up by name, the table filled by its own
// InitializeMonitorEx, and a document driven through that table onto the
// emulated device monitor, which lives here in the test executable. The port
// tests run through the NT family's library too (kovirlmnt.dll; natively the same
// library, which carries both faces), by its InitializePrintMonitor2.
//
// Natively the library carries its own copy of our Win32 layer (its last-error
// code, heap and registry are not the test's); under Wine both sides share the
// real system, so the few assertions that read the library's last error run there
// only.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "emulator/device_monitor.h"
#include "emulator/status_app.h"
#include "emulator/wide_text.h"
#include "platform/win32.h"
#include "port/monitor_table.h"
#include "tests/support/monitor_fixture.h"
#include "tests/support/monitor_slots.h"
#include "tests/support/spooler_face.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace {

using EntryPointFn = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
using InitializeFn = BOOL(WINAPI*)(LPSTR, MONITOR*);
using InitializeNtFn = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
using monitor_test::Face;

#ifdef _WIN32
using ModuleHandle = HMODULE;
ModuleHandle Load(const char* path) {
  return LoadLibraryA(path);
}
void* Find(ModuleHandle module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(module, name));
}
// Whether `address` lies in `module`'s image.
bool InModule(ModuleHandle module, const void* address) {
  HMODULE owner = nullptr;
  return GetModuleHandleExA(
             GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
             static_cast<LPCSTR>(address), &owner) &&
         owner == module;
}
#else
using ModuleHandle = void*;
// dlopen searches the library path for a bare name; the test runs in the build
// folder, next to the library.
ModuleHandle Load(const char* path) {
  return dlopen((std::string("./") + path).c_str(), RTLD_NOW);
}
void* Find(ModuleHandle module, const char* name) {
  return dlsym(module, name);
}
bool InModule(ModuleHandle, const void* address) {
  Dl_info info{};
  return dladdr(address, &info) != 0 && info.dli_fname != nullptr &&
         std::strstr(info.dli_fname, KOVIRLM_LIBRARY_PATH) != nullptr;
}
#endif

// Loaded once and never unloaded, as the spooler keeps a monitor for its life.
ModuleHandle Library() {
  static ModuleHandle module = Load(KOVIRLM_LIBRARY_PATH);
  return module;
}
ModuleHandle NtLibrary() {
  static ModuleHandle module = Load(KOVIRLM_NT_LIBRARY_PATH);
  return module;
}

template <typename Fn>
Fn Export(const char* name, ModuleHandle module = Library()) {
  void* address = Find(module, name);
  Fn fn = nullptr;
  static_assert(sizeof fn == sizeof address);
  std::memcpy(&fn, &address, sizeof fn);
  return fn;
}

// The library's table, filled by its one InitializeMonitorEx. The spooler's table
// arrives with whatever was in its memory before; the library must write every slot.
const MONITOR& LibraryTable() {
  static const MONITOR table = [] {
    MONITOR filled;
    std::memset(&filled, 0xA5, sizeof filled);
    auto initialize = Export<InitializeFn>("InitializeMonitorEx");
    if (initialize == nullptr || !initialize(nullptr, &filled))
      std::memset(&filled, 0, sizeof filled);
    return filled;
  }();
  return table;
}

// The NT library's MONITOR2 and monitor handle, from its one InitializePrintMonitor2.
const monitor_test::NtInstance& NtLibraryInstance() {
  static const monitor_test::NtInstance instance = [] {
    monitor_test::NtInstance made{};
    auto initialize = Export<InitializeNtFn>("InitializePrintMonitor2", NtLibrary());
    if (initialize != nullptr) made.table = initialize(nullptr, &made.handle);
    return made;
  }();
  return instance;
}

TEST(Library, LoadsByFileNameAndExportsItsTwoEntryPointsUndecorated) {
  ASSERT_NE(Library(), nullptr) << KOVIRLM_LIBRARY_PATH << " did not load";
  EXPECT_NE(Find(Library(), "DllEntryPoint"), nullptr);
  EXPECT_NE(Find(Library(), "InitializeMonitorEx"), nullptr);
  // Neither the stdcall-decorated spellings nor the operations behind the table.
  for (const char* hidden : {"_DllEntryPoint@12", "DllEntryPoint@12", "_InitializeMonitorEx@8",
                             "InitializeMonitorEx@8", "OpenPortEx", "ClosePort", "WritePort",
                             "StartDocPort", "PortList", "MonitorLock", "DllMain"}) {
    EXPECT_EQ(Find(Library(), hidden), nullptr) << hidden << " is exported";
  }
}

TEST(Library, DllEntryPointReturnsTrueForEveryReason) {
  ASSERT_NE(Library(), nullptr);
  auto entry = Export<EntryPointFn>("DllEntryPoint");
  ASSERT_NE(entry, nullptr);
  for (DWORD reason :
       {DWORD{DLL_PROCESS_ATTACH}, DWORD{DLL_THREAD_ATTACH}, DWORD{DLL_THREAD_DETACH}}) {
    EXPECT_EQ(entry(static_cast<HINSTANCE>(Library()), reason, nullptr), TRUE) << reason;
  }
}

TEST(Library, InitializeMonitorExFillsSevenSlotsWithItsOwnCodeAndNullsTheRest) {
  ASSERT_NE(Library(), nullptr);
  const std::set<std::string> filled = {
      "pfnOpenPortEx", "pfnStartDocPort",          "pfnWritePort", "pfnReadPort", "pfnEndDocPort",
      "pfnClosePort",  "pfnGetPrinterDataFromPort"};
  std::vector<void*> seen;
  for (const monitor_test::SlotAddress& slot : monitor_test::SlotAddresses(LibraryTable())) {
    SCOPED_TRACE(slot.name);
    if (filled.count(slot.name) == 0) {
      EXPECT_EQ(slot.address, nullptr);
      continue;
    }
    EXPECT_TRUE(InModule(Library(), slot.address)) << "not the library's code";
    for (void* other : seen) EXPECT_NE(slot.address, other);
    seen.push_back(slot.address);
  }
  EXPECT_EQ(seen.size(), filled.size());
}

// The port calls through the face's library: the Windows 95 library's MONITOR
// with ANSI names, or the NT library's MONITOR2 with UTF-16 names.
class LibraryPort : public ::testing::TestWithParam<Face> {
 protected:
  void SetUp() override {
    if (GetParam() == Face::Win95) {
      ASSERT_NE(Library(), nullptr);
      ASSERT_NE(LibraryTable().pfnOpenPortEx, nullptr);
    } else {
      ASSERT_NE(NtLibrary(), nullptr) << KOVIRLM_NT_LIBRARY_PATH << " did not load";
      ASSERT_NE(NtLibraryInstance().table, nullptr);
    }
    emu::Reset();
    emu::AttachPrinter(kPort);
  }
  void TearDown() override {
    emu::status_app::Uninstall(kPrinter);
    emu::Reset();
  }

  bool Nt() const { return GetParam() == Face::Nt; }
  const MONITOR2& Table2() const { return *NtLibraryInstance().table; }

  BOOL Open(const char* port, HANDLE* handle) const {
    if (!Nt()) {
      return LibraryTable().pfnOpenPortEx(const_cast<LPSTR>(port), const_cast<LPSTR>(kPrinter),
                                          handle, emu::DeviceMonitor());
    }
    emu::WideString widePort = emu::Wide(port), widePrinter = emu::Wide(kPrinter);
    return Table2().pfnOpenPortEx(NtLibraryInstance().handle, emu::kPortMonitorInstance,
                                  widePort.data(), widePrinter.data(), handle,
                                  emu::DeviceMonitor2());
  }
  BOOL StartDoc(HANDLE port, DWORD jobId) const {
    if (!Nt()) {
      return LibraryTable().pfnStartDocPort(port, const_cast<LPSTR>(kPrinter), jobId, 1, nullptr);
    }
    emu::WideString widePrinter = emu::Wide(kPrinter);
    return Table2().pfnStartDocPort(port, widePrinter.data(), jobId, 1, nullptr);
  }
  BOOL Write(HANDLE port, LPBYTE bytes, DWORD count, LPDWORD written) const {
    return Nt() ? Table2().pfnWritePort(port, bytes, count, written)
                : LibraryTable().pfnWritePort(port, bytes, count, written);
  }
  BOOL EndDoc(HANDLE port) const {
    return Nt() ? Table2().pfnEndDocPort(port) : LibraryTable().pfnEndDocPort(port);
  }
  BOOL Close(HANDLE port) const {
    return Nt() ? Table2().pfnClosePort(port) : LibraryTable().pfnClosePort(port);
  }

  static constexpr const char* kPort = "KOVIRLIB:";
  static constexpr const char* kPrinter = "KOVIR Library Test";
};

KOVIRLM_BOTH_FACES(LibraryPort);

TEST_P(LibraryPort, PassesADocumentThroughToTheDeviceMonitorByteForByte) {
  HANDLE port = nullptr;
  ASSERT_EQ(Open(kPort, &port), TRUE);

  BYTE early[] = {'x'};
  DWORD written = 77;
  EXPECT_EQ(Write(port, early, sizeof early, &written), FALSE);
  EXPECT_EQ(written, 0u) << "a write before the document must not reach the printer";

  ASSERT_EQ(StartDoc(port, 7), TRUE);
  std::string job = "\x1B%-12345X@PJL JOB\r\n";
  for (int i = 0; i < 256; ++i) job.push_back(static_cast<char>(i));
  std::size_t sent = 0;
  for (std::size_t chunk : {5u, 100u, 500u}) {
    chunk = std::min(chunk, job.size() - sent);
    EXPECT_EQ(
        Write(port, reinterpret_cast<LPBYTE>(&job[sent]), static_cast<DWORD>(chunk), &written),
        TRUE);
    EXPECT_EQ(written, chunk);
    sent += chunk;
  }
  EXPECT_EQ(EndDoc(port), TRUE);
  EXPECT_EQ(Close(port), TRUE);

  EXPECT_EQ(emu::Received(kPort), job);
  EXPECT_FALSE(emu::PortOpen(kPort));
  std::vector<emu::Slot> order;
  for (const emu::Call& call : emu::Calls()) {
    if (call.slot != emu::Slot::GetPrinterDataFromPort && call.slot != emu::Slot::ReadPort) {
      order.push_back(call.slot);
    }
  }
  EXPECT_EQ(order, (std::vector<emu::Slot>{emu::Slot::OpenPort, emu::Slot::StartDocPort,
                                           emu::Slot::WritePort, emu::Slot::WritePort,
                                           emu::Slot::WritePort, emu::Slot::EndDocPort,
                                           emu::Slot::ClosePort}));
  const std::vector<emu::Call> starts = emu::CallsTo(emu::Slot::StartDocPort);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].text, kPrinter);
  EXPECT_EQ(starts[0].number, 7u);
}

TEST_P(LibraryPort, RefusesASecondOpenOfTheSamePortInAnyLetterCase) {
  HANDLE port = nullptr;
  ASSERT_EQ(Open(kPort, &port), TRUE);
  HANDLE again = nullptr;
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(Open("kovirlib:", &again), FALSE);
#ifdef _WIN32
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
#endif
  EXPECT_EQ(again, nullptr);
  EXPECT_EQ(emu::CallsTo(emu::Slot::OpenPort).size(), 1u);
  EXPECT_EQ(Close(port), TRUE);

  // Closed, it opens again.
  ASSERT_EQ(Open("kovirlib:", &again), TRUE);
  EXPECT_EQ(Close(again), TRUE);
}

#ifdef _WIN32
// The busy blocks of the process heap, where the system keeps a record for each
// critical section; -1 where the heap cannot be walked.
long ProcessHeapBlocks() {
  HANDLE heap = GetProcessHeap();
  if (!HeapLock(heap)) return -1;
  long blocks = 0;
  PROCESS_HEAP_ENTRY entry{};
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++blocks;
  }
  const bool walked = GetLastError() == ERROR_NO_MORE_ITEMS;
  HeapUnlock(heap);
  return walked ? blocks : -1;
}

// The spooler unloads the NT DLL once the last Shutdown has returned, and loads it
// again for the next printer. A poller in the middle of a read when Shutdown comes
// is stopped and waited for, so the DLL frees clean, no thread of ours left in it,
// and works as new when loaded again. Its locks go with it each time: loads and
// unloads leave no critical-section record behind in the process heap.
TEST(LibraryNt, FreesCleanAfterShutdownWithAPollerMidReadAndLoadsAgain) {
  // A copy of its own, so that this is its only load and FreeLibrary unmaps it.
  const char* const copy = "kovirlmnt-unload.dll";
  ASSERT_TRUE(CopyFileA(KOVIRLM_NT_LIBRARY_PATH, copy, FALSE));
  const char* const port = "KOVIRUNL:";
  const char* const printer = "KOVIR Unload Test";
  emu::Reset();
  emu::status_app::Install(printer, "KP-6600S", 1, 1, 50);
  emu::WideString widePort = emu::Wide(port), widePrinter = emu::Wide(printer);
  long heapBlocks = -1;
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    emu::AttachPrinter(port, {.deviceId = emu::DeviceIdFor("KP-6600S")});
    const long threadsBefore = diag::CurrentResourceCounts().threads;
    HMODULE module = LoadLibraryA(copy);
    ASSERT_NE(module, nullptr);
    auto initialize = Export<InitializeNtFn>("InitializePrintMonitor2", module);
    ASSERT_NE(initialize, nullptr);
    HANDLE instance = nullptr;
    const MONITOR2* table = initialize(nullptr, &instance);
    ASSERT_NE(table, nullptr);
    HANDLE handle = nullptr;
    ASSERT_TRUE(table->pfnOpenPortEx(instance, emu::kPortMonitorInstance, widePort.data(),
                                     widePrinter.data(), &handle, emu::DeviceMonitor2()));
    ASSERT_TRUE(table->pfnStartDocPort(handle, widePrinter.data(), 1, 1, nullptr));
    emu::SetOffline(port, 300);
    ASSERT_TRUE(monitor_test::WaitUntil([port] { return emu::BlockedCalls(port) == 1; }))
        << "the poller never read";

    table->pfnShutdown(instance);
    EXPECT_FALSE(emu::PortOpen(port));
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_LE(monitor_test::SettledThreadCount(threadsBefore), threadsBefore);
    // The first rounds may fill caches of the system's own; count from the third.
    if (round == 2) heapBlocks = ProcessHeapBlocks();
  }
  const long heapBlocksAfter = ProcessHeapBlocks();
  if (heapBlocks >= 0 && heapBlocksAfter >= 0) {
    EXPECT_LT(heapBlocksAfter - heapBlocks, 16) << "a load and unload leaves records behind";
  }
  emu::status_app::Uninstall(printer);
  emu::Reset();
  DeleteFileA(copy);
}

std::string VersionString(const std::vector<char>& info, const char* name) {
  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  UINT size = 0;
  if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<LPVOID*>(&translation), &size) ||
      size < sizeof *translation) {
    return "(no translation)";
  }
  char path[128];
  wsprintfA(path, "\\StringFileInfo\\%04x%04x\\%s", translation->language, translation->codePage,
            name);
  char* value = nullptr;
  if (!VerQueryValueA(info.data(), path, reinterpret_cast<LPVOID*>(&value), &size)) {
    return "(missing)";
  }
  return value;
}
#endif

TEST(LibraryVersion, CarriesVersion1_1_2_0AndTheStrings1_12) {
#ifndef _WIN32
  GTEST_SKIP() << "the version resource exists only in the Windows build";
#else
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(KOVIRLM_LIBRARY_PATH, &ignored);
  ASSERT_NE(size, 0u) << "no version resource, error " << GetLastError();
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(KOVIRLM_LIBRARY_PATH, 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<LPVOID*>(&fixed), &length));
  ASSERT_GE(length, sizeof *fixed);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);  // 1.1
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00020000u);  // .2.0
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010001u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00020000u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  EXPECT_EQ(VersionString(info, "FileVersion"), "1.12");
  EXPECT_EQ(VersionString(info, "ProductVersion"), "1.12");
#endif
}

}  // namespace
