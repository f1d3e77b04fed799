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
#define KOVIRLM_SLOT(slot) SlotAddress{#slot, Address(table.slot)}
  std::vector<SlotAddress> slots = {
      KOVIRLM_SLOT(pfnEnumPorts),       KOVIRLM_SLOT(pfnOpenPort),
      KOVIRLM_SLOT(pfnOpenPortEx),      KOVIRLM_SLOT(pfnStartDocPort),
      KOVIRLM_SLOT(pfnWritePort),       KOVIRLM_SLOT(pfnReadPort),
      KOVIRLM_SLOT(pfnEndDocPort),      KOVIRLM_SLOT(pfnClosePort),
      KOVIRLM_SLOT(pfnAddPort),         KOVIRLM_SLOT(pfnConfigurePort),
      KOVIRLM_SLOT(pfnDeletePort),      KOVIRLM_SLOT(pfnGetPrinterDataFromPort),
      KOVIRLM_SLOT(pfnSetPortTimeOuts),
  };
#undef KOVIRLM_SLOT
  return slots;
}

}  // namespace monitor_test
