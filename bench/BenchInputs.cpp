#include "BenchInputs.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include <urlmon.h>

#include <cstdio>

#include "ArchiveWriter.h"
#include "BenchSupport.h"
#include "ReleaseSigning.h"
#include "RunCompletion.h"

std::string ManyArchive(int count) { return Format("archives\\many%d.zip", count); }

namespace {

std::string ManyEntryName(int k, int perFolder) {
    return Format("d%03d/f%05d.txt", k / perFolder, k);
}

}  // namespace

int BigEntryCount(const Options& o) {
    return static_cast<int>((static_cast<size_t>(o.bigMb) * 1024 * 1024 + kBigEntrySize - 1) /
                            kBigEntrySize);
}

namespace {

// A release of o.releaseFiles files and about o.releaseMb MiB: an archive at every
// kFilesPerArchive-th place of the list (a folder entry, many small entries, a few large
// ones each), plain files in between sharing what is left of the size. Generate writes it
// to kReleaseFolder, which the loopback server serves as it is.
const char kReleaseFolder[] = "archives\\release";
constexpr int kFilesPerArchive = 50;
constexpr int kFilesPerArchiveOverALine = 100;
constexpr int kSmallEntriesPerArchive = 250;
constexpr int kLargeEntriesPerArchive = 5;  // each a hundredth of the release

}  // namespace

std::string ReleasePath(const std::string& name) { return kReleaseFolder + ("\\" + name); }

std::vector<ReleaseFile> ReleaseFiles(const Options& o, Release which) {
    const bool line = which == Release::OverALine, small = which == Release::SmallFiles;
    const int count = line ? o.lineFiles : small ? o.smallFiles : o.releaseFiles;
    const int spacing = line    ? kFilesPerArchiveOverALine
                        : small ? std::max(1, (o.smallFiles + 1) / 2)
                                : kFilesPerArchive;
    const char* prefix = line ? "l" : small ? "s" : "p";
    std::vector<ReleaseFile> files;
    for (int k = 0; k < count; ++k) {
        if (k % spacing == 0) {
            files.push_back({Format("%sak%d.zip", prefix, k / spacing),
                             Format("%sak%d", prefix, k / spacing)});
        } else {
            files.push_back({Format("%s%03d.dat", prefix, k), ""});
        }
    }
    return files;
}

namespace {

// The small-file release's plain files: 8 to 90 KiB.
uint64_t SmallFileSize(size_t k) { return (8 + k * 37 % 83) << 10; }

bool GenerateRelease(const Options& o, Release which) {
    if (!MakeFolders(kReleaseFolder)) return false;
    const std::vector<ReleaseFile> files = ReleaseFiles(o, which);
    const bool small = which == Release::SmallFiles;
    const uint64_t total = small ? static_cast<uint64_t>(o.smallKib) << 10
                                 : static_cast<uint64_t>(which == Release::OverALine ? o.lineMb
                                                                                     : o.releaseMb)
                                       << 20;
    uint64_t archiveBytes = 0, weights = 0, plainBytes = 0;
    int archives = 0;
    for (size_t k = 0; k < files.size(); ++k) {
        plainBytes += files[k].folder.empty() ? SmallFileSize(k) : 0;
        archives += files[k].folder.empty() ? 0 : 1;
    }
    // The small release's archives make up what its plain files leave of the total, less
    // about what their small entries take packed.
    const uint64_t smallLarge =
        archives > 0 && total > plainBytes + archives * (150u << 10)
            ? (total - plainBytes - archives * (150u << 10)) / (archives * kLargeEntriesPerArchive)
            : 0;
    for (size_t k = 0; k < files.size(); ++k) {
        const ReleaseFile& f = files[k];
        if (f.folder.empty()) {
            weights += 1 + k * 7 % 16;
            continue;
        }
        std::vector<ArchiveEntry> entries = {{f.folder + "/", "", 0}};
        entries.back().external = FILE_ATTRIBUTE_DIRECTORY;
        for (int e = 0; e < kSmallEntriesPerArchive; ++e) {
            entries.push_back({Format("%s/s%03d.txt", f.folder.c_str(), e),
                               CompressibleData(512 + static_cast<size_t>(e) * 131 % 3584,
                                                static_cast<uint32_t>(k * 1000 + e))});
        }
        for (int e = 0; e < kLargeEntriesPerArchive; ++e) {
            const uint32_t seed = static_cast<uint32_t>(k * 1000 + 500 + e);
            entries.push_back({Format("%s/b%d.bin", f.folder.c_str(), e),
                               small   ? IncompressibleData(static_cast<size_t>(smallLarge), seed)
                               : e % 2 ? CompressibleData(total / 100, seed)
                                       : IncompressibleData(total / 100, seed)});
        }
        const std::string path = ReleasePath(f.name);
        if (!WriteArchive(path, entries)) return false;
        archiveBytes += static_cast<uint64_t>(FileSizeOf(path));
    }
    // Plain files of varied sizes (1 to 16 shares of what the archives left), none empty.
    const uint64_t left = total > archiveBytes ? total - archiveBytes : 0;
    for (size_t k = 0; k < files.size(); ++k) {
        if (!files[k].folder.empty()) continue;
        const uint64_t size =
            small ? SmallFileSize(k) : left * (1 + k * 7 % 16) / (weights > 0 ? weights : 1);
        const std::string bytes = IncompressibleData(size > 1024 ? static_cast<size_t>(size) : 1024,
                                                     static_cast<uint32_t>(k));
        if (!WriteWholeFile(ReleasePath(files[k].name), bytes)) return false;
    }
    return true;
}

bool GenerateEntries(const Options& o) {
    if (!MakeFolders("archives\\entries")) return false;
    const size_t size = std::max<size_t>(64, (static_cast<size_t>(o.bigMb) << 20) / kEntriesCount);
    const int spacing = kEntriesCount / kEntriesChanged;
    for (const char* version : {"previous", "new", "every"}) {
        const bool previous = version[0] == 'p', every = version[0] == 'e';
        std::vector<ArchiveEntry> entries;
        for (int k = 0; k < kEntriesCount + (previous ? 0 : kEntriesAdded); ++k) {
            const bool changed = k >= kEntriesCount || k % spacing == spacing / 2;
            const int edition = every ? 2 : !previous && changed ? 1 : 0;
            entries.push_back({Format("x%03d.dat", k),
                               IncompressibleData(size, static_cast<uint32_t>(1000 + k * 3 + edition)),
                               k % 2 ? 8 : 0});
        }
        if (!WriteArchive(EntriesArchive(version), entries)) return false;
    }
    return true;
}

}  // namespace

