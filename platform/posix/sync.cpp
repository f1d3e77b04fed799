// Critical sections and events.
//
// A CRITICAL_SECTION is recursive on Windows: the owner may enter again and must
// leave as often as it entered. std::recursive_mutex has exactly that contract, so
// it is built in the section's opaque storage.
//
// Windows does not tell a critical section that was never initialised, or one
// already deleted, from a live one: using it is undefined there, and a zero-filled
// global may even seem to work. This layer is test support only, so it refuses
// both loudly: InitializeCriticalSection writes a marker word behind the mutex,
// DeleteCriticalSection overwrites it, and every call checks it first, printing
// what happened and aborting the process in every build.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>

#include "platform/diagnostics.h"
#include "platform/posix/kernel_object.h"

namespace {

// The marker sits in the last bytes of the storage, behind the mutex.
constexpr std::size_t MARKER_OFFSET = sizeof(CRITICAL_SECTION::opaque) - sizeof(std::uint32_t);
constexpr std::uint32_t SECTION_LIVE = 0x4C495645;
constexpr std::uint32_t SECTION_DELETED = 0x44454144;
static_assert(sizeof(std::recursive_mutex) <= MARKER_OFFSET);
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION));

void SetMarker(LPCRITICAL_SECTION section, std::uint32_t marker) {
  std::memcpy(section->opaque + MARKER_OFFSET, &marker, sizeof marker);
}

// The section's mutex, once its marker says it is live; otherwise the process
// ends here, naming the call and what was wrong.
std::recursive_mutex& MutexOf(LPCRITICAL_SECTION section, const char* call) {
  std::uint32_t marker = 0;
  std::memcpy(&marker, section->opaque + MARKER_OFFSET, sizeof marker);
  if (marker != SECTION_LIVE) {
    std::fprintf(stderr, "%s(%p): the critical section %s\n", call, static_cast<void*>(section),
                 marker == SECTION_DELETED ? "was deleted already" : "was never initialised");
    std::abort();
  }
  return *std::launder(reinterpret_cast<std::recursive_mutex*>(section->opaque));
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  new (section->opaque) std::recursive_mutex;
  SetMarker(section, SECTION_LIVE);
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  MutexOf(section, "DeleteCriticalSection").~recursive_mutex();
  SetMarker(section, SECTION_DELETED);
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
  MutexOf(section, "EnterCriticalSection").lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
  MutexOf(section, "LeaveCriticalSection").unlock();
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
