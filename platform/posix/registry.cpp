// The registry: one in-process tree shared by every thread, behind one lock.
//
// Keys and values are found by case-folded name and keep the spelling they were
// created with. An open HKEY is a handle value, from the same never-reused
// sequence as kernel handles, naming an entry of `Store::open`, which holds the
// key node and the access the key was opened with; the predefined roots are the
// Win32 constants and grant everything. A deleted key stays alive for the handles
// still open on it, and every call through such a handle fails with
// ERROR_KEY_DELETED, as on Windows.
//
// Key names are kept as UTF-16, as Windows keeps them: the wide calls pass
// theirs as they are, the ANSI calls through the layer's code page, Latin-1
// (byte n is character n). A key path reported back in ANSI (the change hook)
// shows '?' for a character beyond it, as an ANSI call on Windows does.
//
// Value data is kept as the ANSI bytes the caller wrote. Windows keeps strings as
// UTF-16 behind the ANSI calls, and those calls add a string terminator in two
// places; both are reproduced where the data passes through (RegSetValueExA and
// RegQueryValueExA; platform/README.md lists the measured cases).
#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/posix/kernel_object.h"

namespace {

struct Value {
  std::string name;  // as first written
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct KeyNode {
  std::u16string name;                                         // as created
  std::map<std::u16string, std::shared_ptr<KeyNode>> subkeys;  // by folded name
  std::map<std::string, Value> values;                         // by folded name
  std::weak_ptr<KeyNode> parent;                               // null for a root
  bool deleted = false;
};

struct OpenKey {
  std::shared_ptr<KeyNode> node;
  REGSAM access;
};

struct Store {
  std::mutex mutex;
  std::shared_ptr<KeyNode> roots[4];
  std::unordered_map<std::uintptr_t, OpenKey> open;
  std::atomic<long long> keyOpens{0};
};

Store& TheStore() {
  static Store* store = [] {
    auto* s = new Store;  // lives to the end of the process
    for (auto& root : s->roots) root = std::make_shared<KeyNode>();
    return s;
  }();
  return *store;
}

constexpr std::uintptr_t kFirstRoot = 0x80000000u;

// Generic rights map onto the key rights as Windows maps them.
REGSAM MapAccess(REGSAM access) {
  constexpr REGSAM kGenericRead = 0x80000000u, kGenericWrite = 0x40000000u,
                   kGenericExecute = 0x20000000u, kGenericAll = 0x10000000u,
                   kMaximumAllowed = 0x02000000u;
  REGSAM mapped = access & 0x00FFFFFFu;
  if (access & (kGenericRead | kGenericExecute)) mapped |= KEY_READ;
  if (access & kGenericWrite) mapped |= KEY_WRITE;
  if (access & (kGenericAll | kMaximumAllowed)) mapped |= KEY_ALL_ACCESS;
  return mapped;
}

// Windows compares key and value names case-insensitively over the whole
// character set; here that is ASCII plus the Latin-1 letters, for value names
// (ANSI bytes) and key names (UTF-16) alike.
unsigned char FoldByte(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  return c;
}

std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = static_cast<char>(FoldByte(static_cast<unsigned char>(c)));
  return folded;
}

std::u16string Fold(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) {
    if (c < 0x100) c = FoldByte(static_cast<unsigned char>(c));
  }
  return folded;
}

// An ANSI name as the store keeps it: each byte is its Latin-1 character.
std::u16string Widen(LPCSTR text) {
  std::u16string wide;
  if (text == nullptr) return wide;
  for (const char* c = text; *c != '\0'; ++c) wide.push_back(static_cast<unsigned char>(*c));
  return wide;
}

// A key name as an ANSI call sees it: '?' for what Latin-1 lacks.
std::string Narrow(std::u16string_view name) {
  std::string narrow;
  for (char16_t c : name) narrow.push_back(c < 0x100 ? static_cast<char>(c) : '?');
  return narrow;
}

bool IsString(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Resolves `key` to its node, checking that the handle grants `required`.
// Caller holds the store lock.
LSTATUS Resolve(Store& store, HKEY key, REGSAM required, std::shared_ptr<KeyNode>* node) {
  auto value = reinterpret_cast<std::uintptr_t>(key);
  if (value >= kFirstRoot && value < kFirstRoot + 4) {
    *node = store.roots[value - kFirstRoot];
    return ERROR_SUCCESS;
  }
  auto it = store.open.find(value);
  if (it == store.open.end()) return ERROR_INVALID_HANDLE;
  if (it->second.node->deleted) return ERROR_KEY_DELETED;
  if ((it->second.access & required) != required) return ERROR_ACCESS_DENIED;
  *node = it->second.node;
  return ERROR_SUCCESS;
}

// Splits a subkey path into its names. Windows refuses a path that starts with a
// backslash and otherwise skips empty names, so "a\\\\b\\" is "a\\b".
bool SplitPath(std::u16string_view rest, std::vector<std::u16string_view>* names) {
  if (!rest.empty() && rest.front() == u'\\') return false;
  while (!rest.empty()) {
    std::size_t cut = rest.find(u'\\');
    std::u16string_view name = rest.substr(0, cut);
    if (!name.empty()) names->push_back(name);
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + 1);
  }
  return true;
}

