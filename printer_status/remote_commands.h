// The remote-mode command blocks the monitor sends and the operations on replies.
// The blocks contain zero bytes: they are always handled with their lengths, which
// are part of their types, never as strings.
//
// Every block has one shape: ESC ( R, a 16-bit little-endian length (8), a zero
// byte and "REMOTE1", then two-letter commands each with a 16-bit little-endian
// parameter length and its parameters, then the terminator ESC 00 00 00. The two
// status commands reset the printer first (ESC @, twice).
#pragma once

#include <array>

#include "platform/win32.h"

using StatusCommand = std::array<BYTE, 33>;
using InkCommand = std::array<BYTE, 22>;

// Status command with ST parameter 00 01, for every model but the three families
// that ChooseStatusCommand sends to StatusCommandB.
inline constexpr StatusCommand StatusCommandA = {
    0x1B, 0x40, 0x1B, 0x40,                          // ESC @, twice
    0x1B, 0x28, 0x52,                                // ESC ( R
    0x08, 0x00,                                      // length 8
    0x00, 0x52, 0x45, 0x4D, 0x4F, 0x54, 0x45, 0x31,  // 00 "REMOTE1"
    0x53, 0x54, 0x02, 0x00, 0x00, 0x01,              // ST, 2 bytes: 00 01
    0x41, 0x50, 0x02, 0x00, 0x00, 0x00,              // AP, 2 bytes: 00 00
    0x1B, 0x00, 0x00, 0x00,                          // terminator
};

// The same block with ST parameter 00 03.
inline constexpr StatusCommand StatusCommandB = {
    0x1B, 0x40, 0x1B, 0x40,                          // ESC @, twice
    0x1B, 0x28, 0x52,                                // ESC ( R
    0x08, 0x00,                                      // length 8
    0x00, 0x52, 0x45, 0x4D, 0x4F, 0x54, 0x45, 0x31,  // 00 "REMOTE1"
    0x53, 0x54, 0x02, 0x00, 0x00, 0x03,              // ST, 2 bytes: 00 03
    0x41, 0x50, 0x02, 0x00, 0x00, 0x00,              // AP, 2 bytes: 00 00
    0x1B, 0x00, 0x00, 0x00,                          // terminator
};

// Asks for the ink levels; the printer answers with an "IQ:" reply.
inline constexpr InkCommand InkQueryCommand = {
    0x1B, 0x28, 0x52,                                // ESC ( R
    0x08, 0x00,                                      // length 8
    0x00, 0x52, 0x45, 0x4D, 0x4F, 0x54, 0x45, 0x31,  // 00 "REMOTE1"
    0x49, 0x51, 0x01, 0x00, 0x01,                    // IQ, 1 byte: 01
    0x1B, 0x00, 0x00, 0x00,                          // terminator
};

// The marker in front of the ink data of an ink-level reply.
inline constexpr char INK_REPLY_MARKER[] = "IQ:";
constexpr DWORD INK_REPLY_MARKER_LENGTH = sizeof INK_REPLY_MARKER - 1;

// The status command for a registered model (the IDMDL string): StatusCommandB for
// models beginning with "KP-6600SU", "DL-9240" or "KP-6600S", else StatusCommandA.
// A null model gets StatusCommandA.
const StatusCommand& ChooseStatusCommand(LPCSTR model);

// TRUE when the pattern's bytes occur in the first replyLength bytes of the reply
// (embedded NULs compare like any byte); FALSE for an empty reply, a reply starting
// with NUL, or one shorter than the pattern. Reads only those replyLength bytes.
BOOL ReplyContains(const char* pattern, DWORD patternLength, const char* reply, DWORD replyLength);

// Removes the two length bytes behind each "IQ:" marker of an ink-level reply, in
// place; replies of 22 or 38 bytes are left as they are. `reply` holds `length`
// bytes of data and is a NUL-terminated string afterwards: the terminator is inside
// those bytes, or is the caller's terminator right behind them when nothing was
// removed and the data holds no NUL. Only the `length` bytes are read or written.
void StripInkLengthBytes(char* reply, DWORD length);
