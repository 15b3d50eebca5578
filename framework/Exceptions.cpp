#include "Exceptions.h"

namespace {
// Static, so that reporting an exhausted heap does not need the heap.
CMemoryException g_simpleMemoryException(FALSE);
CInvalidArgException g_simpleInvalidArgException(FALSE);
}  // namespace

void CException::Delete() {
    if (m_bAutoDelete) delete this;
}

void AfxThrowMemoryException() { throw &g_simpleMemoryException; }

void AfxThrowInvalidArgException() { throw &g_simpleInvalidArgException; }
