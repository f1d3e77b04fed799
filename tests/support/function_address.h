// A function pointer's value as a plain address, for comparing a table's slots
// with the functions they should hold.
#pragma once

#include <cstring>

namespace monitor_test {

template <typename Fn>
void* Address(Fn fn) {
  void* address = nullptr;
  static_assert(sizeof fn == sizeof address);
  std::memcpy(&address, &fn, sizeof address);
  return address;
}

}  // namespace monitor_test
