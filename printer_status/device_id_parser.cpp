// Parsing an IEEE 1284 device ID: "KEY:value;KEY:value;...".
//
// The parse is in place, the way the printer's text is used afterwards: each
// field's ';' becomes NUL, so the MFG value we return is a string inside the
// caller's buffer. Keys are compared exactly and case-sensitively; the key runs
// from the start of a field to the next ':' even across a ';' (so "FOO;MFG:X"
// has no MFG key), a later MFG replaces an earlier one, and a last field without
// ';' runs to the end of the text.
//
// The model is emptied before every parse: a device ID without MDL must not
// inherit the model of an earlier parse.
#include <cstring>
#include <string_view>

#include "printer_status/device_id.h"

namespace {

void StoreModelName(std::string_view value, char (&model)[MODEL_NAME_SIZE]) {
  // A model too long for the buffer keeps its first 255 characters. It then
  // matches only a registration of exactly those characters, never the whole
  // name the printer reported.
  const std::size_t kept = value.size() < MODEL_NAME_SIZE ? value.size() : MODEL_NAME_SIZE - 1;
  if (kept != 0) std::memcpy(model, value.data(), kept);
  model[kept] = '\0';
}

// `text` holds `length` characters and no NUL among them; text[length] is NUL.
LPSTR ParseFields(LPSTR text, std::size_t length, char (&model)[MODEL_NAME_SIZE]) {
  const std::string_view all(text, length);
  LPSTR manufacturer = nullptr;
  std::size_t field = 0;
  while (field < length) {
    const std::size_t colon = all.find(':', field);
    if (colon == std::string_view::npos) break;
    // Views are cut with the constructor, not substr(): substr's range check can
    // throw, which would pull the C++ runtime's exception machinery into the DLL.
    const std::string_view key(text + field, colon - field);
    const std::size_t valueStart = colon + 1;
    const std::size_t semicolon = all.find(';', valueStart);
    if (key == "MFG") manufacturer = text + valueStart;
    if (key == "MDL") {
      const std::size_t valueEnd = semicolon == std::string_view::npos ? length : semicolon;
      StoreModelName(std::string_view(text + valueStart, valueEnd - valueStart), model);
    }
    if (semicolon == std::string_view::npos) break;
    text[semicolon] = '\0';
    field = semicolon + 1;
  }
  return manufacturer;
}

}  // namespace

LPSTR ParseDeviceId(LPSTR text, DWORD size, char (&model)[MODEL_NAME_SIZE]) {
  StoreModelName({}, model);
  if (text == nullptr || size == 0) return nullptr;
  const void* nul = std::memchr(text, '\0', size);
  std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : size;
  if (nul == nullptr) text[--length] = '\0';  // keep the terminator inside the buffer
  return ParseFields(text, length, model);
}
