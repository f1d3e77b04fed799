// Critical sections and events.
//
// A CRITICAL_SECTION is recursive on Windows: the owner may enter again and must
// leave as often as it entered. std::recursive_mutex has exactly that contract, so
// it is built in the section's opaque storage.
#include <new>

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

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
  // Named events would need a namespace shared with other processes; nothing
  // here uses one, so a name is refused rather than silently ignored.
  if (name != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto event = std::make_shared<KernelObject>(ObjectKind::kEvent);
  event->manualReset = manualReset != FALSE;
  event->signalled = initialState != FALSE;
  HANDLE handle = kovirlm::posix::InsertHandle(std::move(event));
  // A new, unnamed event leaves ERROR_SUCCESS behind, as on Windows.
  SetLastError(ERROR_SUCCESS);
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
