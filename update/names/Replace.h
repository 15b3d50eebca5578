// Putting a finished file in place of an existing one, the one way the zip layer and the
// update step both do it: a rename over the target, so that it is old or new at every
// moment, never half of each.
#pragma once

#include <windows.h>

// The calls a replacement makes: the system's own (SystemReplaceCalls), or a scripted
// world's in the tests.
class ReplaceCalls {
public:
    // Renames from over to (MOVEFILE_REPLACE_EXISTING); false when refused.
    virtual bool Move(const char* from, const char* to) = 0;
    // INVALID_FILE_ATTRIBUTES when path names nothing or cannot be read.
    virtual DWORD Attributes(const char* path) = 0;
    virtual bool SetAttributes(const char* path, DWORD attributes) = 0;

protected:
    ~ReplaceCalls() = default;
};

// The attribute bits that make Windows refuse to replace or write a file.
constexpr DWORD kStandingInTheWay =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Whether attributes (INVALID_FILE_ATTRIBUTES: nothing there) are a folder's.
inline bool IsFolderAttributes(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Moves from over to. The plain move comes first (looking at a target that does not exist
// yet costs as much as the move); when it is refused and to is a file with bits standing in
// the way, they are cleared and the move is tried once more, and a target that is still not
// replaced gets its bits back. True when to now holds from's file.
bool ReplaceLiftingBits(ReplaceCalls& calls, const char* from, const char* to);

// Clears the read-only bit of the file at path, so that it can be written; true when it can
// be now (no file there, or a file without the bit).
bool LiftReadOnly(ReplaceCalls& calls, const char* path);

// MoveFileExA, GetFileAttributesA and SetFileAttributesA.
ReplaceCalls& SystemReplaceCalls();
