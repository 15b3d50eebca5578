// One step of the update run: download the current entry into DownLoad\, install it, move on.
#include <windows.h>
#include <shlwapi.h>
#include <urlmon.h>

#include <cstdio>
#include <cstring>

#include "DownloadCheck.h"
#include "DownloadStatusCallback.h"
#include "File.h"
#include "InstallPaths.h"
#include "UpdateDialog.h"
#include "Zip.h"

namespace {

const char kClientFile[] = "./UpdateClient.txt";

void WriteRecordValue(const char* section, const char* key, DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    WritePrivateProfileStringA(section, key, text, kClientFile);
}

// Unpacks every entry whose name stays inside the installation folder. Entries that fail
// are skipped; the archive is recorded whenever it could be opened.
void InstallArchive(const char* archive, const char* installDir, const UpdateItem& item) {
    ZipHandle* zip = ZipOpen(const_cast<char*>(archive), 0, ZipLocationFileName);
    if (zip == nullptr) return;

    ZipEntry count;
    std::memset(&count, 0, sizeof count);
    ZipGetEntry(zip, -1, &count);
    for (int i = 0; i < count.index; ++i) {
        ZipEntry entry;
        std::memset(&entry, 0, sizeof entry);
        if (ZipGetEntry(zip, i, &entry) != ZipOk) continue;
        char target[kPathSize];
        if (!BuildEntryTarget(installDir, entry.name, target)) continue;
        ZipExtractEntry(zip, i, target, 0, ZipLocationFileName);
    }
    ZipClose(zip);

    WriteRecordValue(item.szName, "UpdateTorvelDate", item.dwDate);
    WriteRecordValue(item.szName, "UpdateTorvelTime", item.dwTime);
    WriteRecordValue(item.szName, "UpdateTorvelSize", item.dwSize);
}

void InstallPlainFile(const ItemPaths& paths, const UpdateItem& item) {
    CFile file;
    if (file.Open(paths.download, CFile::modeReadWrite)) {
        FILETIME stamp;
        stamp.dwLowDateTime = item.dwTime;
        stamp.dwHighDateTime = item.dwDate;
        SetFileTime(file.m_hFile, &stamp, &stamp, &stamp);
        file.Close();
    }
    if (!IsUpdaterName(item.szName)) {
        MoveFileExA(paths.download, paths.target, MOVEFILE_REPLACE_EXISTING);
    }
}

}  // namespace

void UpdateDialog::DownloadNextItem() {
    if (m_nCurrentItem >= m_nItemCount) {
        m_bStop = TRUE;
        return;
    }
    UpdateItem& item = m_pItems[m_nCurrentItem];

    ItemPaths paths;
    if (!BuildItemPaths(m_strInstallDir, m_header.szServerUrl, item.szName, paths)) {
        // An entry that cannot be placed inside the installation folder ends the run
        // unfinished: no version is stored and nothing is started.
        m_bStop = TRUE;
        return;
    }
    if (!PathIsDirectoryA(paths.downloadFolder)) CreateDirectoryA(paths.downloadFolder, nullptr);

    DownloadStatusCallback callback;
    callback.SetOwner(this);
    char status[kStatusLineSize];
    FormatStatusLine(item.szName, status);
    SetStatusLine(status);

    m_dwAnnouncedMax = 0;
    ForgetCachedCopy(paths.url);
    if (URLDownloadToFileA(nullptr, paths.url, paths.download, 0, &callback) != S_OK) return;
    // A download may end after the close command asked it to stop (the moniker does not
    // always give up at the first E_ABORT): what was asked to stop is not installed.
    if (IsStopping() || !IsWholeDownload(paths.url, paths.download, m_dwAnnouncedMax)) {
        DeleteFileA(paths.download);
        return;
    }

    if (IsZipName(item.szName)) {
        InstallArchive(paths.download, m_strInstallDir, item);
        DeleteFileA(paths.download);
    } else {
        InstallPlainFile(paths, item);
    }

    item.bDone = 1;
    ++m_nCurrentItem;
    m_dwSpeedBase = 0;
}
