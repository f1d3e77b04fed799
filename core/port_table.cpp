// The open ports by handle (core/port_table.h).
//
// Plain zero-initialised arrays: the DLL runs no constructors. Records chain
// through their `nextInTable`; a chain's lock guards its head and every
// `nextInTable` in it.
#include "core/port_table.h"

#include <cstdint>

namespace {

PortRecord* PortTable[PORT_TABLE_BUCKETS];
CRITICAL_SECTION PortTableLocks[PORT_TABLE_LOCKS];

// Records are heap blocks, so a handle's low bits are alignment and neighbouring
// records differ in a few middle bits. Multiplying by 2^32 over the golden ratio
// spreads them over the whole word, whose top bits pick the chain.
DWORD BucketOf(const void* handle) {
  const auto value = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle));
  const auto folded = static_cast<DWORD>(value >> 4) ^ static_cast<DWORD>(value >> 32);
  return static_cast<DWORD>(folded * 2654435761u) >> (32 - PORT_TABLE_BITS);
}

// Holds the lock of the chain that `handle` belongs to.
struct ChainGuard {
  explicit ChainGuard(const void* handle)
      : bucket(BucketOf(handle)), lock(&PortTableLocks[bucket % PORT_TABLE_LOCKS]) {
    EnterCriticalSection(lock);
  }
  ~ChainGuard() { LeaveCriticalSection(lock); }
  ChainGuard(const ChainGuard&) = delete;
  ChainGuard& operator=(const ChainGuard&) = delete;

  // Only pointers are compared: a handle that is not here is never read.
  PortRecord* Find(const void* handle) const {
    for (PortRecord* record = PortTable[bucket]; record != nullptr; record = record->nextInTable) {
      if (record == handle) return record;
    }
    return nullptr;
  }

  DWORD bucket;
  LPCRITICAL_SECTION lock;
};

}  // namespace

void InitializePortTableLocks() {
  for (CRITICAL_SECTION& lock : PortTableLocks) InitializeCriticalSection(&lock);
}

void DeletePortTableLocks() {
  for (CRITICAL_SECTION& lock : PortTableLocks) DeleteCriticalSection(&lock);
}

void AddToPortTable(PortRecord* record) {
  const ChainGuard chain(record);
  record->nextInTable = PortTable[chain.bucket];
  PortTable[chain.bucket] = record;
}

void RemoveFromPortTable(PortRecord* record) {
  const ChainGuard chain(record);
  for (PortRecord** link = &PortTable[chain.bucket]; *link != nullptr;
       link = &(*link)->nextInTable) {
    if (*link == record) {
      *link = record->nextInTable;
      record->nextInTable = nullptr;
      return;
    }
  }
}

bool InPortTable(HANDLE port) {
  const ChainGuard chain(port);
  return chain.Find(port) != nullptr;
}

PortRecord* CountCallIn(HANDLE port) {
  const ChainGuard chain(port);
  PortRecord* record = chain.Find(port);
  if (record == nullptr || HasStatusBits(record, PS_CLOSING)) return nullptr;
  record->callsInProgress.fetch_add(1);
  return record;
}

void MarkClosing(PortRecord* record) {
  const ChainGuard chain(record);
  SetStatusBits(record, PS_CLOSING);
}

bool CountOutUnlessClosing(PortRecord* record) {
  const ChainGuard chain(record);
  if (HasStatusBits(record, PS_CLOSING)) return false;
  record->callsInProgress.fetch_sub(1);
  return true;
}
