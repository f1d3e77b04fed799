// Test rig: UTF-16 text for the NT face and its spooler, written and read by the
// tests as UTF-8. The monitor itself never converts; only the rig does, to name
// printers and ports in any script from ordinary string literals.
#pragma once

#include <string>

#include "platform/win32.h"

namespace emu {

using WideString = std::basic_string<WCHAR>;

// UTF-8 to UTF-16 (surrogate pairs beyond the first plane); bytes that are not
// UTF-8 are taken as Latin-1 characters.
WideString Wide(const std::string& utf8);
// UTF-16 to UTF-8; null gives "".
std::string Utf8(const WCHAR* wide);

}  // namespace emu
