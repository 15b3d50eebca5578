#include "UnpackLoops.h"

#include <windows.h>

#include <cstring>

#include "BenchSupport.h"
#include "BenchTiming.h"
#include "Scoped.h"
#include "ZipInternal.h"

namespace {

// The layer's own read portion: the bare loop reads in the same steps, so the comparison
// is of the work around the reads, not of buffer sizes.
constexpr unsigned kPortion = 16384;

}  // namespace

bool UnpackOurs(const char* archive, const std::string& dir, bool record) {
    ZipOwner zip(ZipOpen(archive, 0, ZipLocationFileName));
    if (zip == nullptr) return false;
    ZipEntry count = {};
    if (ZipGetEntry(zip, -1, &count) != ZipOk) return false;
    for (int32_t i = 0; i < count.index; ++i) {
        if (PastDeadline(i)) return false;
        ZipEntry entry = {};
        if (ZipGetEntry(zip, i, &entry) != ZipOk) return false;
        if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::string target = JoinEntryPath(dir, entry.name);
        if (ZipExtractEntry(zip, i, &target[0], 0, ZipLocationFileName) != ZipOk) return false;
        if (record) RecordTouched(target);
    }
    return true;
}

bool UnpackBare(const char* archive, const std::string& dir, BareWrite how) {
    ScopedArchive owner;
    owner.Reset(unzOpen(archive));
    const unzFile unz = owner.Get();
    if (unz == nullptr) return false;
    static char buffer[kPortion];
    int step = unzGoToFirstFile(unz);
    for (int entries = 0; step == UNZ_OK; step = unzGoToNextFile(unz), ++entries) {
        if (PastDeadline(entries)) return false;
        unz_file_info info;
        char name[260];
        if (unzGetCurrentFileInfo(unz, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
            return false;
        const size_t length = std::strlen(name);
        if (length > 0 && name[length - 1] == '/') continue;
        if (unzOpenCurrentFile(unz) != UNZ_OK) return false;
        const std::string target = JoinEntryPath(dir, name);
        const std::string written = how == BareWrite::InPlace ? target : target + ".new";
        ScopedHandle out(CreateFileA(written.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        bool ok = out.IsValid();
        int got = 0;
        while (ok && (got = unzReadCurrentFile(unz, buffer, kPortion)) > 0) {
            DWORD done = 0;
            ok = WriteFile(out, buffer, static_cast<DWORD>(got), &done, nullptr) &&
                 done == static_cast<DWORD>(got);
        }
        out.Reset();
        ok = unzCloseCurrentFile(unz) == UNZ_OK && ok && got == 0;  // CRC checked on close
        if (ok && how == BareWrite::ThroughNewFile)
            ok = MoveFileExA(written.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
        if (!ok) return false;
    }
    return step == UNZ_END_OF_LIST_OF_FILE;
}

bool WalkOurs(const char* archive, WalkReads& reads) {
    ZipOwner zip(ZipOpen(archive, 0, ZipLocationFileName));
    if (zip == nullptr) return false;
    ZipEntry count = {};
    if (ZipGetEntry(zip, -1, &count) != ZipOk) return false;
    static char buffer[kPortion * 4];
    for (int32_t i = 0; i < count.index; ++i) {
        if (PastDeadline(i)) return false;
        ZipEntry entry = {};
        if (ZipGetEntry(zip, i, &entry) != ZipOk) return false;
        ZipResult result;
        do {
            result = ZipExtractEntry(zip, i, buffer, sizeof buffer, ZipLocationMemory);
        } while (result == ZipMoreData);
        if (result != ZipOk) return false;
    }
    reads.bytes = ZipBytesRead(zip);
    reads.calls = ZipReadCalls(zip);
    return true;
}

bool WalkBare(const char* archive) {
    ScopedArchive owner;
    owner.Reset(unzOpen(archive));
    const unzFile unz = owner.Get();
    if (unz == nullptr) return false;
    static char buffer[kPortion * 4];
    int step = unzGoToFirstFile(unz);
    for (; step == UNZ_OK; step = unzGoToNextFile(unz)) {
        unz_file_info info;
        char name[260];
        if (unzGetCurrentFileInfo(unz, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
            return false;
        if (unzOpenCurrentFile(unz) != UNZ_OK) return false;
        int got;
        while ((got = unzReadCurrentFile(unz, buffer, sizeof buffer)) > 0) {
        }
        if (unzCloseCurrentFile(unz) != UNZ_OK || got < 0) return false;
    }
    return step == UNZ_END_OF_LIST_OF_FILE;
}
