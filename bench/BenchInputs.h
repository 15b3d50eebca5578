// The inputs `updatebench --generate` writes into archives\ and the figures read: the big
// archive, the many-entry archives and the release of the whole-run figure. They depend on
// the sizes alone (bench/run_bench.py keeps them between runs of the same sizes).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "BenchOptions.h"

// The big archive: BigEntryCount entries of kBigEntrySize bytes, every other one
// incompressible.
constexpr char kBigArchive[] = "archives\\big.zip";
constexpr size_t kBigEntrySize = 2 * 1024 * 1024;

// Whole entries, rounded up: a size below one entry still makes an archive to unpack.
int BigEntryCount(const Options& o);

// Where the archive of count small entries (o.perFolder to a folder) is.
std::string ManyArchive(int count);

// One file of the release the whole-run figure installs.
struct ReleaseFile {
    std::string name;
    std::string folder;  // where an archive's entries go; empty for a plain file
};

// The release's files in the order of its list: o.releaseFiles of them, an archive at
// every 50th place, plain files in between.
std::vector<ReleaseFile> ReleaseFiles(const Options& o);

// Where the release's file name is written, and served from as it is.
std::string ReleasePath(const std::string& name);

// Writes the big archive, the many-entry archives and the release (about o.releaseMb MiB).
// False when a folder cannot be made or any file cannot be written.
bool Generate(const Options& o);
