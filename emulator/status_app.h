// Test rig: a stand-in for the maker's status monitor application. It meets the
// monitor only through the printer's StMonitor key, through the real registry
// calls (ours on Linux, Wine's under Wine).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "emulator/device_monitor.h"
#include "platform/win32.h"

namespace emu::status_app {

// "System\CurrentControlSet\control\Print\Printers\<printer>\StMonitor".
std::string KeyPath(const std::string& printerName);

// Creates the key afresh (a key left from an earlier run is deleted first) and
// registers the application: StMonExistFlag = `presentFlag`,
// IDMDL = `model`, StRealThreadExistFlag = 0, GetRealTimeStatusStartFlag =
// `pollEnabled`, GetRealTimeStatusTime = `pollIntervalMs`.
void Install(const std::string& printerName, const std::string& model, DWORD presentFlag = 1,
             DWORD pollEnabled = 1, DWORD pollIntervalMs = 3000);
// Deletes the key (and only the key) if it exists.
// Writers below create the key when it is missing; readers never do. IDMDL and
// SetString values are stored with their terminator, as a C program would.
void Uninstall(const std::string& printerName);
bool KeyExists(const std::string& printerName);

void SetDword(const std::string& printerName, const std::string& value, DWORD data);
// Writes raw bytes with the given type (for wrong-size and wrong-type values).
void SetRaw(const std::string& printerName, const std::string& value, DWORD type,
            const std::string& bytes);
void SetString(const std::string& printerName, const std::string& value, const std::string& text);
void DeleteValue(const std::string& printerName, const std::string& value);

std::optional<DWORD> ReadDword(const std::string& printerName, const std::string& value);
std::optional<std::string> ReadString(const std::string& printerName, const std::string& value);
// Type and size of a value as stored, if it exists.
struct ValueInfo {
  DWORD type;
  DWORD size;
};
std::optional<ValueInfo> Describe(const std::string& printerName, const std::string& value);
// The value's data exactly as the registry returns it.
std::optional<std::string> ReadRaw(const std::string& printerName, const std::string& value);

// What the application does while a job prints.
void SetRealThreadExists(const std::string& printerName, bool exists);  // StRealThreadExistFlag
void SetPollSettings(const std::string& printerName, DWORD pollEnabled, DWORD pollIntervalMs);
// The application closes: StMonExistFlag 16 and its thread flag down, or, as an
// application that crashed or was killed mid-talk leaves it, StRealThreadExistFlag 1.
void Close(const std::string& printerName, bool leaveThreadFlag = false);
// Acts at a moment the test picks: `act` runs once, on the first device-monitor
// call `when` accepts, on the thread that made the call and before the call
// returns (so a flag written when the status command goes out is there before
// the monitor reads on). Built on emu::SetCallHook, which it replaces; `act` may
// use the registry but not the device-monitor rig.
void ActOnCall(std::function<bool(const Call&)> when, std::function<void()> act);
// What the monitor published: RealTimeStatusStrings and InkLevel, up to their first NUL.
std::optional<std::string> PublishedStatus(const std::string& printerName);
std::optional<std::string> PublishedInkLevel(const std::string& printerName);

}  // namespace emu::status_app
