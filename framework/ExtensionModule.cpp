#include "ExtensionModule.h"

#include "Scoped.h"

namespace {
// Statically initialised, so the chain works from DllMain before and after the C++
// runtime's own set-up and tear-down of this module.
SRWLOCK g_chainLock = SRWLOCK_INIT;
CDynLinkLibrary* g_pFirstDLL = nullptr;

// Caller holds the lock.
void Unlink(CDynLinkLibrary* pDLL) {
    for (CDynLinkLibrary** pp = &g_pFirstDLL; *pp != nullptr; pp = &(*pp)->m_pNextDLL) {
        if (*pp == pDLL) {
            *pp = pDLL->m_pNextDLL;
            pDLL->m_pNextDLL = nullptr;
            return;
        }
    }
}

// Unlinks and returns the first library that Term should delete, null when none is left.
CDynLinkLibrary* TakeNext(HMODULE hModule) {
    ScopedSrwLock lock(g_chainLock);
    for (CDynLinkLibrary* p = g_pFirstDLL; p != nullptr; p = p->m_pNextDLL) {
        if (p->m_hModule == hModule) {
            Unlink(p);
            return p;
        }
    }
    return nullptr;
}
}  // namespace

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule) {
    if (hModule == nullptr) return FALSE;
    if (state.bInitialized) return TRUE;
    state.hModule = hModule;
    state.bInitialized = TRUE;
    return TRUE;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state) {
    // Deleted outside the lock: a destructor of a derived library may do anything.
    while (CDynLinkLibrary* p = TakeNext(state.hModule)) delete p;
    state.bInitialized = FALSE;
}

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state) noexcept : m_hModule(state.hModule) {
    ScopedSrwLock lock(g_chainLock);
    m_pNextDLL = g_pFirstDLL;
    g_pFirstDLL = this;
}

CDynLinkLibrary::~CDynLinkLibrary() {
    ScopedSrwLock lock(g_chainLock);
    Unlink(this);
}
