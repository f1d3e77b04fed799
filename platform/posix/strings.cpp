// lstr* string functions.
//
// Win32 tolerates null pointers here: lstrlenA(NULL) is 0, the comparisons order
// null before any string, and lstrcpyA/lstrcatA return null with
// ERROR_INVALID_PARAMETER instead of faulting.
//
// lstrcmpA and lstrcmpiA are not byte comparisons: Windows compares by its word
// sort for the ANSI code page (1252), in four levels. First the letters, digits
// and symbols without regard to accents or case ("a" < "B"); then accents
// ("e" < "\xe9"); then case, lower before upper ("a" < "A"); last the hyphen,
// the apostrophe and the control characters, which the first three levels skip
// ("coop" < "co-op"). The tables below are the single-character order measured
// from Windows' implementation (Wine), so two strings compare equal exactly when
// Windows says they do, and ASCII strings order as there.
#include <cstring>
#include <string>

#include "platform/posix/win32_posix.h"

namespace {

// Characters with no weight at the first three levels, lowest first.
constexpr unsigned char kSpecials[] = {
    0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x0e, 0x0f, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15,
    0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f, 0x7f, 0x27, 0x2d, 0x96, 0x97};

// Symbols, each its own first-level weight, lowest first; all sort before digits.
constexpr unsigned char kSymbols[] = {
    0x20, 0xa0, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x28,
    0x29, 0x2a, 0x2c, 0x2e, 0x2f, 0x3a, 0x3b, 0x3f, 0x40, 0x5b, 0x5c, 0x5d, 0x5e, 0x88,
    0x5f, 0x60, 0x7b, 0x7c, 0x7d, 0x7e, 0xa1, 0xa6, 0xa8, 0xaf, 0xb4, 0xb8, 0xbf, 0x98,
    0x91, 0x92, 0x82, 0x93, 0x94, 0x84, 0x8b, 0x9b, 0xa2, 0xa3, 0xa4, 0xa5, 0x80, 0x2b,
    0x3c, 0x3d, 0x3e, 0xb1, 0xab, 0xbb, 0xd7, 0xf7, 0xa7, 0xa9, 0xac, 0xae, 0xb0, 0xb5,
    0xb6, 0xb7, 0x85, 0x86, 0x87, 0x95, 0x89, 0x81, 0x8d, 0x8f, 0x90, 0x9d};

// Digits and letters after the symbols, one string per first-level weight,
// lowest first. Within a string, '|' separates accent variants (rising second-level
// weight); a variant lists its lower case, then its upper case.
constexpr const char* kLetters[] = {
    "0",
    "\xbc",
    "\xbd",
    "\xbe",
    "1|\xb9",
    "2|\xb2",
    "3|\xb3",
    "4",
    "5",
    "6",
    "7",
    "8",
    "9",
    "aA|\xaa|\xe1\xc1|\xe0\xc0|\xe2\xc2|\xe4\xc4|\xe3\xc3|\xe5\xc5|\xe6\xc6",
    "bB",
    "cC|\xe7\xc7",
    "dD|\xf0\xd0",
    "eE|\xe9\xc9|\xe8\xc8|\xea\xca|\xeb\xcb",
    "fF|\x83",
    "gG",
    "hH",
    "iI|\xed\xcd|\xec\xcc|\xee\xce|\xef\xcf",
    "jJ",
    "kK",
    "lL",
    "mM",
    "nN|\xf1\xd1",
    "oO|\xba|\xf3\xd3|\xf2\xd2|\xf4\xd4|\xf6\xd6|\xf5\xd5|\xf8\xd8|\x9c\x8c",
    "pP",
    "qQ",
    "rR",
    "sS|\x9a\x8a|\xdf",
    "tT|\xfe\xde|\x99",
    "uU|\xfa\xda|\xf9\xd9|\xfb\xdb|\xfc\xdc",
    "vV",
    "wW",
    "xX",
    "yY|\xfd\xdd|\xff\x9f",
    "zZ|\x9e\x8e",
};

struct Weights {
  unsigned short primary = 0;  // 0: none (a special, or the soft hyphen 0xAD)
  unsigned char accent = 0;
  unsigned char upper = 0;
  unsigned char special = 0;  // rank among kSpecials, from 1; 0 for the others
};

struct Collation {
  Weights of[256];
  Collation() {
    unsigned char rank = 0;
    for (unsigned char c : kSpecials) of[c].special = ++rank;
    unsigned short primary = 0;
    for (unsigned char c : kSymbols) of[c].primary = ++primary;
    for (const char* group : kLetters) {
      ++primary;
      unsigned char accent = 0, upper = 0;
      for (const char* p = group; *p != 0; ++p) {
        if (*p == '|') {
          ++accent;
          upper = 0;
          continue;
        }
        Weights& w = of[static_cast<unsigned char>(*p)];
        w.primary = primary;
        w.accent = accent;
        w.upper = upper++;
      }
    }
  }
};

const Collation& TheCollation() {
  static const Collation collation;
  return collation;
}

int Sign(int difference) {
  return difference < 0 ? -1 : (difference > 0 ? 1 : 0);
}

// Compares one level over the characters that carry first-level weights; a string
// that runs out first is the smaller.
template <typename Field>
int CompareLevel(const unsigned char* a, const unsigned char* b, Field field) {
  const Collation& table = TheCollation();
  for (;;) {
    while (*a != 0 && table.of[*a].primary == 0) ++a;
    while (*b != 0 && table.of[*b].primary == 0) ++b;
    if (*a == 0 || *b == 0) return (*a != 0) - (*b != 0);
    int d = field(table.of[*a]) - field(table.of[*b]);
    if (d != 0) return Sign(d);
    ++a;
    ++b;
  }
}

// The last level: the skipped characters by position and rank. One met earlier in
// the string weighs more, as does having one more of them.
int CompareSpecials(const unsigned char* a, const unsigned char* b) {
  const Collation& table = TheCollation();
  const unsigned char* startA = a;
  const unsigned char* startB = b;
  for (;;) {
    while (*a != 0 && table.of[*a].special == 0) ++a;
    while (*b != 0 && table.of[*b].special == 0) ++b;
    if (*a == 0 || *b == 0) return (*a != 0) - (*b != 0);
    auto positionA = a - startA, positionB = b - startB;
    if (positionA != positionB) return positionA < positionB ? 1 : -1;
    int d = table.of[*a].special - table.of[*b].special;
    if (d != 0) return Sign(d);
    ++a;
    ++b;
  }
}

int Compare(LPCSTR first, LPCSTR second, bool ignoreCase) {
  if (first == nullptr || second == nullptr) {
    return first == second ? 0 : (first == nullptr ? -1 : 1);
  }
  auto a = reinterpret_cast<const unsigned char*>(first);
  auto b = reinterpret_cast<const unsigned char*>(second);
  if (int d = CompareLevel(a, b, [](const Weights& w) { return int{w.primary}; })) return d;
  if (int d = CompareLevel(a, b, [](const Weights& w) { return int{w.accent}; })) return d;
  if (!ignoreCase) {
    if (int d = CompareLevel(a, b, [](const Weights& w) { return int{w.upper}; })) return d;
  }
  return CompareSpecials(a, b);
}

}  // namespace

