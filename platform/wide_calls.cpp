// The wide calls themselves, for every build but the Windows 95 DLL
// (platform/wide_calls.h).
#include "platform/wide_calls.h"

LSTATUS OpenKeyWide(HKEY key, LPCWSTR subKey, REGSAM access, PHKEY result) {
  return RegOpenKeyExW(key, subKey, 0, access, result);
}

int CompareWideIgnoringCase(LPCWSTR first, LPCWSTR second) {
  return lstrcmpiW(first, second);
}
