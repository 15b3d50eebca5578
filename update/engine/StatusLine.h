// The status line of the update window: "正在下载文件 %s" with the file's name while it
// downloads, or what the run waits for and for which file while it waits to try again.
#pragma once

#include <windows.h>

constexpr size_t kStatusLineSize = 32;

// Formats the status line for name into out: at most 31 bytes and a terminator. A longer
// text is cut at 31 bytes, or at 30 when byte 31 would be the first half of a double-byte
// character of code page 936 (WholeKitCharacters), whatever the system's code page, so the
// line never ends in half a character.
void FormatStatusLine(const char* name, char (&out)[kStatusLineSize]);

// The line while the files an archive would write are compared with its entries:
// "正在比较文件 %s", cut as FormatStatusLine cuts.
void FormatCompareLine(const char* name, char (&out)[kStatusLineSize]);

// What a run that waits to try again waits for.
enum class WaitReason {
    None,
    InUse,           // the file is in use or cannot be replaced
    AccessDenied,    // the run may not write the file or its folder (UpdateIo::MayNotWrite)
    DiskFull,        // the disk is full
    FolderInTheWay,  // a folder stands where the file should go
    ServerError,     // the server answered with an error (its status code)
    NoAnswer,        // the server did not answer, or fell silent
    Incomplete,      // the download broke off or came short
    // A release signed by the operator (UpdateConfig.txt names a key):
    NotSigned,       // the file as served is not the one the release manifest lists
    BadSignature,    // the manifest's signature does not hold with the installation's key
    OlderRelease,    // the manifest is older than a release this installation took
    Expired,         // the manifest has expired
    Malformed,       // the manifest is no manifest (or too large)
    KeyInvalid,      // the installation's key is no key
    KeyMissing,      // the installation took signed releases, but no key of it can be found
    KeyUnreadable,   // the installation's UpdateConfig.txt cannot be read
    OtherVersions,   // the manifest was signed for other versions than the lobby asked for
};

// The status line while the run waits: the reason in the kit's words (with status for a
// ServerError), a space and name, cut as FormatStatusLine cuts. WaitReason::None gives the
// download line of FormatStatusLine.
void FormatWaitLine(WaitReason why, DWORD status, const char* name, char (&out)[kStatusLineSize]);
