// Selecting a port's status key: the path is built from the printer name.
//
// The path lives in the port's own StatusKey, written only by the port's spooler
// thread while no poller of the port runs, so it is never seen half-built and
// needs no lock.
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "status_store/status_key.h"

void SelectStatusKey(StatusKey& key, LPCSTR printerName) {
  // A name that does not fit names no key we could open: a truncated path would be
  // another printer's key, so this printer's document runs with no key selected.
  // No name at all names no printer either.
  if (printerName == nullptr || std::strlen(printerName) > MAX_STATUS_PRINTER_NAME) {
    ClearStatusKey(key);
    return;
  }
  std::size_t length = 0;
  for (std::string_view part : {std::string_view(STATUS_KEY_PREFIX), std::string_view(printerName),
                                std::string_view(STATUS_KEY_SUFFIX)}) {
    std::memcpy(key.path + length, part.data(), part.size());
    length += part.size();
  }
  key.path[length] = '\0';
}

void ClearStatusKey(StatusKey& key) {
  key.path[0] = '\0';
}

bool IsStatusKeySelected(const StatusKey& key) {
  return key.path[0] != '\0';
}
