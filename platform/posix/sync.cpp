// Critical sections and events.
//
// A CRITICAL_SECTION is recursive on Windows: the owner may enter again and must
// leave as often as it entered. std::recursive_mutex has exactly that contract, so
// it is built in the section's opaque storage.
#include <atomic>
#include <map>
#include <new>
#include <string>

#include "platform/diagnostics.h"
#include "platform/posix/kernel_object.h"

namespace {

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::opaque));
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION));

std::recursive_mutex& MutexOf(LPCRITICAL_SECTION section) {
  return *std::launder(reinterpret_cast<std::recursive_mutex*>(section->opaque));
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  new (section->opaque) std::recursive_mutex;
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  MutexOf(section).~recursive_mutex();
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
  MutexOf(section).lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
  MutexOf(section).unlock();
}

using kovirlm::posix::KernelObject;
using kovirlm::posix::ObjectKind;

namespace {

// Named events, by exact name, for as long as a handle to them is open. One
// process is all there is here, so the process-wide namespace is enough.
// Never destroyed, so that threads still running at exit may create events.
struct EventNames {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<KernelObject>> events;
};

EventNames& Names() {
  static EventNames* names = new EventNames;
  return *names;
}

}  // namespace

namespace {

// Successful CreateEventA calls still to go before the injected failure; -1 when
// none is planned (diag::FailEventCreation).
std::atomic<int> eventsBeforeFailure{-1};

bool TakeEventCreationFailure() {
  int left = eventsBeforeFailure.load();
  while (left >= 0) {
    if (eventsBeforeFailure.compare_exchange_weak(left, left - 1)) return left == 0;
  }
  return false;
}

}  // namespace

bool diag::FailEventCreation(int after) {
  eventsBeforeFailure = after < 0 ? -1 : after;
  return true;
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
  if (TakeEventCreationFailure()) {
    SetLastError(ERROR_OUTOFMEMORY);
    return nullptr;
  }
  std::shared_ptr<KernelObject> event;
  bool existed = false;
  {
    EventNames& names = Names();
    std::lock_guard<std::mutex> lock(names.mutex);
    if (name != nullptr) {
      // Forget names whose events have gone, so the map stays as small as the
      // set of live named events.
      std::erase_if(names.events, [](const auto& entry) { return entry.second.expired(); });
      auto it = names.events.find(name);
      if (it != names.events.end()) event = it->second.lock();
      existed = event != nullptr;
    }
    if (!event) {
      event = std::make_shared<KernelObject>(ObjectKind::kEvent);
      event->manualReset = manualReset != FALSE;
      event->signalled = initialState != FALSE;
      if (name != nullptr) names.events[name] = event;
    }
  }
  HANDLE handle = kovirlm::posix::InsertHandle(std::move(event));
  // Windows leaves ERROR_ALREADY_EXISTS when a named event was opened rather
  // than created, and ERROR_SUCCESS otherwise.
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL SetEvent(HANDLE handle) {
  auto event = kovirlm::posix::LookupHandle(handle, ObjectKind::kEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  kovirlm::posix::Signal(*event);
  return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
  auto event = kovirlm::posix::LookupHandle(handle, ObjectKind::kEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(event->mutex);
  event->signalled = false;
  return TRUE;
}