std::string EntriesArchive(const std::string& version) {
    return "archives\\entries\\" + version + ".zip";
}

bool Generate(const Options& o) {
    if (!MakeFolders("archives")) return false;
    std::vector<ArchiveEntry> big;
    for (int k = 0; k < BigEntryCount(o); ++k) {
        big.push_back({Format("e%02d.bin", k), k % 2 ? IncompressibleData(kBigEntrySize, k)
                                                     : CompressibleData(kBigEntrySize, k)});
    }
    if (!WriteArchive(kBigArchive, big)) return false;
    for (int count : o.many) {
        std::vector<ArchiveEntry> entries;
        for (int k = 0; k < count; ++k) {
            entries.push_back({ManyEntryName(k, o.perFolder),
                               CompressibleData(64 + static_cast<size_t>(k * 37) % 400, k)});
        }
        if (!WriteArchive(ManyArchive(count), entries)) return false;
    }
    return GenerateRelease(o, Release::Whole) && GenerateRelease(o, Release::OverALine) &&
           GenerateRelease(o, Release::SmallFiles) && GenerateEntries(o);
}

void ForgetAcceptedSerial() { ForgetPinnedRelease(); }

std::string SignWhatIsServed(const Options& o) {
    std::string privateText, publicText;
    PrivateKey key;
    if (!MakeFolders("signed") || !MakeKeyPair(&privateText, &publicText) ||
        !ParsePrivateKey(privateText, &key))
        return "";
    ReleaseManifest manifest;
    manifest.serial = 1;
    const auto add = [&](const std::string& name, const std::string& path) {
        ManifestFile file{};
        ULONGLONG size = 0;
        std::snprintf(file.name, sizeof file.name, "%s", name.c_str());
        if (!HashFile(path.c_str(), &size, file.sha256)) return false;
        file.size = static_cast<DWORD>(size);
        manifest.files.push_back(file);
        return true;
    };
    const std::string big = "signed\\big.bin";
    if (URLDownloadToFileA(nullptr, Format("http://127.0.0.1:%d/Torvel\\big.bin", o.port).c_str(),
                           big.c_str(), 0, nullptr) != S_OK ||
        !add("big.bin", big))
        return "";
    DeleteFileA(big.c_str());
    for (const Release which : {Release::Whole, Release::OverALine, Release::SmallFiles}) {
        for (const ReleaseFile& f : ReleaseFiles(o, which)) {
            if (!add(f.name, ReleasePath(f.name))) return "";
        }
    }
    std::string text;
    if (!SignManifest(manifest, key, &text) ||
        !WriteWholeFile(std::string("signed\\") + kReleaseManifestName, text))
        return "";
    return publicText;
}
