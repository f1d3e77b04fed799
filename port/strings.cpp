// Local-heap string copies shared by the port records and the document code.
#include <cstring>

#include "port/port_record.h"

SpoolerText DuplicateText(SpoolerText text) {
  if (text.ansi != nullptr) {
    auto* copy = static_cast<LPSTR>(LocalAlloc(LMEM_ZEROINIT, lstrlenA(text.ansi) + 1));
    if (copy != nullptr) lstrcpyA(copy, text.ansi);
    return AnsiText(copy);
  }
  if (text.wide == nullptr) return SpoolerText{};
  const DWORD bytes = (TextLength(text) + 1) * static_cast<DWORD>(sizeof(WCHAR));
  auto* copy = static_cast<LPWSTR>(LocalAlloc(LMEM_ZEROINIT, bytes));
  if (copy != nullptr) std::memcpy(copy, text.wide, bytes);
  return WideText(copy);
}

void FreeText(SpoolerText text) {
  // The copies are ours, made by DuplicateText.
  if (text.ansi != nullptr) LocalFree(const_cast<LPSTR>(text.ansi));
  if (text.wide != nullptr) LocalFree(const_cast<LPWSTR>(text.wide));
}
