// The stand-in spooler's two faces: the Windows 95 spooler (InitializeMonitorEx's
// MONITOR, ANSI names, the emulator's 13-slot table) and the NT family's
// (InitializePrintMonitor2's MONITOR2, UTF-16 names, the emulator's MONITOR2 and
// its instance handle). A suite that runs through both takes the face as its
// parameter: BothFaces<Fixture> and KOVIRLM_BOTH_FACES(Suite). Names are UTF-8
// throughout the tests; the NT face gets them in UTF-16.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "emulator/device_monitor.h"
#include "emulator/wide_text.h"
#include "monitor/monitor.h"
#include "monitor_nt/monitor_nt.h"
#include "platform/win32.h"
#include "port/device_calls.h"
#include "status_store/status_key.h"

namespace monitor_test {

enum class Face { Win95, Nt };

inline std::string FaceName(const ::testing::TestParamInfo<Face>& info) {
  return info.param == Face::Nt ? "Nt" : "Win95";
}
inline void PrintTo(Face face, std::ostream* out) {
  *out << (face == Face::Nt ? "the NT face" : "the Windows 95 face");
}

// The spooler's MONITOR table, filled by the one InitializeMonitorEx of the
// process (a second call would re-initialise MonitorLock under a running test).
inline const MONITOR& Spooler() {
  static const MONITOR table = [] {
    MONITOR filled{};
    InitializeMonitorEx(nullptr, &filled);
    return filled;
  }();
  return table;
}

// The NT spooler's instance of the monitor: the MONITOR2 table and monitor handle
// from the process's one InitializePrintMonitor2 that tests share. Its Shutdown is
// never called (a test of Shutdown starts an instance of its own).
struct NtInstance {
  const MONITOR2* table;
  HANDLE handle;
};
inline const NtInstance& SpoolerNt() {
  static const NtInstance instance = [] {
    NtInstance made{};
    made.table = InitializePrintMonitor2(nullptr, &made.handle);
    return made;
  }();
  return instance;
}

// Selects `printer`'s key as StartDocPort does on `face`: from the ANSI name, or
// from its UTF-16 form. A null name selects none.
inline void SelectKey(StatusKey& key, const char* printer, Face face) {
  const emu::WideString wide = printer != nullptr ? emu::Wide(printer) : emu::WideString();
  SelectStatusKey(key, face == Face::Win95 ? AnsiText(printer)
                                           : WideText(printer != nullptr ? wide.c_str() : nullptr));
}

// One face's calls, with UTF-8 names. A null printer name (the pointer) is passed
// on as null.
struct SpoolerFace {
  Face face;

  BOOL OpenPort(const std::string& port, const std::string* printer, HANDLE* handle,
                HANDLE instance = nullptr) const {
    return OpenPort(&port, printer, handle, instance);
  }
  BOOL OpenPort(const std::string* port, const std::string* printer, HANDLE* handle,
                HANDLE instance = nullptr) const {
    if (face == Face::Win95) {
      return Spooler().pfnOpenPortEx(port ? const_cast<LPSTR>(port->c_str()) : nullptr,
                                     printer ? const_cast<LPSTR>(printer->c_str()) : nullptr,
                                     handle, emu::DeviceMonitor());
    }
    emu::WideString widePort = port ? emu::Wide(*port) : emu::WideString();
    emu::WideString widePrinter = printer ? emu::Wide(*printer) : emu::WideString();
    return SpoolerNt().table->pfnOpenPortEx(
        instance ? instance : SpoolerNt().handle, emu::kPortMonitorInstance,
        port ? widePort.data() : nullptr, printer ? widePrinter.data() : nullptr, handle,
        emu::DeviceMonitor2());
  }
  BOOL StartDoc(HANDLE port, const std::string* printer, DWORD jobId) const {
    if (face == Face::Win95) {
      return Spooler().pfnStartDocPort(
          port, printer ? const_cast<LPSTR>(printer->c_str()) : nullptr, jobId, 1, nullptr);
    }
    emu::WideString widePrinter = printer ? emu::Wide(*printer) : emu::WideString();
    return SpoolerNt().table->pfnStartDocPort(port, printer ? widePrinter.data() : nullptr, jobId,
                                              1, nullptr);
  }
  // The four calls both tables share are the very same functions; either table's
  // entry is called, so a face that filled it wrongly shows.
  BOOL Write(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written) const {
    return face == Face::Win95 ? Spooler().pfnWritePort(port, buffer, count, written)
                               : SpoolerNt().table->pfnWritePort(port, buffer, count, written);
  }
  BOOL Read(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read) const {
    return face == Face::Win95 ? Spooler().pfnReadPort(port, buffer, count, read)
                               : SpoolerNt().table->pfnReadPort(port, buffer, count, read);
  }
  // The control code that asks for the device ID: 17 on Windows 95, the parallel
  // port's request on the NT family (the rig's printers sit on parallel ports
  // unless a test says otherwise).
  DWORD DeviceIdControl() const { return face == Face::Win95 ? 17 : IOCTL_PAR_QUERY_DEVICE_ID; }
  // The bytes of device ID the monitor asks for through this face.
  DWORD DeviceIdBufferSize() const {
    return face == Face::Win95 ? DEVICE_ID_BUFFER_SIZE : NT_DEVICE_ID_BUFFER_SIZE;
  }
  BOOL GetData(HANDLE port, DWORD control, const std::string* valueName, LPVOID in, DWORD inSize,
               LPVOID out, DWORD outSize, LPDWORD returned) const {
    if (face == Face::Win95) {
      return Spooler().pfnGetPrinterDataFromPort(
          port, control, valueName ? const_cast<LPSTR>(valueName->c_str()) : nullptr,
          static_cast<LPSTR>(in), inSize, static_cast<LPSTR>(out), outSize, returned);
    }
    emu::WideString wideName = valueName ? emu::Wide(*valueName) : emu::WideString();
    return SpoolerNt().table->pfnGetPrinterDataFromPort(
        port, control, valueName ? wideName.data() : nullptr, static_cast<LPWSTR>(in), inSize,
        static_cast<LPWSTR>(out), outSize, returned);
  }
  BOOL EndDoc(HANDLE port) const {
    return face == Face::Win95 ? Spooler().pfnEndDocPort(port)
                               : SpoolerNt().table->pfnEndDocPort(port);
  }
  BOOL Close(HANDLE port) const {
    return face == Face::Win95 ? Spooler().pfnClosePort(port)
                               : SpoolerNt().table->pfnClosePort(port);
  }
};

}  // namespace monitor_test

// A suite whose parameter is the Face runs each test as Suite.Test/Win95 and
// Suite.Test/Nt.
#define KOVIRLM_BOTH_FACES(Suite)                                                                \
  INSTANTIATE_TEST_SUITE_P(, Suite,                                                              \
                           ::testing::Values(monitor_test::Face::Win95, monitor_test::Face::Nt), \
                           monitor_test::FaceName)
