#include "selftest/console.h"

namespace selftest {
namespace {

DWORD passedCount = 0;
DWORD failedCount = 0;

void Write(LPCSTR text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(lstrlenA(text)), &written,
            nullptr);
}

}  // namespace

void WriteLine(LPCSTR text) {
  Write(text);
  Write("\r\n");
}

void Report(BOOL passed, LPCSTR text) {
  ++(passed ? passedCount : failedCount);
  Write(passed ? "PASS  " : "FAIL  ");
  WriteLine(text);
}

UINT Summarise() {
  char line[64];
  wsprintfA(line, "Summary: %lu passed, %lu failed", passedCount, failedCount);
  WriteLine(line);
  return failedCount == 0 && passedCount != 0 ? 0 : 1;
}

}  // namespace selftest
