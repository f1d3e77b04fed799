// The wide (UTF-16) system calls the monitor makes for the NT face's strings.
//
// Windows 95 has none of them working, and the Windows 95 DLL may import nothing
// it lacks. So the monitor calls them only through these two, and each image
// links one of two definitions: wide_calls.cpp, the real calls, in every build but
// the Windows 95 DLL; wide_calls_win95.cpp, calls that fail as Windows 95's stubs
// do (ERROR_CALL_NOT_IMPLEMENTED), in that DLL, whose face never hands the monitor
// a wide string.
#pragma once

#include "platform/win32.h"

// RegOpenKeyExW.
LSTATUS OpenKeyWide(HKEY key, LPCWSTR subKey, REGSAM access, PHKEY result);
// lstrcmpiW: the order of two names, ignoring case as the system does.
int CompareWideIgnoringCase(LPCWSTR first, LPCWSTR second);
