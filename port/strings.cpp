// Local-heap string copies shared by the port records and the document code.
#include "port/port_record.h"

LPSTR DuplicateString(LPCSTR text) {
  if (text == nullptr) return nullptr;
  auto* copy = static_cast<LPSTR>(LocalAlloc(LMEM_ZEROINIT, lstrlenA(text) + 1));
  if (copy != nullptr) lstrcpyA(copy, text);
  return copy;
}

void FreeString(LPSTR block) {
  if (block != nullptr) LocalFree(block);
}
