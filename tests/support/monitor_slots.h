// The slots of a MONITOR table as plain addresses, for comparing what a table
// holds with the functions it should hold.
#pragma once

#include <cstring>
#include <vector>

#include "port/monitor_table.h"

namespace monitor_test {

template <typename Fn>
void* Address(Fn fn) {
  void* address = nullptr;
  static_assert(sizeof fn == sizeof address);
  std::memcpy(&address, &fn, sizeof address);
  return address;
}

struct SlotAddress {
  const char* name;
  void* address;
};

// All 13 slots, in the table's order.
inline std::vector<SlotAddress> SlotAddresses(const MONITOR& table) {
  static_assert(sizeof(MONITOR) == 13 * sizeof(void*), "every slot is listed below");
  return {
      {"pfnEnumPorts", Address(table.pfnEnumPorts)},
      {"pfnOpenPort", Address(table.pfnOpenPort)},
      {"pfnOpenPortEx", Address(table.pfnOpenPortEx)},
      {"pfnStartDocPort", Address(table.pfnStartDocPort)},
      {"pfnWritePort", Address(table.pfnWritePort)},
      {"pfnReadPort", Address(table.pfnReadPort)},
      {"pfnEndDocPort", Address(table.pfnEndDocPort)},
      {"pfnClosePort", Address(table.pfnClosePort)},
      {"pfnAddPort", Address(table.pfnAddPort)},
      {"pfnConfigurePort", Address(table.pfnConfigurePort)},
      {"pfnDeletePort", Address(table.pfnDeletePort)},
      {"pfnGetPrinterDataFromPort", Address(table.pfnGetPrinterDataFromPort)},
      {"pfnSetPortTimeOuts", Address(table.pfnSetPortTimeOuts)},
  };
}

}  // namespace monitor_test
