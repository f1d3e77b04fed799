// lstr* string functions.
//
// Win32 tolerates null pointers here: lstrlenA(NULL) is 0, the comparisons order
// null before any string, and lstrcpyA/lstrcatA return null instead of faulting.
#include <cstring>

#include "platform/posix/win32_posix.h"

int lstrlenA(LPCSTR text) {
  return text == nullptr ? 0 : static_cast<int>(std::strlen(text));
}

LPSTR lstrcpyA(LPSTR destination, LPCSTR source) {
  if (destination == nullptr || source == nullptr) return nullptr;
  std::memmove(destination, source, std::strlen(source) + 1);
  return destination;
}

LPSTR lstrcatA(LPSTR destination, LPCSTR source) {
  if (destination == nullptr || source == nullptr) return nullptr;
  std::memmove(destination + std::strlen(destination), source, std::strlen(source) + 1);
  return destination;
}

namespace {

int Sign(int difference) {
  return difference < 0 ? -1 : (difference > 0 ? 1 : 0);
}

}  // namespace

int lstrcmpA(LPCSTR first, LPCSTR second) {
  if (first == nullptr || second == nullptr) {
    return first == second ? 0 : (first == nullptr ? -1 : 1);
  }
  return Sign(std::strcmp(first, second));
}

int lstrcmpiA(LPCSTR first, LPCSTR second) {
  if (first == nullptr || second == nullptr) {
    return first == second ? 0 : (first == nullptr ? -1 : 1);
  }
  return Sign(strcasecmp(first, second));
}
