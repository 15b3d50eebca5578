#include "UpdateIo.h"

#include <shlwapi.h>
#include <urlmon.h>

#include <cstdio>
#include <cstring>

#include "DownloadStatusCallback.h"
#include "File.h"

const char kRecordFile[] = "./UpdateClient.txt";

namespace {

bool WriteRecordValue(const char* section, const char* key, DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    return WritePrivateProfileStringA(section, key, text, kRecordFile) != FALSE;
}

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

private:
    ZipHandle* m_zip;
};

}  // namespace

DownloadFacts SystemUpdateIo::Download(const char* url, const char* path,
                                       DownloadStatusCallback& callback) {
    ForgetCachedCopy(url);
    DownloadFacts facts;
    facts.result = URLDownloadToFileA(nullptr, url, path, 0, &callback);
    facts.fileExists = FileSizeOf(path, &facts.fileSize);
    // The answer's own status first: a redirect leaves no cache entry under url.
    facts.httpStatus = callback.HttpStatus() != 0 ? callback.HttpStatus() : CachedHttpStatus(url);
    facts.lengthAnnounced = callback.LengthAnnounced();
    facts.announcedLength = callback.AnnouncedLength();
    facts.receivedBytes = callback.ReceivedBytes();
    facts.stalled = callback.Stalled();
    return facts;
}

void SystemUpdateIo::Pause(DWORD ms, HANDLE stop) {
    if (stop != nullptr) {
        WaitForSingleObject(stop, ms);
    } else {
        Sleep(ms);
    }
}

bool SystemUpdateIo::FileExists(const char* path) {
    ULONGLONG size = 0;
    return FileSizeOf(path, &size);
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

bool SystemUpdateIo::WriteRecord(const UpdateItem& item) {
    // All three, in this order, even when one fails: the next attempt rewrites them whole.
    bool ok = WriteRecordValue(item.szName, "UpdateTorvelDate", item.dwDate);
    ok = WriteRecordValue(item.szName, "UpdateTorvelTime", item.dwTime) && ok;
    return WriteRecordValue(item.szName, "UpdateTorvelSize", item.dwSize) && ok;
}

std::unique_ptr<UpdateArchive> SystemUpdateIo::OpenArchive(const char* path, ZipResult* why) {
    ZipHandle* zip = ZipOpen(path, 0, ZipLocationFileName);
    *why = ZipLastResult;
    if (zip == nullptr) return nullptr;
    return std::unique_ptr<UpdateArchive>(new ZipArchive(zip));
}
