#include "File.h"

CFile::~CFile() { Close(); }

BOOL CFile::Open(LPCSTR lpszFileName, UINT nOpenFlags) {
    if (m_hFile != INVALID_HANDLE_VALUE || lpszFileName == nullptr || nOpenFlags != modeReadWrite) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE h = ::CreateFileA(lpszFileName, GENERIC_READ | GENERIC_WRITE, 0, &sa, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    m_hFile = h;
    return TRUE;
}

void CFile::Close() {
    if (m_hFile != INVALID_HANDLE_VALUE) ::CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}
