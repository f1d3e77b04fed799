// The remote-mode command blocks the monitor sends and the operations on replies.
// The blocks contain zero bytes: they are always handled with their lengths, which
// are part of their types, never as strings.
#pragma once

#include <array>

#include "platform/win32.h"

using StatusCommand = std::array<BYTE, 33>;
using InkCommand = std::array<BYTE, 22>;

extern const StatusCommand StatusCommandA;
extern const StatusCommand StatusCommandB;
extern const InkCommand InkQueryCommand;

// The status command for a registered model (the IDMDL string).
const StatusCommand& ChooseStatusCommand(LPCSTR model);

// TRUE when the pattern's bytes occur in the first replyLength bytes of the reply;
// FALSE for a reply starting with NUL or shorter than the pattern.
BOOL ReplyContains(const char* pattern, DWORD patternLength, const char* reply,
                   DWORD replyLength);

// Removes the two length bytes behind each "IQ:" marker of an ink-level reply, in
// place; replies of 22 or 38 bytes are left as they are.
void StripInkLengthBytes(char* reply, DWORD length);
