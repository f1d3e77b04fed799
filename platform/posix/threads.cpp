// CreateThread and friends on POSIX threads.
//
// The thread object lives as long as its last handle or its thread, whichever is
// later: the new thread holds its own reference until its routine has returned
// (or called ExitThread) and the object has been signalled. Threads are detached;
// waiting is done on the object, never by joining.
//
// ExitThread leaves through pthread_exit, whose forced unwind runs the destructor
// of the guard in Trampoline, so an ended thread always records its exit code and
// signals, whichever way it left.
#include <dirent.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "platform/diagnostics.h"
#include "platform/posix/kernel_object.h"

namespace kovirlm::posix {
namespace {

// What ExitThread asked for, picked up by the guard as the thread unwinds.
thread_local DWORD pendingExitCode = 0;
thread_local bool exitRequested = false;
// What CreateThread gave this thread to start with (diag::CurrentThreadParameter).
thread_local LPVOID startParameter = nullptr;

// Kernel ids of our threads whose routine has ended but whose kernel task may
// still be winding down. Win32 counts such a thread as gone (its handle is
// signalled), so CountLiveThreads leaves them out.
// Never destroyed: a detached thread may still be ending while the process
// runs its exit-time destructors.
struct EndedThreads {
  std::mutex mutex;
  std::set<long> ids;
};

EndedThreads& Ended() {
  static EndedThreads* ended = new EndedThreads;
  return *ended;
}

long KernelThreadId() {
  return static_cast<long>(syscall(SYS_gettid));
}

// Lowering a thread's priority lowers its nice value, so a low-priority poller
// really does yield to the spooler's threads. Raising needs privileges we may
// not have; Win32 callers cannot tell, as GetThreadPriority reports what was set.
int NiceFor(int priority) {
  if (priority <= -15) return 19;
  if (priority <= THREAD_PRIORITY_LOWEST) return 10;
  if (priority == THREAD_PRIORITY_BELOW_NORMAL) return 5;
  return 0;
}

void ApplyPriority(long nativeId, int priority) {
  if (nativeId != 0) {
    setpriority(PRIO_PROCESS, static_cast<id_t>(nativeId), NiceFor(priority));
  }
}

bool ValidPriority(int priority) {
  return priority == -15 || priority == 15 || (priority >= THREAD_PRIORITY_LOWEST && priority <= 2);
}

struct StartBlock {
  std::shared_ptr<KernelObject> self;
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
};

// Records the exit code and signals the object as the thread ends.
struct EndGuard {
  StartBlock* start;
  DWORD returned = 0;
  ~EndGuard() {
    KernelObject& self = *start->self;
    {
      std::lock_guard<std::mutex> lock(Ended().mutex);
      Ended().ids.insert(KernelThreadId());
    }
    {
      std::lock_guard<std::mutex> lock(self.mutex);
      self.exitCode = exitRequested ? pendingExitCode : returned;
    }
    Signal(self);
    delete start;  // drops the thread's own reference to its object
  }
};

#if defined(__i386__)
// Calls a start routine as Windows does on i386, stdcall (the routine pops its
// argument), and checks that it did. A routine of another convention can only get
// here through a cast, which the compiler cannot refuse; Windows would call it all
// the same with the stack four bytes off, and so, unchecked, would the native-i386
// build, which then passes. The call sets up its own aligned frame and puts the
// stack pointer back from %esi, so a wrong routine is told, not survived; the frame
// pointer keeps this frame's unwind information valid while %esp is moved, for
// ExitThread's unwind through it.
__attribute__((noinline, optimize("no-omit-frame-pointer"))) DWORD CallStartRoutine(
    LPTHREAD_START_ROUTINE routine, LPVOID parameter) {
  DWORD result;
  std::uintptr_t before, after;
  asm volatile(
      "movl %%esp, %%esi\n\t"
      "andl $-16, %%esp\n\t"
      "subl $12, %%esp\n\t"
      "pushl %[parameter]\n\t"
      "call *%[routine]\n\t"
      "movl %%esp, %%edx\n\t"
      "movl %%esi, %%esp"
      : "=a"(result), "=&S"(before), "=&d"(after)
      : [routine] "D"(routine), [parameter] "b"(parameter)
      : "ecx", "memory", "cc");
  const std::uintptr_t popped = after - ((before & ~std::uintptr_t{15}) - 16);
  if (popped != sizeof(LPVOID)) {
    std::fprintf(stderr,
                 "CreateThread: start routine %p popped %u bytes of its %u-byte argument: "
                 "it is not WINAPI (stdcall)\n",
                 reinterpret_cast<void*>(routine), static_cast<unsigned>(popped),
                 static_cast<unsigned>(sizeof(LPVOID)));
    std::abort();
  }
  return result;
}
#else
DWORD CallStartRoutine(LPTHREAD_START_ROUTINE routine, LPVOID parameter) {
  return routine(parameter);
}
#endif

void* Trampoline(void* argument) {
  auto* start = static_cast<StartBlock*>(argument);
  long nativeId = KernelThreadId();
  {
    // A kernel id is reused only after its previous thread has gone.
    std::lock_guard<std::mutex> lock(Ended().mutex);
    Ended().ids.erase(nativeId);
  }
  int priority;
  {
    std::lock_guard<std::mutex> lock(start->self->mutex);
    start->self->nativeThreadId = nativeId;
    priority = start->self->priority;
  }
  ApplyPriority(nativeId, priority);
  startParameter = start->parameter;
  EndGuard guard{start};
  guard.returned = CallStartRoutine(start->routine, start->parameter);
  return nullptr;
}

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer starts a thread of its own at the first pthread_create. Start it
// now, before anyone counts, so that the count only ever changes with the
// program's own threads.
void* DoNothing(void*) {
  return nullptr;
}
const bool sanitizerThreadStarted = [] {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, DoNothing, nullptr) == 0) pthread_join(thread, nullptr);
  return true;
}();
#endif

}  // namespace