// Walks `names` down from `node`; null when a key on the way is missing.
std::shared_ptr<KeyNode> Walk(std::shared_ptr<KeyNode> node,
                              const std::vector<std::u16string_view>& names) {
  for (std::u16string_view name : names) {
    auto it = node->subkeys.find(Fold(name));
    if (it == node->subkeys.end()) return nullptr;
    node = it->second;
  }
  return node;
}

bool IsRoot(HKEY key) {
  auto value = reinterpret_cast<std::uintptr_t>(key);
  return value >= kFirstRoot && value < kFirstRoot + 4;
}

// Set by diag::SetRegistryChangeHook; called with the store lock held.
std::atomic<diag::RegistryChangeHook> changeHook{nullptr};

// Tells the hook, if there is one, that the key `node` (or its value `value`)
// changed. Caller holds the store lock, so the path cannot change meanwhile.
void ReportChange(Store& store, const KeyNode& node, const char* value) {
  diag::RegistryChangeHook hook = changeHook.load();
  if (hook == nullptr) return;
  std::string path;
  const KeyNode* at = &node;
  std::shared_ptr<KeyNode> parent = at->parent.lock();
  for (; parent != nullptr; at = parent.get(), parent = parent->parent.lock()) {
    path.insert(0, path.empty() ? Narrow(at->name) : Narrow(at->name) + "\\");
  }
  std::uintptr_t root = kFirstRoot;
  for (std::uintptr_t i = 0; i < 4; ++i) {
    if (store.roots[i].get() == at) root = kFirstRoot + i;
  }
  hook(reinterpret_cast<HKEY>(root), path.c_str(), value);
}

HKEY AddOpenKey(Store& store, std::shared_ptr<KeyNode> node, REGSAM access) {
  std::uintptr_t value = kovirlm::posix::NewHandleValue();
  store.open.emplace(value, OpenKey{std::move(node), access});
  store.keyOpens.fetch_add(1, std::memory_order_relaxed);
  return reinterpret_cast<HKEY>(value);
}

