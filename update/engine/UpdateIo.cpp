#include "UpdateIo.h"

#include <shlwapi.h>
#include <urlmon.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "DownloadStatusCallback.h"
#include "File.h"
#include "InstallPaths.h"
#include "PathWalk.h"
#include "RunCompletion.h"
#include "ReleaseManifest.h"
#include "Scoped.h"

const char kRecordFile[] = "./UpdateClient.txt";

namespace {

constexpr DWORD kAppendPortion = 1 << 20;

bool WriteRecordValue(const char* section, const char* key, DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    return WritePrivateProfileStringA(section, key, text, kRecordFile) != FALSE;
}

}  // namespace

bool CopyBytes(HANDLE in, HANDLE out, ULONGLONG length) {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kAppendPortion]);
    bool ok = buffer != nullptr;
    for (ULONGLONG left = length; ok && left > 0;) {
        const DWORD part = left < kAppendPortion ? static_cast<DWORD>(left) : kAppendPortion;
        DWORD got = 0, written = 0;
        ok = ReadFile(in, buffer.get(), part, &got, nullptr) && got == part &&
             WriteFile(out, buffer.get(), got, &written, nullptr) && written == got;
        left -= part;
    }
    return ok;
}

namespace {

class ZipArchive : public UpdateArchive {
public:
    explicit ZipArchive(ZipHandle* zip) : m_zip(zip) {}
    ~ZipArchive() override { ZipClose(m_zip); }
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    int32_t Count() override {
        ZipEntry count;
        std::memset(&count, 0, sizeof count);
        return ZipGetEntry(m_zip, -1, &count) == ZipOk ? count.index : 0;
    }
    ZipResult Entry(int32_t index, ZipEntry* entry) override {
        return ZipGetEntry(m_zip, index, entry);
    }
    ZipResult Extract(int32_t index, const char* target) override {
        return ZipExtractEntry(m_zip, index, const_cast<char*>(target), 0, ZipLocationFileName);
    }
    bool PastDamage(int32_t index) override { return ZipIsPastDamage(m_zip, index); }
    ZipResult Digest(int32_t index, uint8_t (&sha256)[kSha256Bytes]) override {
        return DigestEntry(m_zip, index, sha256);
    }

private:
    ZipHandle* m_zip;
};

}  // namespace

DownloadFacts SystemUpdateIo::Download(const char* url, const char* path,
                                       DownloadStatusCallback& callback) {
    const HRESULT result = URLDownloadToFileA(nullptr, url, path, 0, &callback);
    ULONGLONG size = 0;
    const bool exists = FileSizeOf(path, &size);
    const DownloadFacts facts = callback.Facts(result, exists, size);
    // The request already asks past the cache; this is for a system that served or kept a
    // copy all the same. Only a failed attempt pays for it, never a whole download.
    if (!IsWholeDownload(facts)) ForgetCachedCopy(url);
    return facts;
}

void SystemUpdateIo::Pause(DWORD ms, HANDLE stop) {
    if (stop != nullptr) {
        WaitForSingleObject(stop, ms);
    } else {
        Sleep(ms);
    }
}

bool SystemUpdateIo::FileSize(const char* path, ULONGLONG* size) { return FileSizeOf(path, size); }

