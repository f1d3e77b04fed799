// Choosing the status command for a model and processing the printer's replies.
//
// Replies arrive as counted bytes that may hold NULs anywhere, so nothing here
// trusts a terminator inside the counted bytes, and nothing reads or writes past
// them: a reply that filled its read buffer must not lead us into the heap
// behind it.
#include "printer_status/remote_commands.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// A prefix test on a NUL-terminated string: stops at the first difference, so a
// model shorter than the prefix is never read past its terminator.
bool StartsWith(LPCSTR text, std::string_view prefix) {
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (text[i] != prefix[i]) return false;  // also stops at text's terminator
  }
  return true;
}

bool IsMarkerAt(const char* bytes, DWORD offset) {
  return std::memcmp(bytes + offset, INK_REPLY_MARKER, INK_REPLY_MARKER_LENGTH) == 0;
}

// Length of the string at `text`, looking at no more than `limit` bytes.
DWORD BoundedLength(const char* text, DWORD limit) {
  const void* nul = std::memchr(text, '\0', limit);
  return nul ? static_cast<DWORD>(static_cast<const char*>(nul) - text) : limit;
}

// Removes the `count` bytes at `at` from the `end` bytes of data in front of them
// and clears the freed bytes at the end.
void RemoveBytes(char* data, DWORD end, DWORD at, DWORD count) {
  std::memmove(data + at, data + at + count, end - at - count);
  std::memset(data + end - count, 0, count);
}

}  // namespace

const StatusCommand& ChooseStatusCommand(LPCSTR model) {
  if (model == nullptr) return StatusCommandA;
  // The order matters only in that every test is a prefix test: "KP-6600SU" also
  // begins with "KP-6600S".
  if (StartsWith(model, "KP-6600SU")) return StatusCommandB;
  if (StartsWith(model, "DL-9240")) return StatusCommandB;
  if (StartsWith(model, "KP-6600S")) return StatusCommandB;
  return StatusCommandA;
}

BOOL ReplyContains(const char* pattern, DWORD patternLength, const char* reply, DWORD replyLength) {
  if (reply == nullptr || replyLength == 0 || reply[0] == '\0') return FALSE;
  if (replyLength < patternLength) return FALSE;
  if (pattern == nullptr && patternLength != 0) return FALSE;
  const std::string_view haystack(reply, replyLength);
  const std::string_view needle(pattern, patternLength);
  return haystack.find(needle) != std::string_view::npos ? TRUE : FALSE;
}

// The printer puts two length bytes behind every "IQ:" marker of an ink reply,
// except in the two fixed-size replies (22 and 38 bytes) that carry none. The
// bytes behind the first marker are removed as raw bytes, whatever they are (a
// length byte may well be 0); that can leave a NUL inside the data, and from
// there on the reply is handled as the string up to its first NUL. Markers are
// looked for at every offset up to `length` - 3 of the original length, however
// short the string has become.
void StripInkLengthBytes(char* reply, DWORD length) {
  constexpr DWORD kRemoved = 2;  // the length bytes behind a marker
  if (reply == nullptr || length == 22 || length == 38) return;
  if (length < INK_REPLY_MARKER_LENGTH) return;
  const DWORD lastOffset = length - INK_REPLY_MARKER_LENGTH;

  DWORD p = 0;
  while (p <= lastOffset && !IsMarkerAt(reply, p)) ++p;
  if (p > lastOffset) return;  // no marker: the reply stays as it is

  // First marker: raw bytes, embedded NULs included.
  const DWORD behind = p + INK_REPLY_MARKER_LENGTH;  // first byte after the marker
  const DWORD following = length - behind;
  if (following > 0) RemoveBytes(reply, length, behind, std::min(following, kRemoved));
  // From here on the reply is the string up to its first NUL. It ends inside the
  // data whenever bytes were removed; otherwise it may end at the caller's
  // terminator behind the data, which we never touch.
  DWORD stringLength = BoundedLength(reply, length);

  for (++p; p <= lastOffset; ++p) {
    if (p + INK_REPLY_MARKER_LENGTH > stringLength) break;  // past the string's end
    if (!IsMarkerAt(reply, p)) continue;
    const DWORD after = p + INK_REPLY_MARKER_LENGTH;
    if (stringLength - after < kRemoved) continue;  // fewer than two characters follow
    RemoveBytes(reply, stringLength, after, kRemoved);
    stringLength -= kRemoved;
  }
}
