#include "String.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Length in bytes of the character that starts at p (1 or 2). A lead byte followed by
// the terminator counts as 1, so a damaged text is never read past its end.
int CharBytes(const char* p) {
    return ::IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0' ? 2 : 1;
}

char FoldAscii(char c, bool upper) {
    if (upper && c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
    return c;
}

void FoldCase(std::string& s, bool upper) {
    for (std::string::size_type i = 0; i < s.size();) {
        int n = CharBytes(&s[i]);
        if (n == 1) s[i] = FoldAscii(s[i], upper);
        i += n;
    }
}

}  // namespace

CString::CString(const char* pch, int nLength) {
    if (pch != nullptr && nLength > 0) m_str.assign(pch, static_cast<size_t>(nLength));
}

CString::CString(char ch, int nRepeat) {
    if (nRepeat > 0) m_str.assign(static_cast<size_t>(nRepeat), ch);
}

CString& CString::operator=(const char* psz) {
    m_str.assign(psz ? psz : "");
    return *this;
}

CString& CString::operator=(char ch) {
    m_str.assign(1, ch);
    return *this;
}

char CString::GetAt(int nIndex) const {
    return nIndex >= 0 && nIndex < GetLength() ? m_str[static_cast<size_t>(nIndex)] : '\0';
}

void CString::SetAt(int nIndex, char ch) {
    if (nIndex >= 0 && nIndex < GetLength()) m_str[static_cast<size_t>(nIndex)] = ch;
}

CString& CString::operator+=(const CString& str) {
    m_str += str.m_str;
    return *this;
}

CString& CString::operator+=(const char* psz) {
    if (psz) m_str += psz;
    return *this;
}

CString& CString::operator+=(char ch) {
    m_str += ch;
    return *this;
}

int CString::Compare(const char* psz) const { return std::strcmp(m_str.c_str(), psz ? psz : ""); }

int CString::CompareNoCase(const char* psz) const {
    const char* a = m_str.c_str();
    const char* b = psz ? psz : "";
    for (;;) {
        int na = CharBytes(a);
        int nb = CharBytes(b);
        unsigned char ca = static_cast<unsigned char>(na == 1 ? FoldAscii(*a, false) : *a);
        unsigned char cb = static_cast<unsigned char>(nb == 1 ? FoldAscii(*b, false) : *b);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == '\0') return 0;
        if (na == 2 && nb == 2 && a[1] != b[1])
            return static_cast<unsigned char>(a[1]) < static_cast<unsigned char>(b[1]) ? -1 : 1;
        a += na;
        b += nb;
    }
}

CString CString::Left(int nCount) const {
    if (nCount < 0) nCount = 0;
    if (nCount > GetLength()) nCount = GetLength();
    return CString(m_str.data(), nCount);
}

CString CString::Right(int nCount) const {
    if (nCount < 0) nCount = 0;
    if (nCount > GetLength()) nCount = GetLength();
    return CString(m_str.data() + (GetLength() - nCount), nCount);
}

CString CString::Mid(int iFirst) const { return Mid(iFirst, GetLength()); }

CString CString::Mid(int iFirst, int nCount) const {
    if (iFirst < 0) iFirst = 0;
    if (nCount < 0) nCount = 0;
    if (iFirst >= GetLength()) return CString();
    // In 64 bits: iFirst + nCount may not fit in an int.
    long long end = static_cast<long long>(iFirst) + nCount;
    if (end > GetLength()) nCount = GetLength() - iFirst;
    return CString(m_str.data() + iFirst, nCount);
}

int CString::Find(char ch, int iStart) const {
    if (ch == '\0' || iStart < 0 || iStart >= GetLength()) return -1;
    // Walk from the start: whether a byte is a trail byte depends on what precedes it.
    for (int i = 0; i < GetLength();) {
        if (i >= iStart && m_str[static_cast<size_t>(i)] == ch) return i;
        i += CharBytes(m_str.c_str() + i);
    }
    return -1;
}

