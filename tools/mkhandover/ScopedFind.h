// A search of FindFirstFile, closed with FindClose: the one owner of that handle kind in
// mkhandover. INVALID_HANDLE_VALUE is its empty value.
#pragma once

#include <windows.h>

#include "Scoped.h"

struct FindTraits {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static bool IsEmpty(HANDLE h) { return h == INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { ::FindClose(h); }
};
using ScopedFind = scoped_detail::Owner<HANDLE, FindTraits>;
