// The local heap: LocalAlloc and LocalFree over malloc, with a count of live
// blocks for the leak tests. Only fixed blocks exist here (LMEM_FIXED, optionally
// zero-filled), so the HLOCAL is the block's address, as it is on Windows.
#include <atomic>
#include <cstdlib>

#include "platform/diagnostics.h"
#include "platform/posix/kernel_object.h"

namespace {
std::atomic<long> liveBlocks{0};
// Set by diag::FailNextHeapAllocation; taken by the next LocalAlloc.
std::atomic<bool> failNextAllocation{false};
}  // namespace

bool diag::FailNextHeapAllocation() {
  failNextAllocation = true;
  return true;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  // Windows hands out a distinct block even for zero bytes.
  SIZE_T size = bytes == 0 ? 1 : bytes;
  if (failNextAllocation.exchange(false)) {
    SetLastError(ERROR_OUTOFMEMORY);  // a planned failure's own code (diagnostics.h)
    return nullptr;
  }
  void* block = (flags & LMEM_ZEROINIT) ? std::calloc(1, size) : std::malloc(size);
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  liveBlocks.fetch_add(1, std::memory_order_relaxed);
  return block;
}

HLOCAL LocalFree(HLOCAL block) {
  // Freeing null is a no-op that succeeds; success returns null.
  if (block != nullptr) {
    std::free(block);
    liveBlocks.fetch_sub(1, std::memory_order_relaxed);
  }
  return nullptr;
}

long kovirlm::posix::CountHeapBlocks() {
  return liveBlocks.load(std::memory_order_relaxed);
}