int CString::Find(const char* psz, int iStart) const {
    if (psz == nullptr || iStart < 0 || iStart > GetLength()) return -1;
    size_t n = std::strlen(psz);
    if (n == 0) return iStart;
    for (int i = 0; i < GetLength();) {
        if (i >= iStart && m_str.compare(static_cast<size_t>(i), n, psz) == 0) return i;
        i += CharBytes(m_str.c_str() + i);
    }
    return -1;
}

int CString::ReverseFind(char ch) const {
    if (ch == '\0') return -1;
    int found = -1;
    for (int i = 0; i < GetLength();) {
        if (m_str[static_cast<size_t>(i)] == ch) found = i;
        i += CharBytes(m_str.c_str() + i);
    }
    return found;
}

void CString::Format(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    FormatV(pszFormat, args);
    va_end(args);
}

void CString::AppendFormat(const char* pszFormat, ...) {
    CString tail;
    va_list args;
    va_start(args, pszFormat);
    tail.FormatV(pszFormat, args);
    va_end(args);
    m_str += tail.m_str;
}

void CString::FormatV(const char* pszFormat, va_list args) {
    // Built apart and swapped in: an argument may point into this string's own text.
    std::string out;
    if (pszFormat != nullptr) {
        // The C99 formatter on purpose: it reports the full length, where the runtime's
        // _vsnprintf only says "did not fit".
        va_list measure;
        va_copy(measure, args);
        int n = __mingw_vsnprintf(nullptr, 0, pszFormat, measure);
        va_end(measure);
        if (n > 0) {
            out.resize(static_cast<size_t>(n) + 1);
            int written = __mingw_vsnprintf(&out[0], out.size(), pszFormat, args);
            out.resize(written == n ? static_cast<size_t>(n) : 0);
        }
    }
    m_str.swap(out);
}

CString& CString::MakeLower() {
    FoldCase(m_str, false);
    return *this;
}

CString& CString::MakeUpper() {
    FoldCase(m_str, true);
    return *this;
}

CString& CString::Trim() {
    const char* space = " \t\r\n";
    size_t first = m_str.find_first_not_of(space);
    if (first == std::string::npos) {
        m_str.clear();
    } else {
        m_str.erase(m_str.find_last_not_of(space) + 1);
        m_str.erase(0, first);
    }
    return *this;
}

char* CString::GetBuffer(int nMinBufLength) {
    if (m_bufferSize == kNoBuffer) m_bufferSize = m_str.size();
    size_t want = nMinBufLength > 0 ? static_cast<size_t>(nMinBufLength) : 0;
    if (want < m_bufferSize) want = m_bufferSize;
    // One byte more than asked: the caller's terminator then lands inside the string,
    // never on std::string's own.
    m_str.resize(want + 1);
    m_bufferSize = want;
    return &m_str[0];
}

void CString::ReleaseBuffer(int nNewLength) {
    size_t size = m_bufferSize == kNoBuffer ? m_str.size() : m_bufferSize;
    size_t len = nNewLength < 0 ? std::strlen(m_str.c_str()) : static_cast<size_t>(nNewLength);
    if (len > size) len = size;
    m_str.resize(len);
    m_bufferSize = kNoBuffer;
}

CString operator+(const CString& a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(const CString& a, const char* b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(const char* a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(const CString& a, char b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(char a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}

bool operator==(const CString& a, const CString& b) { return a.Compare(b) == 0; }
bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
bool operator==(const char* a, const CString& b) { return b.Compare(a) == 0; }
bool operator!=(const CString& a, const CString& b) { return !(a == b); }
bool operator!=(const CString& a, const char* b) { return !(a == b); }
bool operator!=(const char* a, const CString& b) { return !(a == b); }
bool operator<(const CString& a, const CString& b) { return a.Compare(b) < 0; }
