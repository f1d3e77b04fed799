// The Windows 95 DLL's wide calls (platform/wide_calls.h): its face hands the
// monitor ANSI strings only, so none of these is reached there. Each fails as a
// Windows 95 stub of the wide call does, importing nothing.
#include "platform/wide_calls.h"

LSTATUS OpenKeyWide(HKEY, LPCWSTR, REGSAM, PHKEY result) {
  if (result != nullptr) *result = nullptr;
  return ERROR_CALL_NOT_IMPLEMENTED;
}

int CompareWideIgnoringCase(LPCWSTR first, LPCWSTR second) {
  // Only equality is ever asked of it; without the system's case rules, only the
  // same name is equal.
  for (;; ++first, ++second) {
    if (*first != *second) return *first < *second ? -1 : 1;
    if (*first == 0) return 0;
  }
}
