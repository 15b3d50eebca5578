// CFile: a file opened through a Win32 HANDLE that the object owns. Failures are
// reported by results, never by exceptions.
#pragma once

#include <windows.h>

#include "String.h"

// Why an Open failed: filled by CFile::Open when the caller passes one.
class CFileException {
public:
    enum {
        none,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };

    // The cause for a Win32 error code (genericException for codes without a cause of
    // their own).
    static int OsErrorToException(LONG lOsError);

    int m_cause = none;
    LONG m_lOsError = 0;  // GetLastError() of the failed call
    CString m_strFileName;
};

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
    };
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

    // The value of the position and length calls on failure.
    static constexpr ULONGLONG kFailed = static_cast<ULONGLONG>(-1);

    CFile() = default;
    // Takes ownership of hFile (INVALID_HANDLE_VALUE or null: no file).
    explicit CFile(HANDLE hFile);
    virtual ~CFile();  // closes the file
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens or creates lpszFileName. Access: modeRead, modeWrite or modeReadWrite.
    // Sharing with other opens of the file: shareCompat and shareExclusive share nothing,
    // shareDenyWrite lets others read, shareDenyRead lets others write, shareDenyNone
    // lets them do both. modeCreate creates the file or truncates it to 0 bytes; with
    // modeNoTruncate an existing file keeps its contents. Without modeCreate the file
    // must exist. The handle is inheritable unless modeNoInherit is given; typeText and
    // typeBinary are accepted and ignored (there is no text translation).
    // FALSE when the file is already open, the name is null, the flags combine two
    // access or sharing modes that do not exist, or CreateFile fails; pError (when not
    // null) then receives the cause and the Win32 error. A failed Open leaves the object
    // closed.
    virtual BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
    // Closes the file; does nothing when it is not open.
    virtual void Close();

    // Reads up to nCount bytes; returns the number read: 0 at the end of the file, and 0
    // on failure (GetLastError tells the two apart: 0 at the end).
    virtual UINT Read(void* lpBuf, UINT nCount);
    // Writes nCount bytes. TRUE when all were written; FALSE on failure or when the file
    // is not open (some bytes may have been written then).
    virtual BOOL Write(const void* lpBuf, UINT nCount);
    // Moves the position by lOff from nFrom (begin, current, end); returns the new
    // position, or kFailed (position unchanged) when the result would be negative, nFrom
    // is unknown or the file is not open. Past the end is allowed.
    virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
    void SeekToBegin() { Seek(0, begin); }
    ULONGLONG SeekToEnd() { return Seek(0, end); }
    // The current position, or kFailed.
    virtual ULONGLONG GetPosition() const;
    // The length in bytes, or kFailed.
    virtual ULONGLONG GetLength() const;
    // Writes buffered data to the disk; FALSE on failure.
    virtual BOOL Flush();

    // The name given to the last successful Open ("" for an attached handle).
    const CString& GetFilePath() const { return m_strFileName; }
    operator HANDLE() const { return m_hFile; }

    // The file handle; INVALID_HANDLE_VALUE when no file is open.
    HANDLE m_hFile = INVALID_HANDLE_VALUE;

protected:
    CString m_strFileName;
};
