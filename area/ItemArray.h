// CItemArray: the growable array that holds the rows of the Area tables.
//
// Rows are plain data (copied bytewise) and keep their insertion order. The storage is
// allocated with array new and owned by the array; unused slots are always zero. Every
// failure is an exception from the framework:
//   - CMemoryException* when storage cannot be allocated (the array is then unchanged);
//   - CInvalidArgException* for a negative size or an index outside 0 .. GetSize() - 1.
#pragma once

#include <climits>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "Exceptions.h"

// The capacity the array grows to when it must hold nNewSize rows (nNewSize > the current
// capacity) while it holds nCount. The step is nGrowBy when that is positive; otherwise
// nCount / 8, kept within 4 to 1024. Capped at INT_MAX.
inline int ItemArrayNewCapacity(int nNewSize, int nCount, int nGrowBy) {
    int nStep = nGrowBy;
    if (nStep <= 0) {
        nStep = nCount / 8;
        if (nStep < 4) nStep = 4;
        if (nStep > 1024) nStep = 1024;
    }
    return nNewSize > INT_MAX - nStep ? INT_MAX : nNewSize + nStep;
}

template <class TYPE>
class CItemArray {
    static_assert(std::is_trivially_copyable<TYPE>::value, "rows are copied bytewise");

public:
    CItemArray() = default;
    // The copy owns storage of its own, sized to the source's rows.
    CItemArray(const CItemArray& src) : m_nGrowBy(src.m_nGrowBy) { CopyRowsFrom(src); }
    // Strong guarantee: on CMemoryException the array keeps its old rows.
    CItemArray& operator=(const CItemArray& src) {
        if (this != &src) {
            CItemArray copy(src);
            Swap(copy);
        }
        return *this;
    }
    virtual ~CItemArray() {
        delete[] m_pData;
        m_pData = nullptr;
    }

    int GetSize() const { return m_nSize; }
    // Rows allocated; GetSize() <= GetCapacity().
    int GetCapacity() const { return m_nMaxSize; }

    // Sets the number of rows. Growing past the capacity reallocates (see
    // ItemArrayNewCapacity); new rows are zero. Shrinking zero-fills the dropped rows and
    // keeps the storage. nGrowBy >= 0 also sets the growth step (0: automatic).
    void SetSize(int nNewSize, int nGrowBy = -1) {
        if (nNewSize < 0) AfxThrowInvalidArgException();
        int nStep = nGrowBy >= 0 ? nGrowBy : m_nGrowBy;
        if (nNewSize > m_nMaxSize) {
            Reallocate(ItemArrayNewCapacity(nNewSize, m_nSize, nStep));
        } else if (nNewSize < m_nSize) {
            std::memset(static_cast<void*>(m_pData + nNewSize), 0,
                        sizeof(TYPE) * static_cast<size_t>(m_nSize - nNewSize));
        }
        m_nGrowBy = nStep;
        m_nSize = nNewSize;
    }

    // Appends a copy of newElement; returns its index.
    int Add(const TYPE& newElement) {
        if (m_nSize == INT_MAX) AfxThrowMemoryException();
        int nIndex = m_nSize;
        SetSize(nIndex + 1);
        m_pData[nIndex] = newElement;
        return nIndex;
    }

    // A copy of row nIndex.
    TYPE GetAt(int nIndex) const {
        if (nIndex < 0 || nIndex >= m_nSize) AfxThrowInvalidArgException();
        return m_pData[nIndex];
    }

    // Zero-fills the rows and sets the size to 0; the storage stays.
    void RemoveAll() { SetSize(0); }

private:
    // Allocates before anything changes, so a failure leaves the array as it was.
    void Reallocate(int nNewMax) {
        TYPE* pNew = nullptr;
        try {
            pNew = new TYPE[static_cast<size_t>(nNewMax)]();  // zero-filled
        } catch (const std::bad_alloc&) {
            AfxThrowMemoryException();
        }
        int nKept = m_nSize < nNewMax ? m_nSize : nNewMax;
        if (nKept > 0) {
            std::memcpy(static_cast<void*>(pNew), m_pData,
                        sizeof(TYPE) * static_cast<size_t>(nKept));
        }
        delete[] m_pData;
        m_pData = pNew;
        m_nMaxSize = nNewMax;
    }

    void CopyRowsFrom(const CItemArray& src) {
        if (src.m_nSize == 0) return;
        Reallocate(src.m_nSize);
        std::memcpy(static_cast<void*>(m_pData), src.m_pData,
                    sizeof(TYPE) * static_cast<size_t>(src.m_nSize));
        m_nSize = src.m_nSize;
    }

    void Swap(CItemArray& other) noexcept {
        std::swap(m_pData, other.m_pData);
        std::swap(m_nMaxSize, other.m_nMaxSize);
        std::swap(m_nGrowBy, other.m_nGrowBy);
        std::swap(m_nSize, other.m_nSize);
    }

    TYPE* m_pData = nullptr;
    int m_nMaxSize = 0;
    int m_nGrowBy = 0;
    int m_nSize = 0;
};
