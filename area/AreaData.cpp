#include "Area.h"

#include "AreaDataSet.h"
#include "ItemRows.h"

// A throw from AddArea leaves the constructor; m_arrArea is already constructed, so its
// destructor releases the rows appended so far.
CAreaData::CAreaData() {
    for (int i = 0; i < kAreaDataSetRows; ++i) {
        const AreaRow& row = kAreaDataSet[i];
        AddArea(row.wID, row.wParentID, row.pszName);
    }
}

CAreaData::CAreaData(const CAreaData& src) : m_arrArea(src.m_arrArea) {}

CAreaData& CAreaData::operator=(const CAreaData& src) {
    m_arrArea = src.m_arrArea;
    return *this;
}

CAreaData::~CAreaData() { m_arrArea.RemoveAll(); }

void CAreaData::AddArea(WORD wID, WORD wParentID, LPCWSTR lpszName) {
    AreaItem item = {};
    item.wID = wID;
    CopyItemName(item.szName, lpszName);
    item.wParentID = wParentID;
    m_arrArea.Add(item);
}

void CAreaData::GetArea(WORD wParentID, CComboBox* pComboBox) const {
    if (pComboBox == nullptr || pComboBox->GetSafeHwnd() == nullptr) return;
    // GetSize() is read again each turn and rows are copied out: a box whose owner adds
    // rows while it handles a message cannot make the walk read freed storage.
    for (int i = 0; i < m_arrArea.GetSize(); ++i) {
        AreaItem item = m_arrArea.GetAt(i);
        if (item.wParentID == wParentID)
            AddItemToBox(pComboBox->GetSafeHwnd(), item.szName, item.wID);
    }
}

WORD CAreaData::GetID(LPCWSTR lpszName) const { return FindItemID(m_arrArea, lpszName); }
