#include "DownloadCheck.h"
#include "Replace.h"

#include <wininet.h>

#include <string>

namespace {

std::string Slashed(const char* url) {
    std::string out = url;
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; }

// One field of a header line: [begin, end) with the blanks around it left out.
struct Field {
    const wchar_t* begin;
    const wchar_t* end;
    bool Is(const wchar_t* word) const {
        const wchar_t* p = begin;
        for (; p != end && *word != L'\0'; ++p, ++word) {
            if (Lower(*p) != Lower(*word)) return false;
        }
        return p == end && *word == L'\0';
    }
};

Field Trimmed(const wchar_t* begin, const wchar_t* end) {
    while (begin != end && (*begin == L' ' || *begin == L'\t')) ++begin;
    while (end != begin && (end[-1] == L' ' || end[-1] == L'\t')) --end;
    return {begin, end};
}

// A decimal number of 1 to maxDigits digits making up the whole field.
bool ReadNumber(Field field, size_t maxDigits, ULONGLONG* value) {
    const size_t digits = static_cast<size_t>(field.end - field.begin);
    if (digits == 0 || digits > maxDigits) return false;
    *value = 0;
    for (const wchar_t* p = field.begin; p != field.end; ++p) {
        if (*p < L'0' || *p > L'9') return false;
        *value = *value * 10 + static_cast<ULONGLONG>(*p - L'0');
    }
    return true;
}

// "bytes FIRST-LAST/TOTAL" (TOTAL may be "*").
bool ReadRange(Field field, AnswerHeaders* out) {
    const wchar_t* p = field.begin;
    for (const wchar_t* unit = L"bytes "; *unit != L'\0'; ++unit, ++p) {
        if (p == field.end || Lower(*p) != *unit) return false;
    }
    const wchar_t* dash = p;
    while (dash != field.end && *dash != L'-') ++dash;
    const wchar_t* slash = dash;
    while (slash != field.end && *slash != L'/') ++slash;
    if (slash == field.end) return false;
    const Field total{slash + 1, field.end};
    ULONGLONG first = 0, last = 0, whole = 0;
    if (!ReadNumber({p, dash}, 19, &first) || !ReadNumber({dash + 1, slash}, 19, &last) ||
        first > last)
        return false;
    if (!total.Is(L"*") && (!ReadNumber(total, 19, &whole) || last >= whole)) return false;
    out->rangeFirst = first;
    out->rangeLast = last;
    out->rangeTotal = whole;
    return true;
}

// The field as narrow text when it is printable ASCII throughout, else "".
std::string Printable(Field field) {
    std::string text;
    for (const wchar_t* p = field.begin; p != field.end; ++p) {
        if (!IsPrintableAscii(*p)) return std::string();
        text += static_cast<char>(*p);
    }
    return text;
}

}  // namespace

bool IsPrintableText(const std::string& text) {
    for (const char c : text) {
        if (!IsPrintableAscii(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

DownloadVerdict JudgeDownload(const DownloadFacts& f) {
    if (f.httpStatus == 0) return DownloadVerdict::NoAnswer;
    if (f.httpStatus < 200 || f.httpStatus > 299) return DownloadVerdict::ErrorAnswer;
    if (f.result != S_OK) return DownloadVerdict::Failed;
    if (!f.fileExists) return DownloadVerdict::NothingStored;
    // A local write that failed (a full disk) leaves fewer bytes than arrived.
    if (f.fileSize != f.receivedBytes) return DownloadVerdict::LostOnTheWay;
    if (f.lengthAnnounced) {
        return f.fileSize == f.announcedLength ? DownloadVerdict::Whole : DownloadVerdict::CutShort;
    }
    // Chunked, compressed and close-delimited bodies end the same way whether whole or cut
    // short: only the operator's record can tell.
    return f.recordSize == 0 || f.fileSize == f.recordSize ? DownloadVerdict::Whole
                                                           : DownloadVerdict::NotTheRecordSize;
}

bool DiffersFromRecord(const DownloadFacts& f) {
    return f.recordSize != 0 && f.fileSize != f.recordSize;
}

AnswerHeaders ParseAnswerHeaders(const wchar_t* headers) {
    AnswerHeaders out;
    bool lengthGiven = false, lengthBroken = false, chunked = false;
    ULONGLONG length = 0;
    std::string etag, lastModified;
    for (const wchar_t* line = headers; line != nullptr && *line != L'\0';) {
        const wchar_t* end = line;
        const wchar_t* colon = nullptr;
        for (; *end != L'\0' && *end != L'\r' && *end != L'\n'; ++end) {
            if (*end == L':' && colon == nullptr) colon = end;
        }
        if (colon != nullptr) {
            const Field name = Trimmed(line, colon);
            Field field = Trimmed(colon + 1, end);
            if (name.Is(L"Content-Length")) {
                lengthBroken = lengthBroken || lengthGiven || !ReadNumber(field, 10, &length) ||
                               length > 0xFFFFFFFFull;
                lengthGiven = true;
            } else if (name.Is(L"Content-Encoding")) {
                out.encoded = out.encoded || !field.Is(L"identity");
            } else if (name.Is(L"Transfer-Encoding")) {
                chunked = chunked || !field.Is(L"identity");
            } else if (name.Is(L"Content-Range")) {
                out.rangeGiven = ReadRange(field, &out);
            } else if (name.Is(L"ETag")) {
                etag = Printable(field);
            } else if (name.Is(L"Last-Modified")) {
                lastModified = Printable(field);
            }
        }
        line = end;
        while (*line == L'\r' || *line == L'\n') ++line;
    }
    if (lengthGiven && !lengthBroken && !out.encoded && !chunked) {
        out.lengthAnnounced = true;
        out.announcedLength = static_cast<DWORD>(length);
    }
    const bool strong = !etag.empty() && etag.compare(0, 2, "W/") != 0;
    out.validator = strong ? etag : lastModified;
    return out;
}

void AllowConnectionsPerServer(DWORD count) {
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &count, sizeof count);
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &count, sizeof count);
}

void ForgetCachedCopy(const char* url) {
    DeleteUrlCacheEntryA(url);
    const std::string slashed = Slashed(url);
    if (slashed != url) DeleteUrlCacheEntryA(slashed.c_str());
}

bool FileSizeOf(const char* path, ULONGLONG* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    if (IsFolderAttributes(data.dwFileAttributes)) return false;
    *size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}
