// The status line of the update window: "正在下载文件 %s" with the file's name.
#pragma once

#include <windows.h>

constexpr size_t kStatusLineSize = 32;

// Formats the status line for name into out: at most 31 bytes and a terminator. A longer
// text is cut at 31 bytes, or at 30 when byte 31 would be the first half of a double-byte
// character of code page 936 (WholeKitCharacters), whatever the system's code page, so the
// line never ends in half a character.
void FormatStatusLine(const char* name, char (&out)[kStatusLineSize]);
