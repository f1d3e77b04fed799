#include "tools/reg_export.h"

#include <fmt/format.h>

#include "emulator/status_app.h"
#include "status_store/status_key.h"
#include "tools/console.h"

namespace spool {
namespace {

// Owns one open key for the length of a read.
struct KeyGuard {
  HKEY key = nullptr;
  ~KeyGuard() {
    if (key != nullptr) RegCloseKey(key);
  }
};

std::optional<RegValue> ReadValue(HKEY key, const std::string& name) {
  RegValue value{name, 0, std::string(256, '\0')};
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD size = static_cast<DWORD>(value.data.size());
    const LSTATUS status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                                            reinterpret_cast<LPBYTE>(value.data.data()), &size);
    if (status == ERROR_SUCCESS) {
      value.data.resize(size);
      return value;
    }
    if (status != ERROR_MORE_DATA) return std::nullopt;
    value.data.assign(size, '\0');  // the value grew between the two reads: try again
  }
  return std::nullopt;
}

// A string value's text: the stored bytes up to the first NUL.
std::string StringText(const RegValue& value) {
  return value.data.substr(0, value.data.find('\0'));
}

bool IsPlainText(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

const std::vector<std::string>& StatusValueNames() {
  static const std::vector<std::string> names = {
      VALUE_STATUS_MONITOR, VALUE_REGISTERED_MODEL, VALUE_STATUS_THREAD, VALUE_POLL_ENABLED,
      VALUE_POLL_INTERVAL,  VALUE_LAN_MONITOR,      VALUE_STATUS_STRING, VALUE_INK_LEVEL};
  return names;
}

std::string StatusKeyName(const std::string& printer) {
  return "HKEY_LOCAL_MACHINE\\" + emu::status_app::KeyPath(printer);
}

std::optional<std::vector<RegValue>> ReadStatusKey(const std::string& printer) {
  KeyGuard guard;
  const std::string path = emu::status_app::KeyPath(printer);
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &guard.key) != ERROR_SUCCESS) {
    guard.key = nullptr;
    return std::nullopt;
  }
  std::vector<RegValue> values;
  for (const std::string& name : StatusValueNames()) {
    if (std::optional<RegValue> value = ReadValue(guard.key, name)) values.push_back(*value);
  }
  return values;
}

std::string RegData(const RegValue& value) {
  if (value.type == REG_DWORD && value.data.size() == 4) {
    const auto* b = reinterpret_cast<const unsigned char*>(value.data.data());
    return fmt::format("dword:{:08x}",
                       b[0] | b[1] << 8 | b[2] << 16 | static_cast<DWORD>(b[3]) << 24);
  }
  if (value.type == REG_SZ && IsPlainText(StringText(value))) {
    std::string text = "\"";
    for (char c : StringText(value)) {
      if (c == '\\' || c == '"') text += '\\';
      text += c;
    }
    return text + "\"";
  }
  return (value.type == REG_BINARY ? std::string("hex:") : fmt::format("hex({:x}):", value.type)) +
         Hex(value.data, ",");
}

std::string FormatRegFile(const std::string& keyName, const std::vector<RegValue>& values,
                          const std::string& newline) {
  std::string text = "REGEDIT4" + newline + newline + "[" + keyName + "]" + newline;
  for (const RegValue& value : values) {
    text += "\"" + value.name + "\"=" + RegData(value) + newline;
  }
  return text + newline;
}

std::string DisplayValue(const RegValue& value) {
  if (value.type == REG_DWORD && value.data.size() == 4) {
    const auto* b = reinterpret_cast<const unsigned char*>(value.data.data());
    return std::to_string(b[0] | b[1] << 8 | b[2] << 16 | static_cast<DWORD>(b[3]) << 24);
  }
  if (value.type == REG_SZ) {
    // Built by appending: GCC 12 misreads "literal" + temporary as an overlapping copy.
    std::string text = "\"";
    text += Printable(StringText(value));
    return text + "\"";
  }
  return RegData(value);
}

}  // namespace spool
