// The printer's StMonitor key as a Windows user knows it: REGEDIT4 text, one
// "name"=data line per value. The values are read with the real registry calls
// (our Linux layer natively, Wine's registry under Wine).
//
// The registry layer has no value enumeration, so the key is read by name: the
// four values the status application owns, IDMDL, and the three the monitor
// writes, always in that order. That fixed order also lets two runs' exports be
// compared line by line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace spool {

struct RegValue {
  std::string name;
  DWORD type = 0;
  std::string data;  // the bytes as stored (a string's terminator included if stored)
};

// The names read, in export order.
const std::vector<std::string>& StatusValueNames();

// "HKEY_LOCAL_MACHINE\System\...\Printers\<printer>\StMonitor".
std::string StatusKeyName(const std::string& printer);

// The values of the printer's StMonitor key that exist, or nothing when the key
// itself does not.
std::optional<std::vector<RegValue>> ReadStatusKey(const std::string& printer);

// What follows "name"= in a .reg file: dword:0000000b, "text" with \\ and \"
// escaped, or hex(N):.. for anything else (and for strings with control bytes,
// which REGEDIT4 text cannot carry).
std::string RegData(const RegValue& value);

// A whole REGEDIT4 file: header, blank line, [key], the values, blank line.
// `newline` is "\r\n" for a file Windows will read and "\n" for the screen.
std::string FormatRegFile(const std::string& keyName, const std::vector<RegValue>& values,
                          const std::string& newline);

// A value as the timeline shows it: 11, or "text".
std::string DisplayValue(const RegValue& value);

}  // namespace spool
