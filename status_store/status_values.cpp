// The values of a port's status key, read and written for the status monitor
// application.
//
// Every operation goes through WithStatusKey: no key selected: stop; open the
// key (by its ANSI or its wide path, whichever the port's face gave), do one
// piece of work, close it. The values themselves are read and written with the
// ANSI calls on both faces: their names are ASCII and their data are what the
// application has always read. Nothing is cached except the port's two
// poll settings, so a value the application changes is seen by the very next
// operation. Registry failures are silent: a missing key makes
// an operation do nothing and a reader report FALSE; a flag or setting that cannot
// be read is written back with its default.
#include <cstring>

#include "platform/wide_calls.h"
#include "status_store/status_key.h"

namespace {

// Read and write access: the monitor writes through the same handle it reads with,
// and a registry that checks access masks refuses a write through KEY_READ alone.
constexpr REGSAM STATUS_KEY_ACCESS = KEY_READ | KEY_SET_VALUE;

constexpr DWORD DEFAULT_STATUS_MONITOR = 0;
constexpr DWORD DEFAULT_STATUS_THREAD = 0;
// StMonExistFlag values that mean the application is not running.
constexpr DWORD STATUS_MONITOR_ABSENT = 0;
constexpr DWORD STATUS_MONITOR_CLOSED = 16;

// An open registry handle, closed when the operation's work is done.
struct OpenedKey {
  HKEY handle = nullptr;
  OpenedKey() = default;
  ~OpenedKey() {
    if (handle != nullptr) RegCloseKey(handle);
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
};

// The one way into the registry: runs `work(handle)` on the port's key and returns
// its result, or `unavailable` when no key is selected or it cannot be opened.
template <typename Result, typename Work>
Result WithStatusKey(const StatusKey& key, Result unavailable, Work work) {
  if (!IsStatusKeySelected(key)) return unavailable;
  OpenedKey opened;
  // Opened, never created: the key is the application's (its installer gives the
  // application's users the right to set values in it). A key the monitor made
  // would be one the application might not be allowed to write.
  const LSTATUS status =
      key.widePath[0] != 0
          ? OpenKeyWide(HKEY_LOCAL_MACHINE, key.widePath, STATUS_KEY_ACCESS, &opened.handle)
          : RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.path, 0, STATUS_KEY_ACCESS, &opened.handle);
  if (status != ERROR_SUCCESS) {
    opened.handle = nullptr;
    return unavailable;
  }
  return work(opened.handle);
}

// The value types are never asked for: the application has always written them
// as REG_DWORD, and a value of any type that fits four bytes is taken as it is.
// One stored with more data fails the query (ERROR_MORE_DATA). One stored with
// fewer bytes reads as its own number, zero-extended: the query fills only the
// bytes stored, so it reads into a zeroed DWORD, not the caller's.
bool QueryDword(HKEY key, const char* name, DWORD& value) {
  DWORD data = 0;
  DWORD size = sizeof data;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&data), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  value = data;
  return true;
}

void WriteDword(HKEY key, const char* name, DWORD value) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// Strings are written without their terminator, as the application expects; an
// empty string is a REG_SZ of size 0. On the NT family RegSetValueExA stores a
// REG_SZ as UTF-16, converting the bytes through the system code page, so a byte
// that code page cannot hold would not read back as written. The printer's replies
// are ASCII, which every code page holds, so REG_SZ stays: it is what the
// application reads.
void WriteString(HKEY key, const char* name, LPCSTR text) {
  if (text == nullptr) text = "";
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 static_cast<DWORD>(lstrlenA(text)));
}

// Reads a flag, writing `fallback` back (and returning it) when the value is
// missing or not four bytes.
DWORD ReadFlagOrRestore(HKEY key, const char* name, DWORD fallback) {
  DWORD value = fallback;
  if (!QueryDword(key, name, value)) {
    value = fallback;
    WriteDword(key, name, value);
  }
  return value;
}

}  // namespace

void LoadPollSettings(StatusKey& key) {
  WithStatusKey(key, 0, [&key](HKEY handle) {
    key.pollEnabled.store(ReadFlagOrRestore(handle, VALUE_POLL_ENABLED, DEFAULT_POLL_ENABLED));
    key.pollInterval.store(
        ReadFlagOrRestore(handle, VALUE_POLL_INTERVAL, DEFAULT_POLL_INTERVAL_MS));
    return 0;
  });
}

void SetPollEnabled(StatusKey& key, DWORD value) {
  WithStatusKey(key, 0, [&key, value](HKEY handle) {
    key.pollEnabled.store(value);
    WriteDword(handle, VALUE_POLL_ENABLED, value);
    return 0;
  });
}

BOOL IsStatusMonitorPresent(const StatusKey& statusKey) {
  return WithStatusKey(statusKey, FALSE, [](HKEY key) -> BOOL {
    DWORD flag = ReadFlagOrRestore(key, VALUE_STATUS_MONITOR, DEFAULT_STATUS_MONITOR);
    return flag != STATUS_MONITOR_ABSENT && flag != STATUS_MONITOR_CLOSED;
  });
}

BOOL IsStatusThreadActive(const StatusKey& statusKey) {
  return WithStatusKey(statusKey, FALSE, [](HKEY key) -> BOOL {
    return ReadFlagOrRestore(key, VALUE_STATUS_THREAD, DEFAULT_STATUS_THREAD) != 0;
  });
}

void SetLanMonitorFlag(const StatusKey& statusKey, BOOL on) {
  WithStatusKey(statusKey, 0, [on](HKEY key) {
    WriteDword(key, VALUE_LAN_MONITOR, on ? 1 : 0);
    return 0;
  });
}

void StoreStatusString(const StatusKey& statusKey, LPCSTR text) {
  WithStatusKey(statusKey, 0, [text](HKEY key) {
    WriteString(key, VALUE_STATUS_STRING, text);
    return 0;
  });
}

void StoreInkLevel(const StatusKey& statusKey, LPCSTR text) {
  WithStatusKey(statusKey, 0, [text](HKEY key) {
    WriteString(key, VALUE_INK_LEVEL, text);
    return 0;
  });
}

BOOL ReadRegisteredModel(const StatusKey& statusKey, char (&out)[REGISTERED_MODEL_SIZE]) {
  // Zero-filled, so a shorter value is terminated whether or not it was stored
  // with its NUL. A value that fills all 512 bytes without one has no end we could
  // trust, and counts as a failed read like one that does not fit.
  char model[REGISTERED_MODEL_SIZE] = {};
  BOOL read = WithStatusKey(statusKey, FALSE, [&model](HKEY key) -> BOOL {
    DWORD size = sizeof model;
    return RegQueryValueExA(key, VALUE_REGISTERED_MODEL, nullptr, nullptr,
                            reinterpret_cast<LPBYTE>(model), &size) == ERROR_SUCCESS;
  });
  if (!read || std::memchr(model, '\0', sizeof model) == nullptr) return FALSE;
  lstrcpyA(out, model);
  return TRUE;
}
