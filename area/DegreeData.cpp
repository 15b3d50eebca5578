#include "Area.h"

#include "ItemRows.h"

namespace {
struct DegreeRow {
    WORD wID;
    const wchar_t* pszName;
};

// Highest level first.
const DegreeRow kDegreeDataSet[] = {
    {1, L"博士"},        // doctorate
    {2, L"研究生"},      // postgraduate
    {3, L"本科"},        // bachelor's degree
    {4, L"大中专"},      // college or technical secondary school
    {5, L"高中"},        // senior high school
    {6, L"初中"},        // junior high school
    {7, L"小学及以下"},  // primary school or less
};
}  // namespace

CDegreeData::CDegreeData() {
    for (const DegreeRow& row : kDegreeDataSet) AddDegree(row.wID, row.pszName);
}

CDegreeData::CDegreeData(const CDegreeData& src) : m_arrDegree(src.m_arrDegree) {}

CDegreeData& CDegreeData::operator=(const CDegreeData& src) {
    m_arrDegree = src.m_arrDegree;
    return *this;
}

CDegreeData::~CDegreeData() { m_arrDegree.RemoveAll(); }

void CDegreeData::AddDegree(WORD wID, LPCWSTR lpszName) {
    DegreeItem item = {};
    item.wID = wID;
    CopyItemName(item.szName, lpszName);
    m_arrDegree.Add(item);
}

void CDegreeData::GetDegree(CComboBox* pComboBox) const {
    if (pComboBox == nullptr || pComboBox->GetSafeHwnd() == nullptr) return;
    for (int i = 0; i < m_arrDegree.GetSize(); ++i) {
        DegreeItem item = m_arrDegree.GetAt(i);
        AddItemToBox(pComboBox->GetSafeHwnd(), item.szName, item.wID);
    }
}

WORD CDegreeData::GetID(LPCWSTR lpszName) const { return FindItemID(m_arrDegree, lpszName); }
