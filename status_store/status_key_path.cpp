// The module-wide current status key path.
//
// The latest SelectStatusKey (from StartDocPort on any port) decides which printer's
// key is current; ClearStatusKey (from any EndDocPort) makes none current. Spooler
// threads of several ports and every poller thread share the path, so it must never
// be seen half-built: an incomplete path names another key ("...\Printers\" itself,
// or a printer's own key without "\StMonitor"), and the first reader to open it
// would write its defaults there.
//
// So the path is built in full on the writer's stack and only then copied into
// StatusKeyBuffer, and every reader copies it out again, each copy under
// StatusKeyLock. That lock guards the buffer and nothing else: it is held for one
// copy of at most STATUS_KEY_BUFFER_SIZE bytes and never while waiting on the
// registry, a device or another lock.
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "platform/short_lock.h"
#include "status_store/status_key.h"

namespace {

// Guarded by StatusKeyLock: the current path (NUL-terminated) when
// StatusKeyCurrent is true, meaningless otherwise.
char StatusKeyBuffer[STATUS_KEY_BUFFER_SIZE];
bool StatusKeyCurrent = false;

constinit ShortLock StatusKeyLock;

// Makes `path` (length bytes plus its terminator) current, or none when null.
void PublishStatusKeyPath(const char* path, std::size_t length) {
  ShortLockGuard lock(StatusKeyLock);
  StatusKeyCurrent = path != nullptr;
  if (path != nullptr) std::memcpy(StatusKeyBuffer, path, length + 1);
}

}  // namespace

void SelectStatusKey(LPCSTR printerName) {
  // A name that does not fit names no key we could open: a truncated path would be
  // another printer's key, so this printer's document runs with no key current.
  // No name at all names no printer either.
  if (printerName == nullptr || std::strlen(printerName) > MAX_STATUS_PRINTER_NAME) {
    PublishStatusKeyPath(nullptr, 0);
    return;
  }
  char path[STATUS_KEY_BUFFER_SIZE];
  std::size_t length = 0;
  for (std::string_view part : {std::string_view(STATUS_KEY_PREFIX), std::string_view(printerName),
                                std::string_view(STATUS_KEY_SUFFIX)}) {
    std::memcpy(path + length, part.data(), part.size());
    length += part.size();
  }
  path[length] = '\0';
  PublishStatusKeyPath(path, length);
}

void ClearStatusKey() {
  PublishStatusKeyPath(nullptr, 0);
}

BOOL CopyStatusKeyPath(char (&out)[STATUS_KEY_BUFFER_SIZE]) {
  ShortLockGuard lock(StatusKeyLock);
  if (!StatusKeyCurrent) {
    out[0] = '\0';
    return FALSE;
  }
  // Copy only up to the terminator: the tail of the buffer may still hold an older,
  // longer path, which is harmless but need not be copied.
  std::size_t length = std::strlen(StatusKeyBuffer);
  std::memcpy(out, StatusKeyBuffer, length + 1);
  return TRUE;
}
