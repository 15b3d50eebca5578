// The kit's own text (the window's lines, the face name of its font) is stored in code
// page 936 by the compiler and drawn with a GB2312 font, so it is judged in code page 936
// whatever the system's ANSI code page is. Paths are not kit text: they stay in the
// system's ANSI code page, as Windows gives them and the file calls take them (see
// InstallPaths.h).
#pragma once

#include <windows.h>

constexpr UINT kKitCodePage = 936;

// The length of the longest start of text, at most maxBytes bytes, that ends on a whole
// character of code page 936: a lead byte whose trail byte would fall beyond maxBytes is
// left out. Stops at the terminator; a lead byte right before it counts as a character of
// its own.
size_t WholeKitCharacters(const char* text, size_t maxBytes);

// text read as code page 936, into out as UTF-16 with its terminator. False, with out
// empty, when text does not fit in outChars characters or cannot be converted.
bool WideFromKitText(const char* text, wchar_t* out, int outChars);
