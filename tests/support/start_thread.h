// CreateThread as a Windows 95 program must call it: with a thread-id variable.
// Windows 95 and 98 refuse a null one, and so does the Linux layer; the tests
// that only want a thread started have no use for the id.
#pragma once

#include "platform/win32.h"

namespace monitor_test {

inline HANDLE StartThread(LPTHREAD_START_ROUTINE routine, LPVOID parameter, SIZE_T stackSize = 0) {
  DWORD id = 0;
  return CreateThread(nullptr, stackSize, routine, parameter, 0, &id);
}

}  // namespace monitor_test
