// CString: an ANSI string of bytes in the process's ANSI code page (936 for the
// updater), holding its own copy of the text. Nothing here throws except std::bad_alloc
// when memory runs out.
#pragma once

#include <windows.h>

#include <string>

class CString {
public:
    CString() = default;
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    // A null pointer empties the string.
    CString& operator=(const char* psz) {
        m_str.assign(psz ? psz : "");
        return *this;
    }

    // The text, terminated; valid until the string next changes.
    operator const char*() const { return m_str.c_str(); }

private:
    std::string m_str;
};
