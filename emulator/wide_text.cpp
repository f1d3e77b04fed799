#include "emulator/wide_text.h"

namespace emu {

WideString Wide(const std::string& utf8) {
  WideString wide;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    bool valid = true;
    for (std::size_t k = 1; valid && k <= extra; ++k) {
      if (i + k >= utf8.size() || (static_cast<unsigned char>(utf8[i + k]) & 0xC0) != 0x80) {
        valid = false;
      } else {
        code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
      }
    }
    if (!valid) {
      code = lead;
      i += 1;
    } else {
      i += extra + 1;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      wide.push_back(static_cast<WCHAR>(0xD800 + (code >> 10)));
      wide.push_back(static_cast<WCHAR>(0xDC00 + (code & 0x3FF)));
    } else {
      wide.push_back(static_cast<WCHAR>(code));
    }
  }
  return wide;
}

std::string Utf8(const WCHAR* wide) {
  std::string utf8;
  if (wide == nullptr) return utf8;
  for (const WCHAR* c = wide; *c != 0; ++c) {
    char32_t code = static_cast<char16_t>(*c);
    if (code >= 0xD800 && code < 0xDC00 && c[1] >= 0xDC00 && c[1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<char16_t>(*++c) - 0xDC00);
    }
    if (code < 0x80) {
      utf8.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      utf8.push_back(static_cast<char>(0xC0 | (code >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      utf8.push_back(static_cast<char>(0xE0 | (code >> 12)));
      utf8.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      utf8.push_back(static_cast<char>(0xF0 | (code >> 18)));
      utf8.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return utf8;
}

}  // namespace emu
