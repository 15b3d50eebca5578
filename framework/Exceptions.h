// The framework's exceptions. They are thrown as pointers, the way the class library
// does it: catch (CException* e) { ...; e->Delete(); }. Delete, never delete: the
// framework's own throws use static objects that must outlive every catch.
#pragma once

#include <windows.h>

class CException {
public:
    // bAutoDelete TRUE: Delete() frees the object (it was made with new);
    // FALSE: Delete() leaves it alone (a static object).
    explicit CException(BOOL bAutoDelete = TRUE) : m_bAutoDelete(bAutoDelete) {}
    virtual ~CException() = default;
    CException(const CException&) = delete;
    CException& operator=(const CException&) = delete;

    // Ends the catcher's use of the exception: frees it when it is auto-deleting.
    void Delete();

protected:
    BOOL m_bAutoDelete;
};

// Memory could not be allocated.
class CMemoryException : public CException {
public:
    explicit CMemoryException(BOOL bAutoDelete = TRUE) : CException(bAutoDelete) {}
};

// A caller passed a value outside what a function accepts (a negative size, an index
// past the end).
class CInvalidArgException : public CException {
public:
    explicit CInvalidArgException(BOOL bAutoDelete = TRUE) : CException(bAutoDelete) {}
};

// Throw a CMemoryException* / CInvalidArgException* that points to a static object
// (never null, Delete() does nothing). They do not return.
[[noreturn]] void AfxThrowMemoryException();
[[noreturn]] void AfxThrowInvalidArgException();
