// The built-in rows of CAreaData.
#pragma once

#include <windows.h>

struct AreaRow {
    WORD wID;
    WORD wParentID;
    const wchar_t* pszName;
};

extern const AreaRow kAreaDataSet[];
extern const int kAreaDataSetRows;
