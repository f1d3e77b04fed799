// The scratch printer's status key:
// HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\Print\Printers\kovirlm self-test\StMonitor
// The self-test creates it with the values the KOVIR status monitor application
// would write for a registered KP-210S, reads what the monitor writes there, and
// deletes it again. The printer's own key is deleted only if this run created it.
#pragma once

#include <windows.h>

namespace selftest {

constexpr char kScratchPrinter[] = "kovirlm self-test";

// Creates the key and writes the application's values; FALSE if it cannot.
BOOL CreateScratchKey(DWORD pollIntervalMs);
// FALSE when the value is missing or not 4 bytes.
BOOL ReadScratchDword(LPCSTR name, DWORD* value);
// The string value, cut to fit and always terminated; empty when missing.
void ReadScratchText(LPCSTR name, char* out, DWORD size);
// Deletes StMonitor (and the printer's key if created here); TRUE when StMonitor
// is gone afterwards.
BOOL DeleteScratchKey();

}  // namespace selftest
