// The NT-family spooler's names for a print monitor: MONITORINIT, MONITOR2 and
// the device I/O control codes that ask a port's driver for the device ID. The
// Windows builds take them from the toolchain's own headers; the Linux build gets
// the same layout from platform/posix/winsplp_posix.h.
#pragma once

#include "platform/win32.h"

#ifdef _WIN32
// winsplp.h also declares the NT family's own 13-entry MONITOR (wide strings) and
// an InitializeMonitorEx of wide strings. The Windows 95 face has a MONITOR and an
// InitializeMonitorEx of its own (port/monitor_table.h, monitor/monitor.h), so
// those names are set aside while the header is read: both faces' types can then
// meet in one file.
#define _MONITOR KovirlmNtMonitor_
#define MONITOR KovirlmNtMonitor
#define LPMONITOR KovirlmNtLpMonitor
#define InitializeMonitorEx KovirlmNtInitializeMonitorEx
#include <winsplp.h>
#undef _MONITOR
#undef MONITOR
#undef LPMONITOR
#undef InitializeMonitorEx
#include <ntddpar.h>
#include <usbprint.h>
#else
#include "platform/posix/winsplp_posix.h"
#endif