bool SystemUpdateIo::Append(const char* from, ULONGLONG length, const char* to) {
    ScopedHandle in(CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    ScopedHandle out(CreateFileA(to, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER zero{}, end{};
    if (!in.IsValid() || !out.IsValid() || !SetFilePointerEx(out, zero, &end, FILE_END))
        return false;
    bool ok = CopyBytes(in, out, length);
    // The piece must stay as it was, or hold all of the rest: a crash must not leave it
    // longer than the index says.
    if (ok) ok = FlushFileBuffers(out) != FALSE;
    if (!ok && SetFilePointerEx(out, end, nullptr, FILE_BEGIN)) SetEndOfFile(out);
    return ok;
}

bool SystemUpdateIo::Cut(const char* path, ULONGLONG length) {
    ScopedHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(length);
    return file.IsValid() && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

bool SystemUpdateIo::HashFile(const char* path, ULONGLONG* size,
                              uint8_t (&digest)[kSha256Bytes]) {
    // One reader of files for both: Update.exe has a size to keep.
    return DigestFile(path, size, nullptr, digest);
}

ULONGLONG SystemUpdateIo::UtcNow() { return NowUtc(); }

bool SystemUpdateIo::ReadText(const char* path, std::string* text) {
    std::vector<unsigned char> bytes;
    if (!ReadFileBytes(path, bytes)) return false;
    text->assign(bytes.begin(), bytes.end());
    return true;
}

bool SystemUpdateIo::WriteText(const char* path, const std::string& text) {
    ScopedHandle out(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return out.IsValid() &&
           WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size() && FlushFileBuffers(out);
}

void SystemUpdateIo::MakeFolder(const char* folder) {
    if (!PathIsDirectoryA(folder)) CreateDirectoryA(folder, nullptr);
}

void SystemUpdateIo::StampTimes(const char* path, const FILETIME& stamp) {
    CFile file;
    if (file.Open(path, CFile::modeReadWrite)) {
        SetFileTime(file.m_hFile, &stamp, &stamp, &stamp);
        file.Close();
    }
}

bool SystemUpdateIo::Move(const char* from, const char* to) {
    return SystemReplaceCalls().Move(from, to);
}

DWORD SystemUpdateIo::Attributes(const char* path) { return SystemReplaceCalls().Attributes(path); }

bool SystemUpdateIo::SetAttributes(const char* path, DWORD attributes) {
    return SystemReplaceCalls().SetAttributes(path, attributes);
}

void SystemUpdateIo::Delete(const char* path) { DeleteFileA(path); }

std::vector<std::string> SystemUpdateIo::FilesLike(const char* folder, const char* pattern) {
    std::vector<std::string> names;
    char search[kPathSize];
    if (!JoinPath(search, {folder, pattern})) return names;
    WIN32_FIND_DATAA found;
    HANDLE walk = FindFirstFileA(search, &found);
    if (walk == INVALID_HANDLE_VALUE) return names;
    do {
        if (!IsFolderAttributes(found.dwFileAttributes)) names.emplace_back(found.cFileName);
    } while (FindNextFileA(walk, &found));
    FindClose(walk);
    return names;
}

bool SystemUpdateIo::WriteRecord(const UpdateItem& item) {
    // All three, in this order, even when one fails: the next attempt rewrites them whole.
    bool ok = WriteRecordValue(item.szName, "UpdateTorvelDate", item.dwDate);
    ok = WriteRecordValue(item.szName, "UpdateTorvelTime", item.dwTime) && ok;
    return WriteRecordValue(item.szName, "UpdateTorvelSize", item.dwSize) && ok;
}

std::unique_ptr<UpdateArchive> SystemUpdateIo::OpenArchive(const char* path,
                                                           const char* baseFolder,
                                                           ZipResult* why) {
    ZipHandle* zip = ZipOpen(path, 0, ZipLocationFileName);
    *why = ZipLastResult;
    if (zip == nullptr) return nullptr;
    std::unique_ptr<UpdateArchive> archive(new ZipArchive(zip));
    // Folder entries go where the files go, whatever folder the lobby started the run in.
    *why = ZipSetBaseFolder(zip, baseFolder);
    if (*why != ZipOk) return nullptr;
    return archive;
}

InstalledKey SystemUpdateIo::ReadInstalledKey(const char* installDir) {
    InstalledKey installed;
    char config[kPathSize];
    // A folder whose configuration cannot be named cannot be read either.
    installed.config = JoinPath(config, {installDir, "\\UpdateConfig.txt"})
                           ? ReadReleaseKey(config, &installed.configKey)
                           : ConfiguredKey::Unreadable;
    installed.pinned = ::PinnedReleaseKey(&installed.pinnedKey, &installed.pinReadable);
    installed.acceptedBefore = AcceptedReleaseSerial(&installed.highestSerial);
    return installed;
}

bool SystemUpdateIo::PinRelease(const PublicKey& key, DWORD serial) {
    return ::PinRelease(key, serial);
}

void SystemUpdateIo::ForgetPinnedRelease() { ::ForgetPinnedRelease(); }

WaitReason WhyNotWritten(UpdateIo& io, const char* path, WaitReason otherwise) {
    if (IsFolderAttributes(io.Attributes(path))) return WaitReason::FolderInTheWay;
    return io.MayNotWrite(path) ? WaitReason::AccessDenied : otherwise;
}

bool SystemUpdateIo::MayNotWrite(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0) {
        // Opened for writing (not truncated), everything shared: only a refusal of access
        // fails; a running program's file answers with a sharing violation instead.
        const HANDLE file = CreateFileA(path, GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_ACCESS_DENIED;
        CloseHandle(file);
    }
    // The folder: a new file of the run's own, gone as it is closed.
    char probe[kPathSize];
    const size_t folder = static_cast<size_t>(FileNamePart(path) - path);
    if (folder + sizeof "~updater-probe.tmp" > sizeof probe) return false;
    std::memcpy(probe, path, folder);
    std::strcpy(probe + folder, "~updater-probe.tmp");
    const HANDLE created =
        CreateFileA(probe, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (created == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A folder still to be made (DownLoad\) is as writable as the one it goes in.
        if (error != ERROR_PATH_NOT_FOUND || folder < 2) return error == ERROR_ACCESS_DENIED;
        probe[folder - 1] = '\0';
        return MayNotWrite(probe);
    }
    CloseHandle(created);
    return false;
}