long CountLiveThreads() {
  // The tasks are listed under the lock, so that a thread which starts and ends
  // between the listing and the lock cannot have its id forgotten as gone while
  // its task still winds down (it would then count as live).
  EndedThreads& ended = Ended();
  std::lock_guard<std::mutex> lock(ended.mutex);
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return 0;
  std::set<long> present;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    present.insert(std::strtol(entry->d_name, nullptr, 10));
  }
  closedir(dir);
  long live = 0;
  for (auto it = ended.ids.begin(); it != ended.ids.end();) {
    // Forget ended threads whose task has gone, so their ids can be reused.
    it = present.count(*it) ? std::next(it) : ended.ids.erase(it);
  }
  for (long id : present) {
    if (!ended.ids.count(id)) ++live;
  }
  return live;
}

}  // namespace kovirlm::posix

using kovirlm::posix::KernelObject;
using kovirlm::posix::ObjectKind;

namespace {
// Set by diag::FailNextThreadCreation; taken by the next CreateThread.
std::atomic<bool> failNextThread{false};
}  // namespace

bool diag::FailNextThreadCreation() {
  failNextThread = true;
  return true;
}

LPVOID diag::CurrentThreadParameter() {
  return kovirlm::posix::startParameter;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD creationFlags, LPDWORD threadId) {
  // Windows 95 and 98 refuse a null thread-id pointer, where NT and Wine accept
  // one; refusing it here holds every native test to the stricter rule. Suspended
  // creation and the other flags are not used by anything here. The arguments are
  // checked before a planned failure, which then waits for the next valid call.
  if (start == nullptr || creationFlags != 0 || threadId == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (failNextThread.exchange(false)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Windows reserves 1 MiB for a thread unless asked for more, and then rounds the
  // request up to whole mebibytes; a thread here gets the same.
  constexpr SIZE_T kMiB = 1024 * 1024;
  SIZE_T reserve = stackSize <= kMiB ? kMiB : (stackSize + kMiB - 1) / kMiB * kMiB;

  auto object = std::make_shared<KernelObject>(ObjectKind::kThread);
  auto* block = new kovirlm::posix::StartBlock{object, start, parameter};

  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attributes, reserve);
  pthread_t thread;
  int failed = pthread_create(&thread, &attributes, kovirlm::posix::Trampoline, block);
  pthread_attr_destroy(&attributes);
  if (failed) {
    delete block;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  static std::atomic<DWORD> nextThreadId{0x100};
  *threadId = nextThreadId.fetch_add(4);
  return kovirlm::posix::InsertHandle(std::move(object));
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
  auto thread = kovirlm::posix::LookupHandle(handle, ObjectKind::kThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!kovirlm::posix::ValidPriority(priority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  long nativeId;
  {
    std::lock_guard<std::mutex> lock(thread->mutex);
    thread->priority = priority;
    nativeId = thread->signalled ? 0 : thread->nativeThreadId;
  }
  kovirlm::posix::ApplyPriority(nativeId, priority);
  return TRUE;
}

int GetThreadPriority(HANDLE handle) {
  auto thread = kovirlm::posix::LookupHandle(handle, ObjectKind::kThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  std::lock_guard<std::mutex> lock(thread->mutex);
  return thread->priority;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
  auto thread = kovirlm::posix::LookupHandle(handle, ObjectKind::kThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(thread->mutex);
  *exitCode = thread->exitCode;
  return TRUE;
}

void ExitThread(DWORD exitCode) {
  kovirlm::posix::pendingExitCode = exitCode;
  kovirlm::posix::exitRequested = true;
  pthread_exit(nullptr);
}
