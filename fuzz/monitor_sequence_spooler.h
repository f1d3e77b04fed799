// The spooler one monitor-sequence program plays, on the face the program picks:
// the Windows 95 spooler, through the MONITOR table that the process's one
// InitializeMonitorEx filled, or the NT family's, through the MONITOR2 table and
// the instances InitializePrintMonitor2 hands out (one at the input's set-up,
// more when the program asks). The fuzzer names ports and printers in ASCII; the
// NT face gets them in UTF-16. The NT face's device monitor is the emulator's
// MONITOR2, the Windows 95 face's its 13-slot table: the same ports and printers.
//
// Not the tests' SpoolerFace (tests/support/spooler_face.h): that one shares one
// NT instance that is never shut down and needs GoogleTest, while a program here
// starts and shuts down instances of its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fuzz/monitor_sequence_program.h"
#include "platform/win32.h"

namespace sequence {

struct Spooler {
  Face face = Face::Win95;
  std::vector<HANDLE> instances;  // NT face: the instances live now, oldest first
};

// Once per process, before the first input: fills the Windows 95 face's table.
void PrepareFaces();

// NT face: a new instance, listed as the newest; false when none was given.
bool NewInstance(Spooler& spooler);
// NT face: the instance's Shutdown, after it is taken off the list.
void ShutdownInstance(Spooler& spooler, HANDLE instance);

// The spooler's calls on the program's face. `instance` is the NT instance that
// opens the port (ignored on Windows 95); a null printer name goes as null.
BOOL OpenPortOn(const Spooler& spooler, HANDLE instance, const std::string& port,
                const std::string& printer, HANDLE* handle);
BOOL StartDocOn(const Spooler& spooler, HANDLE port, const std::optional<std::string>& printer,
                DWORD jobId);
BOOL WriteOn(const Spooler& spooler, HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written);
BOOL ReadOn(const Spooler& spooler, HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read);
BOOL EndDocOn(const Spooler& spooler, HANDLE port);
BOOL CloseOn(const Spooler& spooler, HANDLE port);
BOOL GetDataOn(const Spooler& spooler, HANDLE port, DWORD controlId, LPVOID outBuffer,
               DWORD outSize, LPDWORD returned);

}  // namespace sequence
