#include "ZipRecords.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "Scoped.h"

namespace {

constexpr DWORD kEndRecordSignature = 0x06054b50;
constexpr DWORD kCentralSignature = 0x02014b50;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kCentralSize = 46;
constexpr size_t kLongestEndSearch = kEndRecordSize + 0xFFFF;  // the end record's comment
constexpr uint32_t kLongestName = 259;

uint32_t Le(const unsigned char* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

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
    size_t end = tail - kEndRecordSize + 1;
    while (end-- > 0 && Le(&bytes[end], 4) != kEndRecordSignature) {
    }
    if (end == static_cast<size_t>(-1)) return damaged;
    const uint32_t directorySize = Le(&bytes[end + 12], 4);
    const uint32_t directoryOffset = Le(&bytes[end + 16], 4);
    std::vector<unsigned char> directory;
    if (!ReadAt(file, directoryOffset, directorySize, directory)) return damaged;

    size_t at = 0;
    for (int32_t i = 0;; ++i) {
        if (at + kCentralSize > directory.size() || Le(&directory[at], 4) != kCentralSignature)
            return damaged;
        const unsigned char* record = &directory[at];
        const uint32_t nameLength = Le(record + 28, 2);
        if (i == index) {
            const uint32_t method = Le(record + 10, 2);
            char text[64];
            if ((Le(record + 8, 2) & 1) != 0) return "encrypted";
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
            if (Le(record + 20, 4) == 0xFFFFFFFFu || Le(record + 24, 4) == 0xFFFFFFFFu)
                return "size beyond 4 GiB";
            return damaged;
        }
        at += kCentralSize + nameLength + Le(record + 30, 2) + Le(record + 32, 2);
    }
}
