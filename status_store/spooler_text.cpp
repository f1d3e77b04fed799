// Lengths and comparisons of the spooler's strings in either form, without the
// system's string calls: the wide ones must not reach the Windows 95 DLL
// (platform/wide_calls.h), and these need no locale.
#include "status_store/spooler_text.h"

namespace {

template <typename Char>
DWORD LengthOf(const Char* text) {
  DWORD length = 0;
  while (text[length] != 0) ++length;
  return length;
}

template <typename Char>
bool SameChars(const Char* first, const Char* second) {
  for (;; ++first, ++second) {
    if (*first != *second) return false;
    if (*first == 0) return true;
  }
}

}  // namespace

DWORD TextLength(SpoolerText text) {
  if (text.ansi != nullptr) return LengthOf(text.ansi);
  if (text.wide != nullptr) return LengthOf(text.wide);
  return 0;
}

bool SameText(SpoolerText first, SpoolerText second) {
  if (first.ansi != nullptr && second.ansi != nullptr) return SameChars(first.ansi, second.ansi);
  if (first.wide != nullptr && second.wide != nullptr) return SameChars(first.wide, second.wide);
  return IsNullText(first) && IsNullText(second);
}
