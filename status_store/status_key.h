// One printer's registry key shared with the maker's status monitor application:
// HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\Print\Printers\<printer>\StMonitor
//
// Each port holds its own StatusKey: the path of its printer's key while a
// document has one selected, and the port's copies of the two poll settings. Every
// operation below works on the key it is given, so nothing one port does lands in
// another printer's key. While no key is selected every operation does nothing and
// reports FALSE (or leaves the poll settings as they were).
//
// Every operation opens the key, does one piece of work and closes it again;
// nothing is cached but the two poll settings.
#pragma once

#include <atomic>

#include "platform/win32.h"
#include "status_store/spooler_text.h"

constexpr char STATUS_KEY_PREFIX[] = "System\\CurrentControlSet\\control\\Print\\Printers\\";
constexpr char STATUS_KEY_SUFFIX[] = "\\StMonitor";
constexpr DWORD STATUS_KEY_BUFFER_SIZE = 1024;
// Longest printer name whose key path fits in the buffer with its terminator.
constexpr DWORD MAX_STATUS_PRINTER_NAME =
    STATUS_KEY_BUFFER_SIZE - (sizeof STATUS_KEY_PREFIX - 1) - (sizeof STATUS_KEY_SUFFIX - 1) - 1;

constexpr DWORD REGISTERED_MODEL_SIZE = 512;  // IDMDL is read into this many bytes
constexpr DWORD DEFAULT_POLL_ENABLED = 1;
constexpr DWORD DEFAULT_POLL_INTERVAL_MS = 3000;

// Value names, as the status monitor application knows them.
constexpr char VALUE_POLL_ENABLED[] = "GetRealTimeStatusStartFlag";
constexpr char VALUE_POLL_INTERVAL[] = "GetRealTimeStatusTime";
constexpr char VALUE_STATUS_MONITOR[] = "StMonExistFlag";
constexpr char VALUE_STATUS_THREAD[] = "StRealThreadExistFlag";
constexpr char VALUE_LAN_MONITOR[] = "LanMonExistFlag";
constexpr char VALUE_STATUS_STRING[] = "RealTimeStatusStrings";
constexpr char VALUE_INK_LEVEL[] = "InkLevel";
constexpr char VALUE_REGISTERED_MODEL[] = "IDMDL";

// The path is kept in the form the printer's name came in: `path` (ANSI, opened
// with RegOpenKeyExA) for the Windows 95 face, `widePath` (UTF-16, opened with
// RegOpenKeyExW) for the NT face, so a printer's key is its exact name whatever
// its characters. At most one of them is non-empty.
//
// Sharing: the path is written only by the port's spooler thread, before the
// port's poller starts and after it has ended, so the poller only ever reads a
// finished path and needs no lock. The poll settings are written by the spooler thread (the
// ink query pauses polling) and by the poller (every settings load), hence atomic.
struct StatusKey {
  char path[STATUS_KEY_BUFFER_SIZE];       // NUL-terminated; empty unless an ANSI key is selected
  WCHAR widePath[STATUS_KEY_BUFFER_SIZE];  // NUL-terminated; empty unless a wide key is selected
  std::atomic<DWORD> pollEnabled;          // GetRealTimeStatusStartFlag; 0 until first loaded
  std::atomic<DWORD> pollInterval;         // GetRealTimeStatusTime, in milliseconds
};

// Selects `printerName`'s key, in the name's own form. A name too long for the
// path buffer, or none at all, selects no key: a truncated path would name
// another printer's key.
void SelectStatusKey(StatusKey& key, SpoolerText printerName);
void ClearStatusKey(StatusKey& key);
bool IsStatusKeySelected(const StatusKey& key);

void LoadPollSettings(StatusKey& key);
void SetPollEnabled(StatusKey& key, DWORD value);
BOOL IsStatusMonitorPresent(const StatusKey& key);
BOOL IsStatusThreadActive(const StatusKey& key);
void SetLanMonitorFlag(const StatusKey& key, BOOL on);
void StoreStatusString(const StatusKey& key, LPCSTR text);
void StoreInkLevel(const StatusKey& key, LPCSTR text);
BOOL ReadRegisteredModel(const StatusKey& key, char (&out)[REGISTERED_MODEL_SIZE]);
