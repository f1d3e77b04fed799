// The scratch printer's status key (see scratch_key.h). Every access opens the key
// and closes it again, as the monitor itself does.
#include "selftest/scratch_key.h"

namespace selftest {
namespace {

constexpr char kPrintersKey[] = "System\\CurrentControlSet\\control\\Print\\Printers";
constexpr char kPrinterKey[] =
    "System\\CurrentControlSet\\control\\Print\\Printers\\kovirlm self-test";
constexpr char kStatusKey[] =
    "System\\CurrentControlSet\\control\\Print\\Printers\\kovirlm self-test\\StMonitor";

BOOL printerKeyCreated = FALSE;

BOOL SetDword(HKEY key, LPCSTR name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value) == ERROR_SUCCESS;
}

}  // namespace

BOOL CreateScratchKey(DWORD pollIntervalMs) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPrinterKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, &disposition) != ERROR_SUCCESS) {
    return FALSE;
  }
  printerKeyCreated = disposition == REG_CREATED_NEW_KEY;
  RegCloseKey(key);
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kStatusKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, &disposition) != ERROR_SUCCESS) {
    return FALSE;
  }
  // The application is running, has registered the model, has no real-time thread
  // of its own, and wants real-time status every `pollIntervalMs`.
  BOOL written = SetDword(key, "StMonExistFlag", 1) && SetDword(key, "StRealThreadExistFlag", 0) &&
                 SetDword(key, "GetRealTimeStatusStartFlag", 1) &&
                 SetDword(key, "GetRealTimeStatusTime", pollIntervalMs) &&
                 RegSetValueExA(key, "IDMDL", 0, REG_SZ, reinterpret_cast<const BYTE*>("KP-210S"),
                                sizeof "KP-210S") == ERROR_SUCCESS;
  // A value left by an earlier run must not pass for one the monitor wrote now.
  RegDeleteValueA(key, "RealTimeStatusStrings");
  RegDeleteValueA(key, "InkLevel");
  RegDeleteValueA(key, "LanMonExistFlag");
  RegCloseKey(key);
  return written;
}

BOOL ReadScratchDword(LPCSTR name, DWORD* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kStatusKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return FALSE;
  }
  DWORD size = sizeof *value;
  DWORD type = 0;
  const LONG result =
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS && size == sizeof *value;
}

void ReadScratchText(LPCSTR name, char* out, DWORD size) {
  out[0] = '\0';
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kStatusKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD got = size - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &got) !=
      ERROR_SUCCESS) {
    got = 0;
  }
  out[got < size ? got : size - 1] = '\0';
  RegCloseKey(key);
}

BOOL DeleteScratchKey() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPrinterKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    RegDeleteKeyA(key, "StMonitor");
    RegCloseKey(key);
  }
  if (printerKeyCreated &&
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPrintersKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    RegDeleteKeyA(key, kScratchPrinter);
    RegCloseKey(key);
  }
  const BOOL gone =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kStatusKey, 0, KEY_READ, &key) != ERROR_SUCCESS;
  if (!gone) RegCloseKey(key);
  return gone;
}

}  // namespace selftest
