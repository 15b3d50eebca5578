#include "HandOver.h"

#include <io.h>

#include <cstdio>
#include <cstring>
#include <vector>

const char kHandOverFileName[] = "~Update.tmp";

namespace {

bool HasTerminator(const char* field, size_t size) {
    return std::memchr(field, '\0', size) != nullptr;
}

}  // namespace

std::vector<unsigned char> FormatHandOver(const HandOverHeader& header,
                                          const std::vector<HandOverRecord>& records) {
    const auto* start = reinterpret_cast<const unsigned char*>(&header);
    std::vector<unsigned char> bytes(start, start + sizeof header);
    for (const HandOverRecord& record : records) {
        const auto* p = reinterpret_cast<const unsigned char*>(&record);
        bytes.insert(bytes.end(), p, p + sizeof record);
    }
    return bytes;
}

bool WriteHandOver(const char* path, const HandOverHeader& header,
                   const std::vector<HandOverRecord>& records) {
    const std::vector<unsigned char> bytes = FormatHandOver(header, records);
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    ok = std::fclose(out) == 0 && ok;
    if (!ok) DeleteFileA(path);
    return ok;
}

bool ParseHandOver(const unsigned char* data, size_t size, HandOverHeader& header,
                   UpdateItem*& items) {
    items = nullptr;
    if (data == nullptr || size < sizeof(HandOverHeader)) return false;

    HandOverHeader parsed;
    std::memcpy(&parsed, data, sizeof parsed);
    const size_t needed =
        sizeof(HandOverHeader) + sizeof(HandOverRecord) * static_cast<size_t>(parsed.wCount);
    if (size < needed) return false;
    if (!HasTerminator(parsed.szServerUrl, sizeof parsed.szServerUrl)) return false;

    const unsigned char* records = data + sizeof(HandOverHeader);
    for (size_t i = 0; i < parsed.wCount; ++i) {
        HandOverRecord record;
        std::memcpy(&record, records + i * sizeof record, sizeof record);
        if (!HasTerminator(record.szName, sizeof record.szName)) return false;
    }

    UpdateItem* list = nullptr;
    if (parsed.wCount > 0) {
        list = new UpdateItem[parsed.wCount];
        std::memset(list, 0, sizeof(UpdateItem) * parsed.wCount);
        for (size_t i = 0; i < parsed.wCount; ++i) {
            HandOverRecord record;
            std::memcpy(&record, records + i * sizeof record, sizeof record);
            std::strcpy(list[i].szName, record.szName);
            list[i].dwSize = record.dwSize;
            list[i].dwDate = record.dwDate;
            list[i].dwTime = record.dwTime;
        }
    }
    header = parsed;
    items = list;
    return true;
}

bool ReadHandOver(const char* path, HandOverHeader& header, UpdateItem*& items) {
    items = nullptr;
    if (_access(path, 0) != 0) return false;

    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        SetFileAttributesA(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    }

    std::vector<unsigned char> content;
    if (!ReadFileBytes(path, content) ||
        !ParseHandOver(content.data(), content.size(), header, items))
        return false;
    DeleteFileA(path);
    return true;
}

bool ReadFileBytes(const char* path, std::vector<unsigned char>& bytes) {
    bytes.clear();
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    unsigned char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    return !readError;
}
