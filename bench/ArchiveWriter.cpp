#include "ArchiveWriter.h"

#include <zip.h>

bool WriteArchive(const std::string& path, const std::vector<ArchiveEntry>& entries,
                  const std::string& comment) {
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    if (zip == nullptr) return false;
    bool ok = true;
    for (const ArchiveEntry& e : entries) {
        zip_fileinfo info{};
        info.dosDate = e.dosDate;
        info.external_fa = e.external;
        const char* extra = e.localExtra.empty() ? nullptr : e.localExtra.data();
        ok =
            zipOpenNewFileInZip4(
                zip, e.name.c_str(), &info, extra, static_cast<uInt>(e.localExtra.size()), nullptr,
                0, nullptr, e.method, e.method == 0 ? 0 : Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS,
                DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, e.madeBy, e.flags) == ZIP_OK &&
            zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())) == ZIP_OK;
        ok = zipCloseFileInZip(zip) == ZIP_OK && ok;
        if (!ok) break;
    }
    return zipClose(zip, comment.empty() ? nullptr : comment.c_str()) == ZIP_OK && ok;
}
