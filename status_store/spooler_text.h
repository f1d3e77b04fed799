// A string as the spooler handed it to one of the monitor's two faces: ANSI from
// the Windows 95 spooler, UTF-16 from the NT family's. The core keeps it in the
// form it came in and never converts it: a printer's key is opened, its printer
// handle taken and its device document started with the very name the spooler
// gave, so a name in any script stays that name. At most one pointer is set;
// neither, for a null string.
#pragma once

#include "platform/win32.h"

struct SpoolerText {
  LPCSTR ansi = nullptr;   // Windows 95 face
  LPCWSTR wide = nullptr;  // NT face
};

inline SpoolerText AnsiText(LPCSTR text) {
  return SpoolerText{text, nullptr};
}
inline SpoolerText WideText(LPCWSTR text) {
  return SpoolerText{nullptr, text};
}
inline bool IsNullText(SpoolerText text) {
  return text.ansi == nullptr && text.wide == nullptr;
}

// Length in characters (bytes or UTF-16 code units); 0 for a null string.
DWORD TextLength(SpoolerText text);
// Exactly the same characters, in the same form; two null strings are the same,
// a null and a non-null one are not.
bool SameText(SpoolerText first, SpoolerText second);
