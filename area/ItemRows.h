// What the two tables share: how a name enters a row, how rows reach a combo box, and
// how a name is looked up.
#pragma once

#include <windows.h>

#include "Area.h"

// Copies at most kItemNameLength characters of lpszName into szField and
// zero-fills the rest. A null lpszName gives an empty name.
void CopyItemName(WCHAR (&szField)[kItemNameLength + 1], LPCWSTR lpszName);

// Adds one item with the given text and data to the box.
void AddItemToBox(HWND hBox, const WCHAR* pszName, WORD wID);

// Identifier of the first row named lpszName; 0 when there is none or lpszName is null.
// Counts with the array's own index type, so any number of rows is scanned.
template <class TYPE>
WORD FindItemID(const CItemArray<TYPE>& rows, LPCWSTR lpszName) {
    if (lpszName == nullptr) return 0;
    for (int i = 0; i < rows.GetSize(); ++i) {
        TYPE row = rows.GetAt(i);
        if (lstrcmpW(row.szName, lpszName) == 0) return row.wID;
    }
    return 0;
}
