// Extension libraries: DLLs that build on the framework. The entry point of such a
// library registers it while it is loaded:
//   static AFX_EXTENSION_MODULE ThisDLL;
//   attach: if (!AfxInitExtensionModule(ThisDLL, hInstance)) return FALSE;
//           new CDynLinkLibrary(ThisDLL);
//   detach: AfxTermExtensionModule(ThisDLL);
//
// Registering only records the library in a chain of CDynLinkLibrary objects, one chain
// per module that links the framework; nothing searches the chain. Resources come from
// AfxGetResourceHandle() (the program's module): a library loads its own through its own
// module handle.
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
