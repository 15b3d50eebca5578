#include "File.h"

int CFileException::OsErrorToException(LONG lOsError) {
    switch (lOsError) {
        case NO_ERROR:
            return none;
        case ERROR_FILE_NOT_FOUND:
            return fileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
            return badPath;
        case ERROR_TOO_MANY_OPEN_FILES:
            return tooManyOpenFiles;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return accessDenied;
        case ERROR_INVALID_HANDLE:
            return invalidFile;
        case ERROR_CURRENT_DIRECTORY:
            return removeCurrentDir;
        case ERROR_CANNOT_MAKE:
            return directoryFull;
        case ERROR_SEEK:
        case ERROR_NEGATIVE_SEEK:
            return badSeek;
        case ERROR_CRC:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_GEN_FAILURE:
            return hardIO;
        case ERROR_SHARING_VIOLATION:
            return sharingViolation;
        case ERROR_LOCK_VIOLATION:
            return lockViolation;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return diskFull;
        case ERROR_HANDLE_EOF:
            return endOfFile;
        default:
            return genericException;
    }
}

CFile::CFile(HANDLE hFile) {
    if (hFile != nullptr) m_hFile = hFile;
}

CFile::~CFile() { Close(); }

BOOL CFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
    auto fail = [&](LONG error) {
        if (pError) {
            pError->m_lOsError = error;
            pError->m_cause = CFileException::OsErrorToException(error);
            pError->m_strFileName = lpszFileName;
        }
        ::SetLastError(static_cast<DWORD>(error));
        return FALSE;
    };
    if (m_hFile != INVALID_HANDLE_VALUE || lpszFileName == nullptr)
        return fail(ERROR_INVALID_PARAMETER);

    DWORD access;
    switch (nOpenFlags & 0x3) {
        case modeRead:
            access = GENERIC_READ;
            break;
        case modeWrite:
            access = GENERIC_WRITE;
            break;
        case modeReadWrite:
            access = GENERIC_READ | GENERIC_WRITE;
            break;
        default:
            return fail(ERROR_INVALID_PARAMETER);
    }

    DWORD share;
    switch (nOpenFlags & 0x70) {
        case shareCompat:  // the 16-bit compatibility mode has no Win32 meaning: no sharing
        case shareExclusive:
            share = 0;
            break;
        case shareDenyWrite:
            share = FILE_SHARE_READ;
            break;
        case shareDenyRead:
            share = FILE_SHARE_WRITE;
            break;
        case shareDenyNone:
            share = FILE_SHARE_READ | FILE_SHARE_WRITE;
            break;
        default:
            return fail(ERROR_INVALID_PARAMETER);
    }

    DWORD disposition = OPEN_EXISTING;
    if (nOpenFlags & modeCreate)
        disposition = (nOpenFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;

    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, (nOpenFlags & modeNoInherit) ? FALSE : TRUE};
    HANDLE h = ::CreateFileA(lpszFileName, access, share, &sa, disposition, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail(static_cast<LONG>(::GetLastError()));
    m_hFile = h;
    m_strFileName = lpszFileName;
    return TRUE;
}

void CFile::Close() {
    if (m_hFile != INVALID_HANDLE_VALUE) ::CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
    m_strFileName.Empty();
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
    if (m_hFile == INVALID_HANDLE_VALUE || (lpBuf == nullptr && nCount != 0)) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    DWORD read = 0;
    if (!::ReadFile(m_hFile, lpBuf, nCount, &read, nullptr)) return 0;
    ::SetLastError(NO_ERROR);
    return read;
}

BOOL CFile::Write(const void* lpBuf, UINT nCount) {
    if (m_hFile == INVALID_HANDLE_VALUE || (lpBuf == nullptr && nCount != 0)) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD written = 0;
    if (!::WriteFile(m_hFile, lpBuf, nCount, &written, nullptr)) return FALSE;
    // WriteFile can succeed short of the count (a full disk on some file systems).
    if (written != nCount) {
        ::SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return TRUE;
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
    if (m_hFile == INVALID_HANDLE_VALUE || nFrom > end) return kFailed;
    LARGE_INTEGER distance;
    distance.QuadPart = lOff;
    LARGE_INTEGER pos;
    if (!::SetFilePointerEx(m_hFile, distance, &pos, nFrom)) return kFailed;
    return static_cast<ULONGLONG>(pos.QuadPart);
}

ULONGLONG CFile::GetPosition() const {
    if (m_hFile == INVALID_HANDLE_VALUE) return kFailed;
    LARGE_INTEGER zero = {};
    LARGE_INTEGER pos;
    if (!::SetFilePointerEx(m_hFile, zero, &pos, FILE_CURRENT)) return kFailed;
    return static_cast<ULONGLONG>(pos.QuadPart);
}

ULONGLONG CFile::GetLength() const {
    LARGE_INTEGER size;
    if (m_hFile == INVALID_HANDLE_VALUE || !::GetFileSizeEx(m_hFile, &size)) return kFailed;
    return static_cast<ULONGLONG>(size.QuadPart);
}

BOOL CFile::Flush() { return m_hFile != INVALID_HANDLE_VALUE && ::FlushFileBuffers(m_hFile); }