std::u16string_view PathOf(LPCWSTR path) {
  return path == nullptr ? std::u16string_view() : std::u16string_view(path);
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;  // a failed open leaves a null key behind, as on Windows
  Store& store = TheStore();
  std::lock_guard<std::mutex> lock(store.mutex);
  std::shared_ptr<KeyNode> parent;
  // Opening needs no right on the key it starts from.
  LSTATUS status = Resolve(store, key, 0, &parent);
  if (status != ERROR_SUCCESS) return status;
  std::vector<std::u16string_view> names;
  if (!SplitPath(PathOf(subKey), &names)) return ERROR_BAD_PATHNAME;
  // An empty path opens a new handle to the same key, except that a root stays
  // itself.
  if (names.empty() && IsRoot(key)) {
    *result = key;
    store.keyOpens.fetch_add(1, std::memory_order_relaxed);
    return ERROR_SUCCESS;
  }
  std::shared_ptr<KeyNode> node = Walk(parent, names);
  if (!node) return ERROR_FILE_NOT_FOUND;
  *result = AddOpenKey(store, std::move(node), MapAccess(access));
  return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  const std::u16string path = Widen(subKey);
  return RegOpenKeyExW(key, path.c_str(), options, access, result);
}

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access,
                        LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Store& store = TheStore();
  std::lock_guard<std::mutex> lock(store.mutex);
  std::shared_ptr<KeyNode> node;
  LSTATUS status = Resolve(store, key, 0, &node);
  if (status != ERROR_SUCCESS) return status;
  // Creating no key at all, from a null or empty path, is a new handle to `key`
  // that Wine's registry reports as a created key; ours does the same.
  std::vector<std::u16string_view> names;
  if (!SplitPath(PathOf(subKey), &names)) return ERROR_BAD_PATHNAME;
  DWORD outcome = names.empty() ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  for (std::u16string_view name : names) {
    std::shared_ptr<KeyNode>& child = node->subkeys[Fold(name)];
    if (!child) {
      child = std::make_shared<KeyNode>();
      child->name = std::u16string(name);
      child->parent = node;
      outcome = REG_CREATED_NEW_KEY;
      ReportChange(store, *child, nullptr);
    }
    node = child;
  }
  *result = AddOpenKey(store, std::move(node), MapAccess(access));
  if (disposition != nullptr) *disposition = outcome;
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR, DWORD options,
                        REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                        LPDWORD disposition) {
  const std::u16string path = Widen(subKey);
  return RegCreateKeyExW(key, path.c_str(), reserved, nullptr, options, access, security, result,
                         disposition);
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
  if ((data != nullptr && dataSize == nullptr) || reserved != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  // Past the argument checks, a failed query reports type REG_NONE and, to a
  // caller asking for the size alone, size 0 (measured on Wine).
  auto fail = [&](LSTATUS error) {
    if (type != nullptr) *type = REG_NONE;
    if (data == nullptr && dataSize != nullptr) *dataSize = 0;
    return error;
  };
  Store& store = TheStore();
  std::lock_guard<std::mutex> lock(store.mutex);
  std::shared_ptr<KeyNode> node;
  LSTATUS status = Resolve(store, key, KEY_QUERY_VALUE, &node);
  if (status != ERROR_SUCCESS) return fail(status);
  auto it = node->values.find(Fold(valueName == nullptr ? "" : valueName));
  if (it == node->values.end()) return fail(ERROR_FILE_NOT_FOUND);
  const Value& value = it->second;
  DWORD size = static_cast<DWORD>(value.data.size());
  if (type != nullptr) *type = value.type;
  if (data != nullptr && size != 0) {
    if (size > *dataSize) {
      status = ERROR_MORE_DATA;
    } else {
      std::memcpy(data, value.data.data(), size);
      // A string stored without its terminator gets one in the caller's buffer
      // when there is room for it; the size reported stays the stored size.
      if (IsString(value.type) && size < *dataSize && data[size - 1] != 0) data[size] = 0;
    }
  }
  if (dataSize != nullptr) *dataSize = size;
  return status;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD dataSize) {
  if (data == nullptr && dataSize != 0) return ERROR_NOACCESS;
  // Windows adds a string's terminator to the stored size when the caller counted
  // only the characters, which it detects by looking at the byte just past the
  // given size. The look is Windows' own; callers that count the terminator, as
  // ours do, never trigger it.
  if (dataSize != 0 && IsString(type) && data[dataSize - 1] != 0 && data[dataSize] == 0) {
    ++dataSize;
  }
  Store& store = TheStore();
  std::lock_guard<std::mutex> lock(store.mutex);
  std::shared_ptr<KeyNode> node;
  LSTATUS status = Resolve(store, key, KEY_SET_VALUE, &node);
  if (status != ERROR_SUCCESS) return status;
  std::string_view name = valueName == nullptr ? "" : valueName;
  Value& value = node->values[Fold(name)];
  if (value.name.empty()) value.name = std::string(name);
  value.type = type;
  value.data.assign(data, data + dataSize);
  ReportChange(store, *node, value.name.c_str());
  return ERROR_SUCCESS;
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> lock(store.mutex);
  std::shared_ptr<KeyNode> node;
  LSTATUS status = Resolve(store, key, KEY_SET_VALUE, &node);
  if (status != ERROR_SUCCESS) return status;
  if (!node->values.erase(Fold(valueName == nullptr ? "" : valueName))) return ERROR_FILE_NOT_FOUND;
  ReportChange(store, *node, valueName == nullptr ? "" : valueName);
  return ERROR_SUCCESS;
}

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  Store& store = TheStore();
  std::lock_guard<std::mutex> lock(store.mutex);
  std::shared_ptr<KeyNode> start;
  // Like Wine, deleting asks for no particular right on either handle.
  LSTATUS status = Resolve(store, key, 0, &start);
  if (status != ERROR_SUCCESS) return status;
  std::vector<std::u16string_view> names;
  if (!SplitPath(PathOf(subKey), &names)) return ERROR_BAD_PATHNAME;
  std::shared_ptr<KeyNode> victim = Walk(start, names);
  if (!victim) return ERROR_FILE_NOT_FOUND;
  // An empty path deletes `key` itself; a root is never deleted. Windows deletes
  // only a key without subkeys, and reports the refusal as ERROR_ACCESS_DENIED.
  if (names.empty() && IsRoot(key)) return ERROR_ACCESS_DENIED;
  if (!victim->subkeys.empty()) return ERROR_ACCESS_DENIED;
  if (!victim->parent.expired()) {
    std::shared_ptr<KeyNode> parent = victim->parent.lock();
    parent->subkeys.erase(Fold(victim->name));
  }
  ReportChange(store, *victim, nullptr);
  victim->deleted = true;
  return ERROR_SUCCESS;
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  const std::u16string path = Widen(subKey);
  return RegDeleteKeyW(key, path.c_str());
}

LSTATUS RegCloseKey(HKEY key) {
  if (IsRoot(key)) return ERROR_SUCCESS;
  auto value = reinterpret_cast<std::uintptr_t>(key);
  Store& store = TheStore();
  std::shared_ptr<KeyNode> released;  // a deleted key may die here, after the lock
  std::lock_guard<std::mutex> lock(store.mutex);
  auto it = store.open.find(value);
  if (it == store.open.end()) return ERROR_INVALID_HANDLE;
  released = std::move(it->second.node);
  store.open.erase(it);
  return ERROR_SUCCESS;
}

namespace kovirlm::posix {

long CountOpenKeys() {
  Store& store = TheStore();
  std::lock_guard<std::mutex> lock(store.mutex);
  return static_cast<long>(store.open.size());
}

}  // namespace kovirlm::posix

long long diag::RegistryKeyOpens() {
  return TheStore().keyOpens.load(std::memory_order_relaxed);
}

bool diag::SetRegistryChangeHook(RegistryChangeHook hook) {
  changeHook.store(hook);
  return true;
}
