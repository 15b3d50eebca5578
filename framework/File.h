// CFile: a file opened through a Win32 HANDLE that the object owns. Failures are
// reported by results, never by exceptions.
#pragma once

#include <windows.h>

class CFile {
public:
    // The one mode the kit opens files in: reading and writing, shared with no other
    // open of the file, the file must exist.
    enum OpenFlags : UINT { modeReadWrite = 0x0002 };

    CFile() = default;
    ~CFile();  // closes the file
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens the existing file lpszFileName in nOpenFlags (modeReadWrite); the handle is
    // inheritable. FALSE when the file is already open, the name is null, nOpenFlags is
    // not modeReadWrite, or CreateFile fails (GetLastError then says why); a failed Open
    // leaves the object closed.
    BOOL Open(LPCSTR lpszFileName, UINT nOpenFlags);
    // Closes the file; does nothing when it is not open.
    void Close();

    // The file handle; INVALID_HANDLE_VALUE when no file is open.
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
};
