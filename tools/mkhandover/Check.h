// mkhandover --check: every record of a hand-over file fetched from its server the way
// Update.exe fetches it (the same URL join, the same download attempt) and judged by the
// updater's own decisions, so that a release is known to install before players get it.
#pragma once

#include <memory>

#include "HandOver.h"
#include "ReleaseKey.h"

// Fetches every record of the hand-over file at handOverPath and prints one table row per
// record (HTTP status, announced length, bytes received, record size, whether the updater
// would install it whole and why not), then for each archive whether a player holding
// installDir would fetch it by entries (EntryCheck.h), then what each archive would skip and
// write.
// installDir: an existing installation folder whose folders count as present, whose length
// counts in the path limits and whose files fetching by entries compares with the archives'
// entries; null judges against a bare installation, with nothing installed. Progress goes
// to stderr: a line as each file starts and ends, and every 2 s while it downloads.
// Nothing is written outside a temporary folder, which is removed.
// releaseKey (null: none): the release is signed; the release manifest is fetched first and
// judged with it (the verdict printed before the table), and a column "signed" says whether
// each whole download is the file the manifest lists, or why not; a file that is not
// installs nothing, nor does any file when the manifest is refused.
// Returns 0 when every file would be installed whole, 1 when any would not, 2 when the
// hand-over file cannot be read or the updater would refuse it.
int CheckHandOver(const char* handOverPath, const char* installDir, const PublicKey* releaseKey);

// Reads the hand-over file at path as the updater reads it into header and items (null for
// no records); false after saying on stderr why not (it cannot be read, or the updater would
// refuse it).
bool LoadHandOver(const char* path, HandOverHeader& header, std::unique_ptr<UpdateItem[]>& items);
