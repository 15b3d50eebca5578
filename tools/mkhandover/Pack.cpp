#include "Pack.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <zip.h>

#include "InstallPaths.h"
#include "Replace.h"
#include "Scoped.h"
#include "ScopedFind.h"

namespace {

constexpr UINT kArchiveCodePage = 936;
constexpr size_t kLongestName = 259;  // the zip layer refuses a record of 260 bytes or more
constexpr DWORD kCopyChunk = 65536;
constexpr WORD kFirstDosYear = 1980;
constexpr WORD kLastDosYear = 2107;
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

struct PackEntry {
    std::wstring path;  // on disk
    std::string name;   // in the archive, code page 936
    WIN32_FIND_DATAW data;
};

// The archive being written; closed (its directory written) when it goes out of scope.
class ZipWriter {
public:
    explicit ZipWriter(const char* path) : m_zip(zipOpen64(path, APPEND_STATUS_CREATE)) {}
    ~ZipWriter() { Close(); }
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    zipFile Get() const { return m_zip; }
    bool Close() {
        if (m_zip == nullptr) return true;
        const bool ok = zipClose(m_zip, nullptr) == ZIP_OK;
        m_zip = nullptr;
        return ok;
    }

private:
    zipFile m_zip;
};

std::string Narrow(const std::wstring& text, UINT codePage, bool* lost) {
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0,
                                      nullptr, &usedDefault);
    std::string out(n > 0 ? n : 1, '\0');
    if (n > 0)
        WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, &out[0], n, nullptr,
                            &usedDefault);
    out.resize(out.size() - 1);
    *lost = n <= 0 || usedDefault;
    return out;
}

// Lists what lies below folder, each folder ahead of what it holds, siblings by name.
bool Walk(const std::wstring& folder, const std::string& prefix, std::vector<PackEntry>& out) {
    std::vector<WIN32_FIND_DATAW> found;
    WIN32_FIND_DATAW data;
    ScopedFind find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (find.IsValid()) {
        do {
            if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
                found.push_back(data);
        } while (FindNextFileW(find, &data));
    }
    std::sort(found.begin(), found.end(), [](const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
        return wcscmp(a.cFileName, b.cFileName) < 0;
    });
    bool ok = true;
    for (const WIN32_FIND_DATAW& child : found) {
        const std::wstring path = folder + L"\\" + child.cFileName;
        bool lost = false;
        const std::string name = prefix + Narrow(child.cFileName, kArchiveCodePage, &lost);
        const bool isFolder = IsFolderAttributes(child.dwFileAttributes);
        if (lost) {
            std::fprintf(stderr, "mkhandover: %s: a name not written in code page 936\n",
                         Narrow(path, CP_ACP, &lost).c_str());
            ok = false;
            continue;
        }
        out.push_back({path, isFolder ? name + "/" : name, child});
        if (isFolder) ok = Walk(path, name + "/", out) && ok;
    }
    return ok;
}

// DOS times are local: the updater reads them back as local time.
bool LocalTimeOf(const PackEntry& entry, SYSTEMTIME& t) {
    FILETIME local;
    return FileTimeToLocalFileTime(&entry.data.ftLastWriteTime, &local) &&
           FileTimeToSystemTime(&local, &t) && t.wYear >= kFirstDosYear && t.wYear <= kLastDosYear;
}

// Why the updater would not unpack this entry as meant, or null.
const char* RefusalOf(const PackEntry& entry) {
    SYSTEMTIME t;
    if (entry.name.size() > kLongestName) return "name longer than 259 bytes";
    if (!IsSafeRelativeName(entry.name.c_str())) return "not a safe relative name";
    if (entry.data.nFileSizeHigh != 0) return "4 GiB or larger";
    if (!LocalTimeOf(entry, t)) return "last-write time outside 1980 to 2107";
    return nullptr;
}

