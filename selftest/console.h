// The self-test's output: lines on standard output, through WriteFile, so that it
// shows in a console window and can be redirected to a file to send to support.
#pragma once

#include <windows.h>

namespace selftest {

void WriteLine(LPCSTR text);
// "PASS  text" or "FAIL  text", counted for the summary.
void Report(BOOL passed, LPCSTR text);
// "Summary: N passed, N failed"; the process's exit code: 0 only if none failed.
UINT Summarise();

}  // namespace selftest
