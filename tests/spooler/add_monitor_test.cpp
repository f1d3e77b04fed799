// Wine's own spooler, an NT-family spooler nobody here wrote, as a client of the
// DLLs: it installs a print monitor (AddMonitor, level 2) only from a DLL whose
// InitializePrintMonitor2 hands it a table, lists what it installed
// (EnumMonitors) and removes it again (DeleteMonitor). The NT DLL of this build's
// architecture must go through all three; the Windows 95 DLL, which has no
// InitializePrintMonitor2, must be refused.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

namespace {

WCHAR kMonitorName[] = L"KOVIR Language Monitor (test)";

// The DLL beside the test program, by its whole path: the spooler loads it from
// there rather than from the system folder.
std::wstring BesideTheProgram(const char* file) {
  WCHAR path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.erase(folder.find_last_of(L'\\') + 1);
  return folder + std::wstring(file, file + std::string(file).size());
}

bool Listed(const WCHAR* name) {
  DWORD needed = 0, count = 0;
  EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed + sizeof(MONITOR_INFO_2W));
  if (!EnumMonitorsW(nullptr, 2, buffer.data(), static_cast<DWORD>(buffer.size()), &needed,
                     &count)) {
    ADD_FAILURE() << "EnumMonitors failed with " << GetLastError();
    return false;
  }
  const auto* monitors = reinterpret_cast<const MONITOR_INFO_2W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    if (lstrcmpW(monitors[i].pName, name) == 0) return true;
  }
  return false;
}

BOOL Install(std::wstring dll) {
  MONITOR_INFO_2W info{kMonitorName, nullptr, dll.data()};
  return AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
}

TEST(SpoolerMonitor, TheNtDllIsInstalledListedAndRemoved) {
  DeleteMonitorW(nullptr, nullptr, kMonitorName);  // an interrupted run's
  ASSERT_TRUE(Install(BesideTheProgram(KOVIRLM_NT_LIBRARY_PATH))) << GetLastError();
  EXPECT_TRUE(Listed(kMonitorName));
  EXPECT_TRUE(DeleteMonitorW(nullptr, nullptr, kMonitorName)) << GetLastError();
  EXPECT_FALSE(Listed(kMonitorName));
}

TEST(SpoolerMonitor, TheWindows95DllIsRefused) {
  SetLastError(0);
  EXPECT_FALSE(Install(BesideTheProgram(KOVIRLM_LIBRARY_PATH)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_FALSE(Listed(kMonitorName));
}

}  // namespace