zip_fileinfo InfoOf(const PackEntry& entry) {
    zip_fileinfo info;
    std::memset(&info, 0, sizeof info);
    SYSTEMTIME t;
    if (LocalTimeOf(entry, t)) {
        info.tmz_date.tm_sec = t.wSecond;
        info.tmz_date.tm_min = t.wMinute;
        info.tmz_date.tm_hour = t.wHour;
        info.tmz_date.tm_mday = t.wDay;
        info.tmz_date.tm_mon = t.wMonth - 1;
        info.tmz_date.tm_year = t.wYear;
    }
    info.external_fa = entry.data.dwFileAttributes & kKeptAttributes;
    return info;
}

bool AddEntry(zipFile zip, const PackEntry& entry) {
    const bool isFolder = IsFolderAttributes(entry.data.dwFileAttributes);
    const bool store = isFolder || entry.data.nFileSizeLow == 0;
    const zip_fileinfo info = InfoOf(entry);
    if (zipOpenNewFileInZip64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                              store ? 0 : Z_DEFLATED, store ? 0 : Z_DEFAULT_COMPRESSION,
                              0) != ZIP_OK) {
        return false;
    }
    bool ok = true;
    if (!isFolder) {
        ScopedHandle file(CreateFileW(entry.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ok = file.IsValid();
        std::vector<char> chunk(kCopyChunk);
        DWORD got = 0, total = 0;
        while (ok && ReadFile(file, chunk.data(), kCopyChunk, &got, nullptr) && got != 0) {
            ok = zipWriteInFileInZip(zip, chunk.data(), got) == ZIP_OK;
            total += got;
        }
        // A file that changed while it was read would not match its listed size.
        ok = ok && total == entry.data.nFileSizeLow;
    }
    return zipCloseFileInZip(zip) == ZIP_OK && ok;
}

std::string FullPath(const char* path) {
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
    return n > 0 && n < sizeof full ? std::string(full) : std::string(path);
}

bool LiesInside(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.c_str(),
                          static_cast<int>(folder.size()), folder.c_str(),
                          static_cast<int>(folder.size())) == CSTR_EQUAL &&
           (path[folder.size()] == '\\' || folder.back() == '\\');
}

}  // namespace

int PackFolder(const char* dir, const char* out) {
    if (!IsFolderAttributes(GetFileAttributesA(dir))) {
        std::fprintf(stderr, "mkhandover: %s: no such folder\n", dir);
        return 1;
    }
    if (!IsZipName(FileNamePart(out))) {
        std::fprintf(stderr,
                     "mkhandover: %s: the name must end in \".zip\" in lower case, or "
                     "the updater moves it as a plain file\n",
                     out);
        return 1;
    }
    if (LiesInside(FullPath(out), FullPath(dir))) {
        std::fprintf(stderr, "mkhandover: %s: lies inside %s\n", out, dir);
        return 1;
    }
    std::vector<PackEntry> entries;
    bool ok = true;
    {
        const int n = MultiByteToWideChar(CP_ACP, 0, dir, -1, nullptr, 0);
        std::wstring wide(n > 0 ? n : 1, L'\0');
        MultiByteToWideChar(CP_ACP, 0, dir, -1, &wide[0], n);
        wide.resize(wide.size() - 1);
        ok = Walk(wide, "", entries);
    }
    for (const PackEntry& entry : entries) {
        if (const char* why = RefusalOf(entry)) {
            std::fprintf(stderr, "mkhandover: %s: %s\n", entry.name.c_str(), why);
            ok = false;
        }
    }
    if (!ok) return 1;

    unsigned files = 0, folders = 0;
    {
        ZipWriter zip(out);
        ok = zip.Get() != nullptr;
        for (size_t i = 0; ok && i < entries.size(); ++i) {
            ok = AddEntry(zip.Get(), entries[i]);
            if (!ok)
                std::fprintf(stderr, "mkhandover: %s: cannot be read or written\n",
                             entries[i].name.c_str());
            ++(IsFolderAttributes(entries[i].data.dwFileAttributes) ? folders : files);
        }
        ok = zip.Close() && ok;
    }
    if (!ok) {
        std::fprintf(stderr, "mkhandover: %s: not written\n", out);
        DeleteFileA(out);
        return 1;
    }
    std::printf("%s: %u file(s), %u folder(s)\n", out, files, folders);
    return 0;
}
