// Extension libraries: DLLs that build on the framework and register themselves with it
// when they are loaded, so that later lookups (resources, classes) can search them.
//
// The usual entry point of such a library:
//   static AFX_EXTENSION_MODULE ThisDLL;
//   attach: if (!AfxInitExtensionModule(ThisDLL, hInstance)) return FALSE;
//           new CDynLinkLibrary(ThisDLL);
//   detach: AfxTermExtensionModule(ThisDLL);
//
// Every module that links the framework keeps its own chain of CDynLinkLibrary objects.
#pragma once

#include <windows.h>

// The state of one extension library; zero-initialise it (a static object is).
struct AFX_EXTENSION_MODULE {
    BOOL bInitialized;
    HMODULE hModule;
};

// Records hModule as the library's module. FALSE when hModule is null (the state is then
// left alone); TRUE otherwise, also when the state was already set up.
BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule);

// Undoes AfxInitExtensionModule: deletes (with delete) the CDynLinkLibrary objects of
// state.hModule and marks the state uninitialised. Call it from the library's process
// detach. Never fails.
void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state);

// One library's entry in the chain. Creating it links it in at the head; destroying it
// unlinks it. Create it with new: AfxTermExtensionModule deletes it. Constructors never
// throw; the chain is guarded by a lock.
class CDynLinkLibrary {
public:
    // For an extension library set up by AfxInitExtensionModule.
    explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& state) noexcept;
    virtual ~CDynLinkLibrary();
    CDynLinkLibrary(const CDynLinkLibrary&) = delete;
    CDynLinkLibrary& operator=(const CDynLinkLibrary&) = delete;

    HMODULE m_hModule;
    CDynLinkLibrary* m_pNextDLL = nullptr;
};
