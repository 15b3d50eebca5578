#include "ImportPatch.h"

#include <cstring>

ImportPatch::ImportPatch(HMODULE module, const char* importedDll, const char* function,
                         void* replacement) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return;
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         desc->Name != 0; ++desc) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + desc->Name), importedDll) != 0) continue;
        // The name table stays as linked; the address table holds what the loader bound.
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(byName->Name), function) != 0) continue;
            m_slot = reinterpret_cast<ULONG_PTR*>(&slots->u1.Function);
            m_original = reinterpret_cast<void*>(*m_slot);
            Write(m_slot, reinterpret_cast<ULONG_PTR>(replacement));
            return;
        }
    }
}

ImportPatch::~ImportPatch() {
    if (m_slot != nullptr) Write(m_slot, reinterpret_cast<ULONG_PTR>(m_original));
}

void ImportPatch::Write(ULONG_PTR* slot, ULONG_PTR value) {
    DWORD oldProtect = 0;
    VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &oldProtect);
    *slot = value;
    VirtualProtect(slot, sizeof(*slot), oldProtect, &oldProtect);
}
