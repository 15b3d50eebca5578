// The one rule for names that the updater writes below a folder of its own: the hand-over
// file's names, archive entries (files and folders) and what mkhandover accepts. Nothing
// else here, so that the zip layer, the updater and the tools can all link it.
#pragma once

// True when name, joined to a folder, can only mean a file or folder inside it, as Windows
// reads it (not as Wine does). Names are ANSI in the process code page; double-byte
// characters are stepped whole, so a trail byte equal to "\" or "/" is no separator and a
// trail byte equal to "|" is no refused character. "/" and "\" both separate; a separator
// at the end and doubled separators are allowed. False for:
// - null or empty, or a separator first;
// - any colon (a drive, or an alternate data stream);
// - a component of only dots and spaces (Windows trims "..  " to ".."), or one that ends
//   in a dot or a space (trimmed away, so the name means another one);
// - a device name as a component, in any case, with or without an extension or trailing
//   spaces before it: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9 (and with
//   the superscript digits 1, 2, 3 of code page 1252);
// - the characters < > " | ? * and control bytes 1-31;
// - a lead byte with no trail byte after it, or one followed by a byte below 0x40 (no
//   double-byte code page has such trail bytes; Windows would make it something else).
bool IsSafeRelativeName(const char* name);

// The rule a name breaks, the first one met from its start; None for a safe name.
enum class NameFault {
    None,
    Rooted,              // null, empty, or a separator first
    DriveOrStream,       // a colon
    DotsOrSpaces,        // a component of only dots and spaces ("..": a climb)
    TrailingDotOrSpace,  // a component ending in one
    Device,              // a device name as a component
    ReservedCharacter,   // < > " | ? * or a control byte ("?" also stands for a character
                         // of an archive's UTF-8 name that the code page cannot spell)
    BrokenDoubleByte,    // a lead byte without a fitting trail byte
};
NameFault WhyUnsafe(const char* name);
