#include "ZipRecords.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "LittleEndian.h"
#include "Scoped.h"
#include "ZipInternal.h"

namespace {

constexpr DWORD kCentralSignature = 0x02014b50;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kCentralSize = 46;
constexpr size_t kLongestEndSearch = kEndRecordSize + 0xFFFF;  // the end record's comment
constexpr uint32_t kLongestName = 259;

bool ReadAt(HANDLE file, uint64_t offset, size_t length, std::vector<unsigned char>& out) {
    out.resize(length);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD got = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           (length == 0 || ReadFile(file, out.data(), static_cast<DWORD>(length), &got, nullptr)) &&
           got == length;
}

}  // namespace

std::string DescribeRefusedRecord(const char* path, int32_t index) {
    const std::string damaged = "damaged record";
    ScopedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file.IsValid() || !GetFileSizeEx(file, &size) || index < 0) return damaged;
    const uint64_t total = static_cast<uint64_t>(size.QuadPart);
    const size_t tail = total < kLongestEndSearch ? static_cast<size_t>(total) : kLongestEndSearch;
    std::vector<unsigned char> bytes;
    if (tail < kEndRecordSize || !ReadAt(file, total - tail, tail, bytes)) return damaged;
    const EndRecordCheck end = CheckEndRecord(bytes.data(), bytes.size(), total);
    if (end.result != ZipOk) return damaged;
    std::vector<unsigned char> directory;
    if (!ReadAt(file, end.directoryOffset, end.directorySize, directory)) return damaged;

    size_t at = 0;
    for (int32_t i = 0;; ++i) {
        if (at + kCentralSize > directory.size() || Get32(&directory[at]) != kCentralSignature)
            return damaged;
        const unsigned char* record = &directory[at];
        const uint32_t nameLength = Get16(record + 28);
        if (i == index) {
            const uint32_t method = Get16(record + 10);
            char text[64];
            if ((Get16(record + 8) & 1) != 0) return "encrypted";
            if (method != 0 && method != 8) {
                std::snprintf(text, sizeof text, "unknown compression method %lu",
                              static_cast<unsigned long>(method));
                return text;
            }
            if (nameLength > kLongestName) {
                std::snprintf(text, sizeof text, "name of %lu bytes (at most %lu)",
                              static_cast<unsigned long>(nameLength),
                              static_cast<unsigned long>(kLongestName));
                return text;
            }
            if (Get32(record + 20) == 0xFFFFFFFFu || Get32(record + 24) == 0xFFFFFFFFu)
                return "size beyond 4 GiB";
            return damaged;
        }
        at += kCentralSize + nameLength + Get16(record + 30) + Get16(record + 32);
    }
}
