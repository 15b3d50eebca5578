// Replaces one imported function of a loaded module for the life of the object: the
// module's import slot for it points to the replacement, then back to the original.
// Used to make allocations inside Area.dll fail on demand.
#pragma once

#include <windows.h>

class ImportPatch {
public:
    // Patches module's import of function from importedDll (case-insensitive). Active()
    // is false when the module does not import it.
    ImportPatch(HMODULE module, const char* importedDll, const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    bool Active() const { return m_slot != nullptr; }
    // The address the slot held before.
    void* Original() const { return m_original; }

private:
    static void Write(ULONG_PTR* slot, ULONG_PTR value);

    ULONG_PTR* m_slot = nullptr;
    void* m_original = nullptr;
};
