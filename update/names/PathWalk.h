// Walking a path (ANSI, the process code page) character by character. A double-byte
// character is stepped whole: its trail byte may equal "\" or "/", and is no separator.
// The one walk the updater, the zip layer and the tools use for paths; the kit's own text
// is cut in code page 936 by KitText.
#pragma once

#include <windows.h>

#include <cstddef>

// True for a lead byte of the process code page.
inline bool IsLeadByte(char c) { return IsDBCSLeadByte(static_cast<BYTE>(c)) != FALSE; }

inline bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// Bytes of the character at p: 2 for a lead byte followed by a byte, otherwise 1 (a lead
// byte right before the terminator counts as a character of its own).
inline size_t CharacterBytes(const char* p) { return IsLeadByte(p[0]) && p[1] != '\0' ? 2 : 1; }

// Calls visit(offset) for each "\" or "/" of path that separates.
template <typename Visit>
void ForEachSeparator(const char* path, Visit visit) {
    for (size_t i = 0; path[i] != '\0'; i += CharacterBytes(path + i)) {
        if (IsPathSeparator(path[i])) visit(i);
    }
}

// Offset of the last separator of path, or -1 when it has none.
inline int LastSeparator(const char* path) {
    int last = -1;
    ForEachSeparator(path, [&](size_t i) { last = static_cast<int>(i); });
    return last;
}

// The folder part of path, what comes before its last separator, into out (MAX_PATH
// bytes). False, with out empty, when path has no separator or is longer than out holds.
inline bool FolderPart(const char* path, char (&out)[MAX_PATH]) {
    out[0] = '\0';
    const int cut = LastSeparator(path);
    if (cut < 0 || cut >= MAX_PATH) return false;
    for (int i = 0; i < cut; ++i) out[i] = path[i];
    out[cut] = '\0';
    return true;
}
