// Resource counts for the leak tests, answered exactly from the layer's own
// bookkeeping; the thread count and memory come from the kernel's view of the
// process.
#include "platform/diagnostics.h"

#include <unistd.h>

#include <cstdio>

#include "platform/posix/kernel_object.h"

namespace {

// Resident memory from /proc/self/statm (in pages); 0 when unreadable.
std::uint64_t ResidentBytes() {
  std::FILE* file = std::fopen("/proc/self/statm", "r");
  if (file == nullptr) return 0;
  unsigned long long total = 0, resident = 0;
  int fields = std::fscanf(file, "%llu %llu", &total, &resident);
  std::fclose(file);
  if (fields != 2) return 0;
  return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

diag::ResourceCounts diag::CurrentResourceCounts() {
  ResourceCounts counts{};
  counts.heapBlocks = kovirlm::posix::CountHeapBlocks();
  counts.handles = kovirlm::posix::CountHandles();
  counts.openKeys = kovirlm::posix::CountOpenKeys();
  counts.threads = kovirlm::posix::CountLiveThreads();
  counts.memoryBytes = ResidentBytes();
  return counts;
}
