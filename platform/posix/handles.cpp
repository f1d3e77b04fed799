// The handle table, CloseHandle and WaitForSingleObject.
//
// Invariant: every open handle is one entry in `table`, and the entry holds a
// reference to its object. Waits copy that reference out under the table lock and
// then wait on the object alone, so a handle closed by another thread during a
// wait does not pull the object out from under the waiter (Windows behaves the
// same: the wait holds its own reference).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <unordered_map>

#include "platform/posix/kernel_object.h"

namespace kovirlm::posix {
namespace {

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> entries;
};

// Like Windows, handle values are multiples of four; unlike Windows they are
// never reused, so a stale handle can never reach a newer object.
std::atomic<std::uintptr_t> nextHandleValue{0x1000};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // lives to the end of the process
  return *table;
}

std::uintptr_t Key(HANDLE handle) {
  return reinterpret_cast<std::uintptr_t>(handle);
}

}  // namespace

std::uintptr_t NewHandleValue() {
  return nextHandleValue.fetch_add(4, std::memory_order_relaxed);
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  std::uintptr_t value = NewHandleValue();
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.entries.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle, ObjectKind kind) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.entries.find(Key(handle));
  if (it == table.entries.end() || it->second->kind != kind) return nullptr;
  return it->second;
}

std::shared_ptr<KernelObject> LookupWaitable(HANDLE handle) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.entries.find(Key(handle));
  if (it == table.entries.end() || it->second->kind == ObjectKind::kPrinter) return nullptr;
  return it->second;
}

bool RemoveHandle(HANDLE handle, ObjectKind kind) {
  std::shared_ptr<KernelObject> released;  // destroyed after the lock is dropped
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.entries.find(Key(handle));
  if (it == table.entries.end() || it->second->kind != kind) return false;
  released = std::move(it->second);
  table.entries.erase(it);
  return true;
}

long CountHandles() {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  return static_cast<long>(table.entries.size());
}

long CountHandles(ObjectKind kind) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  long count = 0;
  for (const auto& entry : table.entries) {
    if (entry.second->kind == kind) ++count;
  }
  return count;
}

void Signal(KernelObject& object) {
  {
    std::lock_guard<std::mutex> lock(object.mutex);
    if (object.manualReset) {
      object.signalled = true;
      ++object.generation;
    } else if (object.waiters > object.grants) {
      ++object.grants;  // one blocked waiter takes it; the event stays reset
    } else {
      object.signalled = true;
    }
  }
  // Every waiter rechecks its own condition, so waking all of them is correct
  // for both kinds; at most one takes an auto-reset grant.
  object.changed.notify_all();
}

}  // namespace kovirlm::posix

using kovirlm::posix::KernelObject;
using kovirlm::posix::ObjectKind;

BOOL CloseHandle(HANDLE handle) {
  // Printer handles are not kernel handles: ClosePrinter closes them.
  if (kovirlm::posix::RemoveHandle(handle, ObjectKind::kEvent) ||
      kovirlm::posix::RemoveHandle(handle, ObjectKind::kThread)) {
    return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  std::shared_ptr<KernelObject> object = kovirlm::posix::LookupWaitable(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  std::unique_lock<std::mutex> lock(object->mutex);
  if (object->signalled) {
    // Satisfying the wait consumes an auto-reset event's signal.
    if (!object->manualReset) object->signalled = false;
    return WAIT_OBJECT_0;
  }
  if (milliseconds == 0) return WAIT_TIMEOUT;

  const unsigned long generation = object->generation;
  auto ready = [&] {
    return object->manualReset ? object->signalled || object->generation != generation
                               : object->grants > 0 || object->signalled;
  };
  ++object->waiters;
  bool satisfied = true;
  if (milliseconds == INFINITE) {
    object->changed.wait(lock, ready);
  } else {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    satisfied = object->changed.wait_until(lock, deadline, ready);
  }
  --object->waiters;
  if (!satisfied) return WAIT_TIMEOUT;
  if (!object->manualReset) {
    if (object->grants > 0) {
      --object->grants;
    } else {
      object->signalled = false;
    }
  }
  return WAIT_OBJECT_0;
}
