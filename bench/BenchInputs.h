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

// One file of a release the whole-run figures install.
struct ReleaseFile {
    std::string name;
    std::string folder;  // where an archive's entries go; empty for a plain file
};

// The releases: the whole release of figure 9 (o.releaseFiles files, about o.releaseMb MiB,
// an archive at every 50th place), the release over a player's line of figure 12
// (o.lineFiles files, about o.lineMb MiB, two archives) and figure 12's small-file release
// (o.smallFiles files of 8 to 90 KiB, two of them archives that make up about o.smallKib KiB
// in all).
enum class Release { Whole, OverALine, SmallFiles };

// The release's files in the order of its list, plain files between the archives.
std::vector<ReleaseFile> ReleaseFiles(const Options& o, Release which = Release::Whole);

// Where a release's file name is written, and served from as it is (the names of the two
// releases differ).
std::string ReleasePath(const std::string& name);

// Figure 14's archives: kEntriesCount entries of o.bigMb MiB in all, incompressible, every
// other one deflated, named "x000.dat" on. "previous" is the release installed; "new" has
// kEntriesChanged of its entries changed, spread over it, and kEntriesAdded more at its
// end; "every" has new's names and sizes, every entry changed.
constexpr int kEntriesCount = 256;
constexpr int kEntriesChanged = 8;
constexpr int kEntriesAdded = 2;
// Where version's archive is: archives\entries\<version>.zip.
std::string EntriesArchive(const std::string& version);

// Signs what the server serves (big.bin as it sends it, and both releases) with a key made
// here, and writes the manifest where the server serves it from (signed\). The public
// key's text; "" when anything failed.
std::string SignWhatIsServed(const Options& o);
// Forgets the highest release serial this machine's installations accepted (the tests' runs
// store theirs in the same place), so that the manifest SignWhatIsServed made is taken.
void ForgetAcceptedSerial();

// Writes the big archive, the many-entry archives, the releases and figure 14's archives.
// False when a folder cannot be made or any file cannot be written.
bool Generate(const Options& o);
