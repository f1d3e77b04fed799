// Selecting a port's status key: the path is built from the printer name, in the
// name's own form (ANSI or UTF-16).
//
// The path lives in the port's own StatusKey, written only by the port's spooler
// thread while no poller of the port runs, so it is never seen half-built and
// needs no lock.
#include <cstddef>

#include "status_store/status_key.h"

namespace {

// Writes prefix, name and suffix into `path`; the caller checked that they fit.
template <typename Char>
void BuildPath(Char (&path)[STATUS_KEY_BUFFER_SIZE], const Char* name, DWORD nameLength) {
  std::size_t length = 0;
  auto append = [&](const auto* chars, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) path[length++] = static_cast<Char>(chars[i]);
  };
  // The prefix and suffix are ASCII: widened character by character, they are
  // the same text in UTF-16.
  append(STATUS_KEY_PREFIX, sizeof STATUS_KEY_PREFIX - 1);
  append(name, nameLength);
  append(STATUS_KEY_SUFFIX, sizeof STATUS_KEY_SUFFIX - 1);
  path[length] = 0;
}

}  // namespace

void SelectStatusKey(StatusKey& key, SpoolerText printerName) {
  ClearStatusKey(key);
  // A name that does not fit names no key we could open: a truncated path would be
  // another printer's key, so this printer's document runs with no key selected.
  // No name at all names no printer either.
  const DWORD length = TextLength(printerName);
  if (IsNullText(printerName) || length > MAX_STATUS_PRINTER_NAME) return;
  if (printerName.ansi != nullptr) {
    BuildPath(key.path, printerName.ansi, length);
  } else {
    BuildPath(key.widePath, printerName.wide, length);
  }
}

void ClearStatusKey(StatusKey& key) {
  key.path[0] = '\0';
  key.widePath[0] = 0;
}

bool IsStatusKeySelected(const StatusKey& key) {
  return key.path[0] != '\0' || key.widePath[0] != 0;
}
