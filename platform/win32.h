// The one include for Win32 names. The Windows build gets the real <windows.h>;
// the Linux build gets our own layer with the same names and the same semantics
// for every case the monitor and its test rig use. Nothing else in the tree may
// depend on which one it got.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/posix/win32_posix.h"
#endif
