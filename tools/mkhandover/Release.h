// mkhandover's half of signed releases: --keygen makes the release key, --sign writes the
// signed release manifest (update/signing/ReleaseManifest.h) into the folder the server
// serves as "Torvel\", and what --check (Check.h) says of a manifest and of each file.
#pragma once

#include <windows.h>

#include <string>

#include "ReleaseSigning.h"

// --keygen KEYFILE: writes a new private key to keyFile, never over an existing file, the
// file created readable by the current user alone (PrivateFile.h), and prints the line
// "ReleaseKey=..." to paste under [Setting] of UpdateConfig.txt. Returns 0, or 1 after
// saying why on stderr (the file exists or cannot be written; it cannot be made readable
// by its owner only, and is not left behind; CNG refused).
int MakeReleaseKey(const char* keyFile);

// What --sign writes into the manifest besides the files.
struct SignOptions {
    DWORD serial;
    DWORD version1, version2;  // the hand-over file's (--v1, --v2) that announces the release
    bool expires;
    DWORD expiresDays;  // when expires: the expiry this many days from now (0: at once)
};

// --sign KEYFILE FOLDER --serial N --versions V1 V2 [--expires DAYS]: every file below
// folder (named relative to it with "\", sorted), with the serial, the versions and the
// expiry of options, signed with the key in keyFile, written to
// folder\kReleaseManifestName through a temporary file and a rename. Left out: the manifest
// itself and its temporary file; with a note on stderr, every name a hand-over record
// cannot hold, every file of 4 GiB or more, and every link below folder (a junction or
// symbolic link, to a file or a folder: neither it nor what it leads to is signed; a
// reparse point that holds the file's own data, as a deduplicated one, is no link). A
// folder that is itself a link is followed, and said on stdout. On success it prints to
// stdout what changed against the manifest that was there, one line each ("added    ",
// "removed  ", "changed  " and the name; a line when nothing changed or there was no
// manifest that reads as one), then the manifest's summary and the public key.
// Returns 0, or 1 after saying why on stderr (the key file is unreadable or no key; it
// lies inside folder, as the paths both lead to after links, "..", short names and case
// say; where either leads cannot be told; a file cannot be read; nothing to sign; the
// manifest there has a higher serial; it cannot be written).
int SignRelease(const char* keyFile, const char* folder, const SignOptions& options);

// The key --check judges with: keyText (a public key text) when given, else "ReleaseKey" of
// installDir\UpdateConfig.txt when installDir is given. *found is false when neither names
// a key. False after saying on stderr why when the key named is no public key text.
bool FindReleaseKey(const char* keyText, const char* installDir, PublicKey* key, bool* found);

// What the check says of a manifest VerifyManifest judged: its serial, versions, expiry and
// files (None), or why it is refused, with its line.
std::string DescribeManifest(ManifestFault fault, size_t line, const ReleaseManifest& manifest);

// The check's "signed" column for the whole download at path of the listed name: "yes"
// when it is the file manifest lists, otherwise why not.
std::string SignedColumn(const ReleaseManifest& manifest, const char* name, const char* path);
