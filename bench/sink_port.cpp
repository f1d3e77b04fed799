// The measurement sink's device monitor. See sink_port.h for what it promises.
//
// Ports live in a fixed table and a handle is the slot's index plus one, so a call
// finds its port without a lookup or a lock. Attaching, opening and closing take
// the table's lock; they happen while no port is being written.
#include "bench/sink_port.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstring>
#include <mutex>

namespace bench {
namespace {

constexpr std::uint64_t kFoldMultiplier = 0x100000001b3ull;
constexpr DWORD kDeviceIdControlCode = 17;
constexpr std::size_t kMaxPorts = 256;

struct SinkSlot {
  std::string name;  // empty: free
  std::string deviceId;
  bool open = false;
  std::atomic<bool> documentOpen{false};
  // Written by the port's one writer thread; read once it has finished.
  SinkTotals totals;
  std::mutex readLock;  // guards readTimes
  std::vector<std::chrono::steady_clock::time_point> readTimes;
};

std::mutex tableLock;  // guards names, `open` and attaching
std::array<SinkSlot, kMaxPorts> slots;

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

SinkSlot* FindByName(const std::string& name) {
  for (SinkSlot& slot : slots) {
    if (!slot.name.empty() && SameName(slot.name, name)) return &slot;
  }
  return nullptr;
}

SinkSlot* FromHandle(HANDLE port) {
  const auto index = reinterpret_cast<std::uintptr_t>(port);
  if (index == 0 || index > kMaxPorts) return nullptr;
  SinkSlot* slot = &slots[index - 1];
  return slot->open ? slot : nullptr;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL WINAPI SinkOpenPort(LPSTR name, PHANDLE handle) {
  std::lock_guard<std::mutex> lock(tableLock);
  SinkSlot* slot = name == nullptr ? nullptr : FindByName(name);
  if (slot == nullptr) return Fail(ERROR_FILE_NOT_FOUND);
  if (slot->open) return Fail(ERROR_BUSY);
  slot->open = true;
  *handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(slot - slots.data()) + 1);
  return TRUE;
}

BOOL WINAPI SinkStartDocPort(HANDLE port, LPSTR, DWORD, DWORD, LPBYTE) {
  SinkSlot* slot = FromHandle(port);
  if (slot == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (slot->documentOpen.load()) return Fail(ERROR_BUSY);
  slot->totals = SinkTotals{};
  {
    std::lock_guard<std::mutex> lock(slot->readLock);
    slot->readTimes.clear();
  }
  slot->documentOpen.store(true);
  return TRUE;
}

BOOL WINAPI SinkWritePort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD written) {
  SinkSlot* slot = FromHandle(port);
  if (slot == nullptr || !slot->documentOpen.load(std::memory_order_relaxed)) {
    *written = 0;
    return Fail(ERROR_INVALID_HANDLE);
  }
  SinkTotals& totals = slot->totals;
  totals.checksum = Fold(totals.checksum, buffer, count);
  totals.bytes += count;
  ++totals.writes;
  *written = count;
  return TRUE;
}

BOOL WINAPI SinkReadPort(HANDLE port, LPBYTE buffer, DWORD count, LPDWORD read) {
  SinkSlot* slot = FromHandle(port);
  if (slot == nullptr || !slot->documentOpen.load()) {
    *read = 0;
    return Fail(ERROR_INVALID_HANDLE);
  }
  {
    std::lock_guard<std::mutex> lock(slot->readLock);
    slot->readTimes.push_back(std::chrono::steady_clock::now());
  }
  const DWORD length = std::min<DWORD>(count, sizeof kSinkStatusReply - 1);
  std::memcpy(buffer, kSinkStatusReply, length);
  *read = length;
  return TRUE;
}

BOOL WINAPI SinkEndDocPort(HANDLE port) {
  SinkSlot* slot = FromHandle(port);
  if (slot == nullptr) return Fail(ERROR_INVALID_HANDLE);
  slot->documentOpen.store(false);
  return TRUE;
}

BOOL WINAPI SinkClosePort(HANDLE port) {
  std::lock_guard<std::mutex> lock(tableLock);
  SinkSlot* slot = FromHandle(port);
  if (slot == nullptr) return Fail(ERROR_INVALID_HANDLE);
  slot->documentOpen.store(false);
  slot->open = false;
  return TRUE;
}

BOOL WINAPI SinkGetPrinterDataFromPort(HANDLE port, DWORD controlId, LPSTR, LPSTR, DWORD,
                                       LPSTR outBuffer, DWORD outSize, LPDWORD returned) {
  SinkSlot* slot = FromHandle(port);
  if (slot == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (controlId != kDeviceIdControlCode || outBuffer == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const DWORD length = std::min<DWORD>(outSize, static_cast<DWORD>(slot->deviceId.size()));
  std::memcpy(outBuffer, slot->deviceId.data(), length);
  if (length < outSize) outBuffer[length] = '\0';
  *returned = length;
  return TRUE;
}

MONITOR table = [] {
  MONITOR filled{};
  filled.pfnOpenPort = SinkOpenPort;
  filled.pfnStartDocPort = SinkStartDocPort;
  filled.pfnWritePort = SinkWritePort;
  filled.pfnReadPort = SinkReadPort;
  filled.pfnEndDocPort = SinkEndDocPort;
  filled.pfnClosePort = SinkClosePort;
  filled.pfnGetPrinterDataFromPort = SinkGetPrinterDataFromPort;
  return filled;
}();

}  // namespace

std::uint64_t Fold(std::uint64_t state, const BYTE* bytes, DWORD count) {
  DWORD at = 0;
  for (; at + 8 <= count; at += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + at, sizeof word);
    state = (state ^ word) * kFoldMultiplier;
  }
  for (; at < count; ++at) state = (state ^ bytes[at]) * kFoldMultiplier;
  return state;
}

MONITOR* SinkMonitor() {
  return &table;
}

void AttachSink(const std::string& portName, const std::string& deviceId) {
  std::lock_guard<std::mutex> lock(tableLock);
  SinkSlot* slot = FindByName(portName);
  if (slot == nullptr) {
    for (SinkSlot& candidate : slots) {
      if (candidate.name.empty()) {
        slot = &candidate;
        break;
      }
    }
    if (slot == nullptr) return;
    slot->name = portName;
  }
  slot->deviceId = deviceId;
  slot->totals = SinkTotals{};
}

SinkTotals Totals(const std::string& portName) {
  std::lock_guard<std::mutex> lock(tableLock);
  SinkSlot* slot = FindByName(portName);
  return slot == nullptr ? SinkTotals{} : slot->totals;
}

std::vector<std::chrono::steady_clock::time_point> ReadTimes(const std::string& portName) {
  SinkSlot* slot = nullptr;
  {
    std::lock_guard<std::mutex> lock(tableLock);
    slot = FindByName(portName);
  }
  if (slot == nullptr) return {};
  std::lock_guard<std::mutex> lock(slot->readLock);
  return slot->readTimes;
}

}  // namespace bench
