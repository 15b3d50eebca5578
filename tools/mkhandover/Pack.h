// mkhandover --pack: an archive the updater unpacks as meant.
#pragma once

// Writes the tree below dir into the archive out: every folder as a folder entry ahead of
// what it holds, files deflated (empty ones stored), names relative to dir with "/" in code
// page 936, each file's last-write time as the entry's DOS time (local time, 2 s steps)
// and its archive, hidden and system bits. Prints a line per refusal to stderr and returns
// 1, leaving no out behind, when: dir is no folder; out does not end in ".zip" in lower
// case (the updater would move it as a plain file) or lies inside dir; a name cannot be
// written in code page 936, is not a safe relative name or is 260 bytes or longer (the
// updater treats the archive as damaged); a file is 4 GiB or larger or cannot be read; a
// last-write time lies outside the DOS years 1980 to 2107; the archive cannot be written.
// Returns 0 and prints the counts otherwise.
int PackFolder(const char* dir, const char* out);
