// CString: an ANSI string of bytes in the process's ANSI code page (936 for the
// updater). Lengths and positions count bytes. The searching and case functions know the
// code page's double-byte characters: they never match or change the second byte of one
// (in code page 936 that byte can be '\\' or an ASCII letter).
//
// Nothing here throws except std::bad_alloc when memory runs out. Positions and counts
// outside the text are clamped as each function says; none of them reads outside it.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

class CString {
public:
    CString() = default;
    // A null pointer gives an empty string.
    CString(const char* psz) : m_str(psz ? psz : "") {}
    // The first nLength bytes of pch (no terminator needed); empty when pch is null or
    // nLength <= 0.
    CString(const char* pch, int nLength);
    // ch repeated nRepeat times (nRepeat <= 0: empty).
    explicit CString(char ch, int nRepeat = 1);
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(const char* psz);
    CString& operator=(char ch);

    operator const char*() const { return m_str.c_str(); }
    const char* GetString() const { return m_str.c_str(); }

    int GetLength() const { return static_cast<int>(m_str.size()); }
    BOOL IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }

    // The byte at nIndex; '\0' when nIndex is outside [0, GetLength()).
    char GetAt(int nIndex) const;
    char operator[](int nIndex) const { return GetAt(nIndex); }
    // Replaces the byte at nIndex; does nothing when nIndex is outside the text.
    void SetAt(int nIndex, char ch);

    CString& operator+=(const CString& str);
    CString& operator+=(const char* psz);  // null appends nothing
    CString& operator+=(char ch);
    // Appends printf-style formatted text.
    void AppendFormat(const char* pszFormat, ...) __attribute__((format(gnu_printf, 2, 3)));

    // Ordinal comparison of the bytes: <0, 0 or >0. A null psz compares as "".
    int Compare(const char* psz) const;
    // As Compare, but ASCII letters compare without case (double-byte characters compare
    // byte for byte).
    int CompareNoCase(const char* psz) const;

    // The first nCount bytes (all when nCount > GetLength(), none when nCount < 0).
    CString Left(int nCount) const;
    // The last nCount bytes, clamped the same way.
    CString Right(int nCount) const;
    // From iFirst to the end; iFirst < 0 counts as 0, iFirst past the end gives "".
    CString Mid(int iFirst) const;
    // nCount bytes from iFirst, cut at the end of the text; nCount < 0 counts as 0.
    CString Mid(int iFirst, int nCount) const;

    // Position of the first ch at or after iStart, or -1. -1 also for iStart outside
    // [0, GetLength()) and for ch '\0'. Only whole characters match.
    int Find(char ch, int iStart = 0) const;
    // Position of the first psz at or after iStart, or -1. -1 also for a null psz and for
    // iStart outside [0, GetLength()]; an empty psz is found at iStart.
    int Find(const char* psz, int iStart = 0) const;
    // Position of the last ch, or -1.
    int ReverseFind(char ch) const;

    // Replaces the text with printf-style formatted text of any length. On a format
    // error the text becomes empty.
    void Format(const char* pszFormat, ...) __attribute__((format(gnu_printf, 2, 3)));
    void FormatV(const char* pszFormat, va_list args);

    // ASCII letters only; double-byte characters stay as they are.
    CString& MakeLower();
    CString& MakeUpper();
    // Removes leading and trailing spaces, tabs and line breaks.
    CString& Trim();

    // A writable buffer of at least nMinBufLength + 1 bytes (nMinBufLength < 0 counts as
    // 0) holding the current text. Write at most nMinBufLength bytes plus a terminator,
    // then call ReleaseBuffer before any other member. The pointer is valid until then.
    char* GetBuffer(int nMinBufLength);
    char* GetBuffer() { return GetBuffer(0); }
    // Ends a GetBuffer: the text becomes the first nNewLength bytes of the buffer, or,
    // with -1, the bytes up to the first '\0' (the whole buffer when it has none).
    // nNewLength is clamped to the buffer's size.
    void ReleaseBuffer(int nNewLength = -1);

private:
    static constexpr std::string::size_type kNoBuffer = std::string::npos;
    std::string m_str;
    std::string::size_type m_bufferSize = kNoBuffer;  // between GetBuffer and ReleaseBuffer
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, const char* b);
CString operator+(const char* a, const CString& b);
CString operator+(const CString& a, char b);
CString operator+(char a, const CString& b);

bool operator==(const CString& a, const CString& b);
bool operator==(const CString& a, const char* b);
bool operator==(const char* a, const CString& b);
bool operator!=(const CString& a, const CString& b);
bool operator!=(const CString& a, const char* b);
bool operator!=(const char* a, const CString& b);
bool operator<(const CString& a, const CString& b);
