// The per-printer registry key shared with the maker's status monitor application:
// HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\Print\Printers\<printer>\StMonitor
//
// One key is "current" module-wide: the most recent StartDocPort on any port makes
// its printer's key current, and any EndDocPort makes none current. While none is
// current every operation below does nothing and reports FALSE (or leaves the poll
// settings as they were).
//
// Every operation opens the current key, does one piece of work and closes it again;
// nothing is cached but the two poll settings.
#pragma once

#include <atomic>

#include "platform/win32.h"

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

// The monitor's copies of GetRealTimeStatusStartFlag and GetRealTimeStatusTime.
// Written by LoadPollSettings and SetPollEnabled on spooler and poller threads;
// read by the poller.
extern std::atomic<DWORD> PollEnabled;
extern std::atomic<DWORD> PollInterval;

// Makes `printerName`'s key current. A name too long for the key buffer makes no
// key current (a truncated path would name another printer's key).
void SelectStatusKey(LPCSTR printerName);
void ClearStatusKey();
// Copies the current key path into `out` (STATUS_KEY_BUFFER_SIZE bytes); FALSE, with
// `out` empty, when no key is current.
BOOL CopyStatusKeyPath(char (&out)[STATUS_KEY_BUFFER_SIZE]);

void LoadPollSettings();
void SetPollEnabled(DWORD value);
BOOL IsStatusMonitorPresent();
BOOL IsStatusThreadActive();
void SetLanMonitorFlag(BOOL on);
void StoreStatusString(LPCSTR text);
void StoreInkLevel(LPCSTR text);
BOOL ReadRegisteredModel(char (&out)[REGISTERED_MODEL_SIZE]);
