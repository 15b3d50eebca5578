// The library's entry point: registers Area.dll with the framework as an extension
// library while it is loaded.
#include <windows.h>

#include <new>

#include "ExtensionModule.h"

namespace {
AFX_EXTENSION_MODULE AreaDLL = {};
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*lpReserved*/) {
    switch (dwReason) {
        case DLL_PROCESS_ATTACH:
            if (!AfxInitExtensionModule(AreaDLL, hInstance)) return FALSE;
            // Deleted by AfxTermExtensionModule. No exception may leave DllMain, and a
            // library that is not registered still serves its tables.
            new (std::nothrow) CDynLinkLibrary(AreaDLL);
            return TRUE;
        case DLL_PROCESS_DETACH:
            AfxTermExtensionModule(AreaDLL);
            return TRUE;
        default:
            return TRUE;
    }
}
