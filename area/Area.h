// Area.dll: the area table (country, provinces, cities) and the education-level table of
// the lobby's profile form. Both classes are exported whole. A host built with the same
// toolchain (C++17, ANSI or Unicode) includes this header and links the import library
// Area.dll.a and the framework library libframework.a, which defines the CComboBox the
// boxes are passed as (and calls gdi32).
//
// Names are UTF-16 and hold at most kItemNameLength characters; a longer name is cut
// (never in the middle of a surrogate pair). Identifiers are 16-bit; 0 means "none".
// Every object builds and owns its own table. Tables accept any number of rows, repeated
// identifiers and names, and parents that are not in the table.
//
// Failures: only CMemoryException* (see Exceptions.h) leaves this library, from the
// constructors, the copies and AddArea/AddDegree, when the rows cannot be allocated; an
// object that was being changed keeps the rows it had. Nothing else is reported.
//
// Not thread-safe: one object is not to be used from two threads at once.
#pragma once

#include <windows.h>

#include "ComboBox.h"
#include "ItemArray.h"

#ifdef AREA_BUILDING_DLL
#define AREA_API __declspec(dllexport)
#else
#define AREA_API __declspec(dllimport)
#endif

// Characters of text a row's name keeps; the name field adds the terminator.
constexpr int kItemNameLength = 19;

// One area: identifier, name (zero-terminated, zero-padded), parent's identifier (0 for
// the root).
struct AreaItem {
    WORD wID;
    WCHAR szName[kItemNameLength + 1];
    WORD wParentID;
};

// One education level.
struct DegreeItem {
    WORD wID;
    WCHAR szName[kItemNameLength + 1];
};

// The area table. A new object holds the built-in data set: the root 1 "中国" (child of
// 0), its 34 provinces, and their 415 cities and districts.
class AREA_API CAreaData {
public:
    CAreaData();
    CAreaData(const CAreaData& src);
    CAreaData& operator=(const CAreaData& src);
    ~CAreaData();

    // Appends a row. A null lpszName is stored as an empty name.
    void AddArea(WORD wID, WORD wParentID, LPCWSTR lpszName);

    // Adds the name of every row whose parent is wParentID to the box, in table order, each
    // with CB_ADDSTRING and then the row's identifier as the item's data (CB_SETITEMDATA).
    // Neither empties the box nor selects. A box that refuses an item (CB_ADDSTRING < 0)
    // gets no data for it. Does nothing when pComboBox is null or has no window.
    void GetArea(WORD wParentID, CComboBox* pComboBox) const;

    // Identifier of the first row, in table order, whose name equals lpszName (lstrcmpW,
    // case-sensitive); 0 when there is none or lpszName is null.
    WORD GetID(LPCWSTR lpszName) const;

private:
    CItemArray<AreaItem> m_arrArea;
};

// The education-level table. A new object holds the seven built-in levels, 1 "博士"
// (highest) to 7 "小学及以下".
class AREA_API CDegreeData {
public:
    CDegreeData();
    CDegreeData(const CDegreeData& src);
    CDegreeData& operator=(const CDegreeData& src);
    ~CDegreeData();

    // Appends a row. A null lpszName is stored as an empty name.
    void AddDegree(WORD wID, LPCWSTR lpszName);

    // Adds every row to the box, in table order, as GetArea does.
    void GetDegree(CComboBox* pComboBox) const;

    // As CAreaData::GetID.
    WORD GetID(LPCWSTR lpszName) const;

private:
    CItemArray<DegreeItem> m_arrDegree;
};
