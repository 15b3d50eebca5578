#include "Release.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "HandOver.h"
#include "InstallPaths.h"
#include "PrivateFile.h"
#include "Replace.h"
#include "SafeName.h"
#include "Scoped.h"
#include "ScopedFind.h"
#include "Zip.h"

static_assert(kMaxListedNameBytes == sizeof(HandOverRecord::szName) - 1,
              "the manifest's names are the hand-over record's");

namespace {

constexpr ULONGLONG kFileTimeDay = 24ull * 60 * 60 * 10000000;
constexpr ULONGLONG kFileTimeSecond = 10000000;

struct Found {
    std::string name;  // relative to the release folder, "\" between folders
    std::string path;
    ULONGLONG size;
};

// Deduplicated and cloud files are reparse points too, but hold the file's own data: only
// name surrogates lead elsewhere. No file system gives a reparse point the tag 0, so a
// point without a tag is taken for a link.
bool IsLink(const WIN32_FIND_DATAA& data) {
    return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (data.dwReserved0 == 0 || IsReparseTagNameSurrogate(data.dwReserved0));
}

// Every file below folder, named after prefix.
void Walk(const std::string& folder, const std::string& prefix, std::vector<Found>& out) {
    WIN32_FIND_DATAA data;
    ScopedFind find(FindFirstFileA((folder + "\\*").c_str(), &data));
    if (!find.IsValid()) return;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        if (IsLink(data)) {
            // Whoever can make a link in the folder would choose what gets signed: anything
            // the signing account can read.
            std::fprintf(stderr, "mkhandover: left out %s%s: a link (junction or symbolic "
                         "link), not followed\n", prefix.c_str(), name.c_str());
        } else if (IsFolderAttributes(data.dwFileAttributes)) {
            Walk(folder + "\\" + name, prefix + name + "\\", out);
        } else if (!prefix.empty() ||
                   name.compare(0, std::strlen(kReleaseManifestName), kReleaseManifestName) != 0) {
            // Left out at the top: the manifest and its temporary file.
            out.push_back({prefix + name, folder + "\\" + name,
                           static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow});
        }
    } while (FindNextFileA(find, &data));
}

bool WriteAll(HANDLE file, const std::string& text) {
    DWORD n = 0;
    return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &n, nullptr) &&
           n == text.size() && FlushFileBuffers(file);
}

bool WriteWhole(const char* path, const std::string& text) {
    bool written = false;
    {
        ScopedHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid()) return false;
        written = WriteAll(file, text);
    }
    if (!written) DeleteFileA(path);
    return written;
}

std::string ReadText(const char* path) {
    std::vector<unsigned char> bytes;
    if (!ReadFileBytes(path, bytes)) return std::string();
    std::string text(bytes.begin(), bytes.end());
    SecureZeroMemory(bytes.data(), bytes.size());
    return text;
}

