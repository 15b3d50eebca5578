#include "DownloadCheck.h"

#include <wininet.h>

#include <cstring>
#include <cwchar>
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

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; }

bool SameWord(const std::wstring& a, const wchar_t* b) {
    if (a.size() != std::wcslen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

std::wstring Trimmed(const std::wstring& s) {
    const size_t first = s.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return std::wstring();
    return s.substr(first, s.find_last_not_of(L" \t") - first + 1);
}

}  // namespace

bool IsWholeDownload(const DownloadFacts& f) {
    if (f.result != S_OK || !f.fileExists) return false;
    if (f.httpStatus < 200 || f.httpStatus > 299) return false;
    // A local write that failed (a full disk) leaves fewer bytes than arrived.
    if (f.fileSize != f.receivedBytes) return false;
    if (f.lengthAnnounced) return f.fileSize == f.announcedLength;
    // Chunked, compressed and close-delimited bodies end the same way whether whole or cut
    // short: only the operator's record can tell.
    return f.recordSize == 0 || f.fileSize == f.recordSize;
}

bool AnnouncedBodyLength(const wchar_t* headers, DWORD* length) {
    if (headers == nullptr) return false;
    bool haveLength = false;
    bool encoded = false;
    ULONGLONG value = 0;
    const wchar_t* line = headers;
    while (*line != L'\0') {
        const wchar_t* end = line;
        while (*end != L'\0' && *end != L'\r' && *end != L'\n') ++end;
        const std::wstring text(line, end);
        const size_t colon = text.find(L':');
        if (colon != std::wstring::npos) {
            const std::wstring name = Trimmed(text.substr(0, colon));
            const std::wstring field = Trimmed(text.substr(colon + 1));
            if (SameWord(name, L"Content-Length")) {
                if (haveLength || field.empty() || field.size() > 10) return false;
                for (wchar_t c : field) {
                    if (c < L'0' || c > L'9') return false;
                    value = value * 10 + static_cast<ULONGLONG>(c - L'0');
                }
                if (value > 0xFFFFFFFFull) return false;
                haveLength = true;
            } else if (SameWord(name, L"Content-Encoding")) {
                encoded = encoded || !SameWord(field, L"identity");
            } else if (SameWord(name, L"Transfer-Encoding")) {
                encoded = encoded || !SameWord(field, L"identity");
            }
        }
        line = end;
        while (*line == L'\r' || *line == L'\n') ++line;
    }
    if (!haveLength || encoded) return false;
    *length = static_cast<DWORD>(value);
    return true;
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

bool FileSizeOf(const char* path, ULONGLONG* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    *size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}
