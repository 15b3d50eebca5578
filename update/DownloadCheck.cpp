#include "DownloadCheck.h"

#include <wininet.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Slashed(const char* url) {
    std::string out = url;
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

DWORD StatusOfEntry(const char* url) {
    DWORD size = 0;
    GetUrlCacheEntryInfoA(url, nullptr, &size);
    if (size == 0) return 0;
    std::vector<char> buffer(size);
    auto* info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    if (!GetUrlCacheEntryInfoA(url, info, &size)) return 0;
    if (info->lpHeaderInfo == nullptr) return 0;
    return ParseHttpStatus(info->lpHeaderInfo, info->dwHeaderInfoSize);
}

}  // namespace

void ForgetCachedCopy(const char* url) {
    DeleteUrlCacheEntryA(url);
    const std::string slashed = Slashed(url);
    if (slashed != url) DeleteUrlCacheEntryA(slashed.c_str());
}

DWORD CachedHttpStatus(const char* url) {
    if (const DWORD status = StatusOfEntry(url)) return status;
    const std::string slashed = Slashed(url);
    return slashed == url ? 0 : StatusOfEntry(slashed.c_str());
}

DWORD ParseHttpStatus(const char* headers, size_t length) {
    const std::string text(headers, strnlen(headers, length));
    if (text.compare(0, 5, "HTTP/") != 0) return 0;
    const size_t space = text.find(' ');
    if (space == std::string::npos || space > text.find('\n')) return 0;
    DWORD status = 0;
    size_t digits = 0;
    for (size_t i = space + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        status = status * 10 + static_cast<DWORD>(text[i] - '0');
        if (++digits > 3) return 0;
    }
    return digits == 3 ? status : 0;
}

bool HasAnnouncedLength(const char* path, DWORD announced) {
    if (announced == 0) return true;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    return data.nFileSizeHigh == 0 && data.nFileSizeLow == announced;
}

bool IsWholeDownload(const char* url, const char* path, DWORD announced) {
    if (!HasAnnouncedLength(path, announced)) return false;
    const DWORD status = CachedHttpStatus(url);
    return status == 0 || (status >= 200 && status < 300);
}