int lstrlenA(LPCSTR text) {
  return text == nullptr ? 0 : static_cast<int>(std::strlen(text));
}

LPSTR lstrcpyA(LPSTR destination, LPCSTR source) {
  if (destination == nullptr || source == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::memmove(destination, source, std::strlen(source) + 1);
  return destination;
}

LPSTR lstrcatA(LPSTR destination, LPCSTR source) {
  if (destination == nullptr || source == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::memmove(destination + std::strlen(destination), source, std::strlen(source) + 1);
  return destination;
}

int lstrcmpA(LPCSTR first, LPCSTR second) {
  return Compare(first, second, false);
}

int lstrcmpiA(LPCSTR first, LPCSTR second) {
  return Compare(first, second, true);
}

int lstrlenW(LPCWSTR text) {
  if (text == nullptr) return 0;
  int length = 0;
  while (text[length] != 0) ++length;
  return length;
}

// Strings within Latin-1 compare as their ANSI forms do (the layer's code page
// is Latin-1, and the word sort above covers it). Beyond it the layer orders by
// code unit after folding ASCII letters: equal exactly when Windows says so for
// the names we meet (port and printer names), not Windows' full Unicode order.
int lstrcmpiW(LPCWSTR first, LPCWSTR second) {
  if (first == nullptr || second == nullptr) {
    return first == second ? 0 : (first == nullptr ? -1 : 1);
  }
  auto within = [](LPCWSTR text) {
    for (; *text != 0; ++text) {
      if (*text > 0xFF) return false;
    }
    return true;
  };
  auto fold = [](WCHAR c) { return c >= u'A' && c <= u'Z' ? static_cast<WCHAR>(c + 32) : c; };
  if (within(first) && within(second)) {
    std::string a, b;
    for (LPCWSTR c = first; *c != 0; ++c) a.push_back(static_cast<char>(*c));
    for (LPCWSTR c = second; *c != 0; ++c) b.push_back(static_cast<char>(*c));
    return Compare(a.c_str(), b.c_str(), true);
  }
  for (;; ++first, ++second) {
    const WCHAR a = fold(*first), b = fold(*second);
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
}
