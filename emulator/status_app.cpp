// The status-application stand-in. Every access opens the printer's key, does one
// thing and closes it, through the same registry calls the monitor uses, so both
// meet in one store: ours natively, Wine's real registry under Wine.
//
// Printer names are UTF-8; keys are opened by their UTF-16 names. Writers create
// the key when it is missing (the application owns the key);
// readers never create it. The registry serialises concurrent calls itself, and
// this file keeps no state of its own (ActOnCall's lives in the rig's hook), so
// every function may be called from any thread.
#include "emulator/status_app.h"

#include <memory>
#include <vector>

#include "emulator/wide_text.h"

namespace emu::status_app {
namespace {

constexpr char kPrefix[] = "System\\CurrentControlSet\\control\\Print\\Printers\\";
constexpr char kSuffix[] = "\\StMonitor";

// An open key, closed when the guard goes out of scope.
struct KeyGuard {
  HKEY key = nullptr;
  KeyGuard() = default;
  KeyGuard(const KeyGuard&) = delete;
  KeyGuard& operator=(const KeyGuard&) = delete;
  ~KeyGuard() {
    if (key != nullptr) RegCloseKey(key);
  }
};

// The key by its exact name, in UTF-16, as an application on the NT family opens
// it: a printer name in any script is its own key. ASCII and Latin-1 names are
// the same keys the ANSI calls open.
WideString WidePath(const std::string& printerName) {
  return Wide(KeyPath(printerName));
}

bool OpenForWrite(const std::string& printerName, KeyGuard& guard) {
  DWORD disposition = 0;
  return RegCreateKeyExW(HKEY_LOCAL_MACHINE, WidePath(printerName).c_str(), 0, nullptr,
                         REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &guard.key,
                         &disposition) == ERROR_SUCCESS;
}

bool OpenForRead(const std::string& printerName, KeyGuard& guard) {
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, WidePath(printerName).c_str(), 0, KEY_READ,
                       &guard.key) == ERROR_SUCCESS;
}

void WriteValue(const std::string& printerName, const std::string& value, DWORD type,
                const void* data, DWORD size) {
  KeyGuard guard;
  if (!OpenForWrite(printerName, guard)) return;
  RegSetValueExA(guard.key, value.c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

}  // namespace

std::string KeyPath(const std::string& printerName) {
  return std::string(kPrefix) + printerName + kSuffix;
}

// Any key left from an earlier run (Wine's registry outlives the process) is
// replaced, so the monitor's values from that run are gone.
void Install(const std::string& printerName, const std::string& model, DWORD presentFlag,
             DWORD pollEnabled, DWORD pollIntervalMs) {
  Uninstall(printerName);
  SetDword(printerName, "StMonExistFlag", presentFlag);
  SetString(printerName, "IDMDL", model);
  SetDword(printerName, "StRealThreadExistFlag", 0);
  SetDword(printerName, "GetRealTimeStatusStartFlag", pollEnabled);
  SetDword(printerName, "GetRealTimeStatusTime", pollIntervalMs);
}

void Uninstall(const std::string& printerName) {
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, WidePath(printerName).c_str());
}

bool KeyExists(const std::string& printerName) {
  KeyGuard guard;
  return OpenForRead(printerName, guard);
}

void SetDword(const std::string& printerName, const std::string& value, DWORD data) {
  WriteValue(printerName, value, REG_DWORD, &data, sizeof data);
}

void SetRaw(const std::string& printerName, const std::string& value, DWORD type,
            const std::string& bytes) {
  WriteValue(printerName, value, type, bytes.data(), static_cast<DWORD>(bytes.size()));
}

// Written with its terminator, as an application storing a C string would.
void SetString(const std::string& printerName, const std::string& value, const std::string& text) {
  WriteValue(printerName, value, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void DeleteValue(const std::string& printerName, const std::string& value) {
  KeyGuard guard;
  if (!OpenForWrite(printerName, guard)) return;
  RegDeleteValueA(guard.key, value.c_str());
}

std::optional<ValueInfo> Describe(const std::string& printerName, const std::string& value) {
  KeyGuard guard;
  if (!OpenForRead(printerName, guard)) return std::nullopt;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(guard.key, value.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return ValueInfo{type, size};
}

std::optional<std::string> ReadRaw(const std::string& printerName, const std::string& value) {
  KeyGuard guard;
  if (!OpenForRead(printerName, guard)) return std::nullopt;
  DWORD size = 0;
  if (RegQueryValueExA(guard.key, value.c_str(), nullptr, nullptr, nullptr, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<BYTE> data(size + 1);
  DWORD type = 0;
  if (RegQueryValueExA(guard.key, value.c_str(), nullptr, &type, data.data(), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::string(reinterpret_cast<const char*>(data.data()), size);
}

// Only a 4-byte REG_DWORD counts: anything else is not a flag this application wrote
// or could read.
std::optional<DWORD> ReadDword(const std::string& printerName, const std::string& value) {
  KeyGuard guard;
  if (!OpenForRead(printerName, guard)) return std::nullopt;
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  if (RegQueryValueExA(guard.key, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data),
                       &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof data) {
    return std::nullopt;
  }
  return data;
}

// The text up to its first NUL, whether or not it was stored with a terminator.
std::optional<std::string> ReadString(const std::string& printerName, const std::string& value) {
  std::optional<std::string> raw = ReadRaw(printerName, value);
  if (!raw) return std::nullopt;
  const std::size_t nul = raw->find('\0');
  if (nul != std::string::npos) raw->resize(nul);
  return raw;
}

void SetRealThreadExists(const std::string& printerName, bool exists) {
  SetDword(printerName, "StRealThreadExistFlag", exists ? 1 : 0);
}

void SetPollSettings(const std::string& printerName, DWORD pollEnabled, DWORD pollIntervalMs) {
  SetDword(printerName, "GetRealTimeStatusStartFlag", pollEnabled);
  SetDword(printerName, "GetRealTimeStatusTime", pollIntervalMs);
}

void Close(const std::string& printerName, bool leaveThreadFlag) {
  SetDword(printerName, "StMonExistFlag", 16);
  SetRealThreadExists(printerName, leaveThreadFlag);
}

void ActOnCall(std::function<bool(const Call&)> when, std::function<void()> act) {
  auto done = std::make_shared<bool>(false);  // the hook's calls come one at a time
  SetCallHook([when = std::move(when), act = std::move(act), done](const Call& call) {
    if (*done || !when(call)) return;
    *done = true;
    act();
  });
}

std::optional<std::string> PublishedStatus(const std::string& printerName) {
  return ReadString(printerName, "RealTimeStatusStrings");
}

std::optional<std::string> PublishedInkLevel(const std::string& printerName) {
  return ReadString(printerName, "InkLevel");
}

}  // namespace emu::status_app
