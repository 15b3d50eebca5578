#include "ItemRows.h"

#include <cstring>

void CopyItemName(WCHAR (&szField)[kItemNameLength + 1], LPCWSTR lpszName) {
    std::memset(szField, 0, sizeof(szField));
    if (lpszName == nullptr) return;
    int n = 0;
    while (n < kItemNameLength && lpszName[n] != L'\0') ++n;
    // A cut between the halves of a surrogate pair would leave half a character.
    if (n == kItemNameLength && lpszName[n] != L'\0' && IS_HIGH_SURROGATE(lpszName[n - 1])) --n;
    std::memcpy(szField, lpszName, sizeof(WCHAR) * static_cast<size_t>(n));
}

void AddItemToBox(HWND hBox, const WCHAR* pszName, WORD wID) {
    LRESULT nIndex = SendMessageW(hBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(pszName));
    // CB_ERR or CB_ERRSPACE: an index of -1 would set the data of every item.
    if (nIndex < 0) return;
    SendMessageW(hBox, CB_SETITEMDATA, static_cast<WPARAM>(nIndex), static_cast<LPARAM>(wID));
}