// Where path leads once links, "..", short names and case are undone ("\\?\" form); empty
// when it cannot be opened or named.
std::wstring FinalPath(const char* path) {
    ScopedHandle file(CreateFileA(path, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.IsValid()) return std::wstring();
    std::wstring resolved(MAX_PATH, L'\0');
    for (int tries = 0; tries < 2; ++tries) {
        const DWORD n = GetFinalPathNameByHandleW(file, &resolved[0],
                                                  static_cast<DWORD>(resolved.size()), 0);
        if (n == 0) break;
        if (n < resolved.size()) return resolved.substr(0, n);
        resolved.resize(n);  // n counts the terminator then
    }
    return std::wstring();
}

// A text comparison of the paths as given misses a key reached through a link, a short
// name or a substituted drive: only where both lead tells.
bool IsBelow(const std::wstring& path, std::wstring folder) {
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();  // a drive's root
    const int length = static_cast<int>(folder.size());
    return path.size() > folder.size() && path[folder.size()] == L'\\' &&
           CompareStringOrdinal(path.c_str(), length, folder.c_str(), length, TRUE) == CSTR_EQUAL;
}

// As an operator writes it, without the "\\?\" a final path carries.
std::string Shown(const std::wstring& resolved) {
    std::wstring path = resolved;
    if (resolved.compare(0, 8, L"\\\\?\\UNC\\") == 0) path = L"\\" + resolved.substr(7);
    else if (resolved.compare(0, 4, L"\\\\?\\") == 0) path = resolved.substr(4);
    const int n = WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string shown(n > 0 ? n : 1, '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, &shown[0], n, nullptr, nullptr);
    shown.resize(shown.size() - 1);
    return shown;
}

// The file entries of the archive at path, listed as archive's, each with the SHA-256 of its
// content as the layer unpacks it, so that a player can fetch the archive entry by entry. An
// archive the layer cannot read whole gets none (players fetch it whole), said on stderr.
void ListEntries(const std::string& path, const char* archive, std::vector<ManifestEntry>& out) {
    constexpr uint32_t kPortion = 256 * 1024;
    std::vector<ManifestEntry> entries;
    std::vector<char> buffer(kPortion);
    ZipHandle* zip = ZipOpen(path.c_str(), 0, ZipLocationFileName);
    ZipEntry count{};
    bool whole = zip != nullptr && ZipGetEntry(zip, -1, &count) == ZipOk;
    for (int32_t i = 0; whole && i < count.index; ++i) {
        ZipEntry e{};
        whole = ZipGetEntry(zip, i, &e) == ZipOk;
        if (!whole || (e.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        ManifestEntry entry{};
        std::snprintf(entry.archive, sizeof entry.archive, "%s", archive);
        entry.name = e.name;
        entry.size = e.uncompressedSize;
        // The first of two entries of one name is the one a player's walk finds by name.
        if (std::any_of(entries.begin(), entries.end(),
                        [&](const ManifestEntry& m) { return m.name == entry.name; }))
            continue;
        Sha256 sha;
        ZipResult part = ZipMoreData;
        // Until the layer says the entry ended, which is when it checked its CRC-32.
        for (uint32_t left = e.uncompressedSize; part == ZipMoreData;) {
            part = ZipExtractEntry(zip, i, buffer.data(), kPortion, ZipLocationMemory);
            const uint32_t got = left < kPortion ? left : kPortion;
            if (part == ZipMoreData && (got == 0 || !sha.Add(buffer.data(), got))) break;
            left -= got;
        }
        whole = part == ZipOk && sha.Finish(entry.sha256);
        entries.push_back(entry);
    }
    if (zip != nullptr) ZipClose(zip);
    if (!whole) {
        std::fprintf(stderr, "mkhandover: %s: not an archive that unpacks whole: no entries "
                             "listed, players fetch it whole\n", archive);
        return;
    }
    out.insert(out.end(), entries.begin(), entries.end());
}

// The files of folder a manifest lists, with their sizes and hashes, and the entries of its
// archives; false after saying why when a file cannot be read.
bool ListRelease(const char* folder, ReleaseManifest& manifest) {
    std::vector<ManifestFile>& files = manifest.files;
    std::vector<Found> found;
    Walk(folder, "", found);
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.name < b.name; });
    for (const Found& f : found) {
        const char* refused = f.name.size() > kMaxListedNameBytes   ? "longer than 35 bytes"
                              : !IsSafeRelativeName(f.name.c_str()) ? "not a safe name"
                              : f.size > 0xFFFFFFFFull              ? "4 GiB or larger"
                                                                    : nullptr;
        if (refused != nullptr) {
            std::fprintf(stderr, "mkhandover: left out %s: no hand-over record can hold it (%s)\n",
                         f.name.c_str(), refused);
            continue;
        }
        ManifestFile file = {};
        ULONGLONG size = 0;
        // A size other than the listing's: the file is still being written.
        if (!HashFile(f.path.c_str(), &size, file.sha256) || size != f.size) {
            std::fprintf(stderr, "mkhandover: %s: cannot be read, or changed while read\n",
                         f.path.c_str());
            return false;
        }
        std::memcpy(file.name, f.name.c_str(), f.name.size());
        file.size = static_cast<DWORD>(size);
        files.push_back(file);
        if (IsZipName(file.name)) ListEntries(f.path, file.name, manifest.entries);
    }
    return true;
}

// Both lists are in the manifest's order (ascending by strcmp): one walk over both.
void PrintChanges(const std::vector<ManifestFile>& before, const std::vector<ManifestFile>& now) {
    size_t i = 0, j = 0, changes = 0;
    while (i < before.size() || j < now.size()) {
        const int order = i == before.size() ? 1
                          : j == now.size()  ? -1
                                             : std::strcmp(before[i].name, now[j].name);
        const char* what = order < 0 ? "removed" : order > 0 ? "added" : "changed";
        const char* name = order < 0 ? before[i].name : now[j].name;
        const bool differs = order != 0 || before[i].size != now[j].size ||
                             std::memcmp(before[i].sha256, now[j].sha256, kSha256Bytes) != 0;
        if (order <= 0) ++i;
        if (order >= 0) ++j;
        if (!differs) continue;
        std::printf("%-9s%s\n", what, name);
        ++changes;
    }
    if (changes == 0) std::printf("no file changed since the former manifest\n");
}

}  // namespace

int MakeReleaseKey(const char* keyFile) {
    std::string privateText, publicText;
    if (!MakeKeyPair(&privateText, &publicText)) {
        std::fprintf(stderr, "mkhandover: no key could be made (CNG refused)\n");
        return 1;
    }
    ScopedHandle file;
    const PrivateFile created = CreatePrivateFile(keyFile, file);
    const bool written = created == PrivateFile::Created && WriteAll(file, privateText);
    SecureZeroMemory(&privateText[0], privateText.size());
    file.Reset();
    if (created == PrivateFile::Created && !written) DeleteFileA(keyFile);
    if (!written) {
        std::fprintf(stderr, "mkhandover: %s: %s\n", keyFile,
                     created == PrivateFile::Exists ? "exists: not overwritten"
                     : created == PrivateFile::NotPrivate
                         ? "cannot be made readable by its owner only (a file system without "
                           "permissions?): no key written"
                         : "cannot be written");
        return 1;
    }
    std::printf("ReleaseKey=%s\n", publicText.c_str());
    std::fprintf(stderr,
                 "mkhandover: %s holds the private key; the key file is readable by its owner "
                 "only. Keep it off the update server. Paste the line above under [Setting] of "
                 "UpdateConfig.txt.\n",
                 keyFile);
    return 0;
}

int SignRelease(const char* keyFile, const char* folder, const SignOptions& options) {
    std::string keyText = ReadText(keyFile);
    PrivateKey key;
    const bool isKey = ParsePrivateKey(keyText, &key);
    if (!keyText.empty()) SecureZeroMemory(&keyText[0], keyText.size());
    if (!isKey) {
        std::fprintf(stderr, "mkhandover: %s: not a release signing key (as --keygen writes)\n",
                     keyFile);
        return 1;
    }
    const DWORD attributes = GetFileAttributesA(folder);
    if (!IsFolderAttributes(attributes)) {
        std::fprintf(stderr, "mkhandover: %s: no such folder\n", folder);
        return 1;
    }
    const std::wstring finalKey = FinalPath(keyFile), finalFolder = FinalPath(folder);
    if (finalKey.empty() || finalFolder.empty()) {
        std::fprintf(stderr,
                     "mkhandover: %s: cannot tell where it leads, so not whether the key file "
                     "lies inside it\n",
                     finalKey.empty() ? keyFile : folder);
        return 1;
    }
    if (IsBelow(finalKey, finalFolder)) {
        std::fprintf(stderr,
                     "mkhandover: %s is inside %s (%s): it would be published with the release; "
                     "keep it off the server\n",
                     keyFile, folder, Shown(finalFolder).c_str());
        return 1;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        std::printf("%s is a link: signing the folder it leads to, %s\n", folder,
                    Shown(finalFolder).c_str());
    const std::string target = std::string(folder) + "\\" + kReleaseManifestName;
    const std::string formerText = ReadText(target.c_str());
    ReleaseManifest former;
    const bool haveFormer = ParseManifest(formerText, &former) == ManifestFault::None;
    if (haveFormer && former.serial > options.serial) {
        std::fprintf(stderr,
                     "mkhandover: %s has serial %lu: serials only grow, players who took it "
                     "would refuse %lu\n",
                     target.c_str(), static_cast<unsigned long>(former.serial),
                     static_cast<unsigned long>(options.serial));
        return 1;
    }
    ReleaseManifest manifest;
    manifest.serial = options.serial;
    manifest.version1 = options.version1;
    manifest.version2 = options.version2;
    manifest.expires = options.expires;
    const ULONGLONG now = NowUtc();
    manifest.expiresUtc = now - now % kFileTimeSecond + options.expiresDays * kFileTimeDay;
    if (!ListRelease(folder, manifest)) return 1;
    if (manifest.files.empty()) {
        std::fprintf(stderr, "mkhandover: %s: no file to sign\n", folder);
        return 1;
    }
    std::string text;
    if (!SignManifest(manifest, key, &text)) {
        std::fprintf(stderr,
                     "mkhandover: %s: cannot sign with this key (CNG refused, or the "
                     "key file is damaged)\n",
                     keyFile);
        return 1;
    }
    const std::string temporary = target + ".new";
    if (!WriteWhole(temporary.c_str(), text) ||
        !MoveFileExA(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary.c_str());
        std::fprintf(stderr, "mkhandover: %s: cannot be written\n", target.c_str());
        return 1;
    }
    const unsigned count = static_cast<unsigned>(manifest.files.size());
    if (haveFormer)
        PrintChanges(former.files, manifest.files);
    else if (formerText.empty())
        std::printf("no former manifest: all %u file(s) added\n", count);
    else
        std::printf("the former manifest does not read as one: all %u file(s) taken as added\n",
                    count);
    std::printf("%s: %u file(s), serial %lu, versions %lu %lu, %s%s, signed by\nReleaseKey=%s\n",
                target.c_str(), count, static_cast<unsigned long>(options.serial),
                static_cast<unsigned long>(options.version1),
                static_cast<unsigned long>(options.version2),
                options.expires ? "expires " : "never expires",
                options.expires ? FormatUtcTime(manifest.expiresUtc).c_str() : "",
                PublicKeyText(PublicHalf(key)).c_str());
    return 0;
}

bool FindReleaseKey(const char* keyText, const char* installDir, PublicKey* key, bool* found) {
    *found = keyText != nullptr;
    if (keyText != nullptr) {
        if (ParsePublicKey(keyText, key)) return true;
        std::fprintf(stderr, "mkhandover: --key: not a public key text (%s and 128 hex digits)\n",
                     kPublicKeyPrefix);
        return false;
    }
    char folder[MAX_PATH];
    const DWORD n = installDir ? GetFullPathNameA(installDir, MAX_PATH, folder, nullptr) : 0;
    // A folder that cannot be named has no key; the check then says it does not exist.
    if (n == 0 || n >= MAX_PATH) return true;
    const std::string config = std::string(folder) + "\\UpdateConfig.txt";
    const ConfiguredKey configured = ReadReleaseKey(config.c_str(), key);
    *found = configured == ConfiguredKey::Key;
    if (configured == ConfiguredKey::Unreadable) {
        std::fprintf(stderr, "mkhandover: %s cannot be read\n", config.c_str());
        return false;
    }
    if (configured != ConfiguredKey::NotAKey) return true;
    std::fprintf(stderr, "mkhandover: %s: ReleaseKey is not a public key text\n", config.c_str());
    return false;
}

std::string DescribeManifest(ManifestFault fault, size_t line, const ReleaseManifest& manifest) {
    char text[200];
    const char* why = "";
    switch (fault) {
        case ManifestFault::None:
            std::snprintf(text, sizeof text,
                          "serial %lu, versions %lu %lu, %s%s, %u file(s), the signature holds",
                          static_cast<unsigned long>(manifest.serial),
                          static_cast<unsigned long>(manifest.version1),
                          static_cast<unsigned long>(manifest.version2),
                          manifest.expires ? "expires " : "never expires",
                          manifest.expires ? FormatUtcTime(manifest.expiresUtc).c_str() : "",
                          static_cast<unsigned>(manifest.files.size()));
            return text;
        case ManifestFault::TooLarge:
            why = "larger than 16 MiB";
            break;
        case ManifestFault::Malformed:
            why = "not a release manifest as mkhandover --sign writes it";
            break;
        case ManifestFault::UnsafeName:
            why = "a name no hand-over record can hold";
            break;
        case ManifestFault::DuplicateName:
            why = "a name listed twice";
            break;
        case ManifestFault::NoFiles:
            why = "no files listed";
            break;
        case ManifestFault::BadSignature:
            why =
                "the signature does not hold with this key: another key signed it, or it was "
                "changed after signing";
            break;
        case ManifestFault::OtherVersions:
            std::snprintf(text, sizeof text,
                          "REFUSED: signed for versions %lu %lu, not the hand-over file's: sign "
                          "the release with the hand-over's --versions",
                          static_cast<unsigned long>(manifest.version1),
                          static_cast<unsigned long>(manifest.version2));
            return text;
        case ManifestFault::OlderSerial:
            why = "an older serial than one accepted before";
            break;
        case ManifestFault::Expired:
            std::snprintf(text, sizeof text, "REFUSED: expired at %s: sign the release again",
                          FormatUtcTime(manifest.expiresUtc).c_str());
            return text;
    }
    if (line == 0) return std::string("REFUSED: ") + why;
    std::snprintf(text, sizeof text, "REFUSED: %s (line %u)", why, static_cast<unsigned>(line));
    return text;
}

std::string SignedColumn(const ReleaseManifest& manifest, const char* name, const char* path) {
    ULONGLONG size = 0;
    uint8_t digest[kSha256Bytes];
    if (!HashFile(path, &size, digest)) return "cannot be hashed";
    switch (MatchManifest(manifest, name, size, digest)) {
        case ItemMatch::Matches:
            return "yes";
        case ItemMatch::NotInManifest:
            return "not in the manifest";
        case ItemMatch::SizeDiffers:
            return "size differs";
        case ItemMatch::HashDiffers:
            return "hash differs";
    }
    return "";
}
