#include "update/import_hook.h"

#include <windows.h>

namespace {

// The import address table entry of this program through which it calls `function`.
uintptr_t* FindImportSlot(const char* dll, const char* function)
{
    HMODULE library = GetModuleHandleA(dll);
    if (!library)
        return nullptr;
    const auto target = reinterpret_cast<uintptr_t>(GetProcAddress(library, function));
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (target == 0 || imports.VirtualAddress == 0)
        return nullptr;
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0)
            continue;
        for (auto* slot = reinterpret_cast<uintptr_t*>(base + entry->FirstThunk); *slot != 0;
             ++slot) {
            if (*slot == target)
                return slot;
        }
    }
    return nullptr;
}

void WriteSlot(uintptr_t* slot, uintptr_t value)
{
    DWORD protection = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
}

}  // namespace

ImportHook::ImportHook(const char* dll, const char* function, const void* replacement)
{
    m_slot = FindImportSlot(dll, function);
    if (!m_slot)
        return;
    m_original = *m_slot;
    WriteSlot(m_slot, reinterpret_cast<uintptr_t>(replacement));
}

ImportHook::~ImportHook()
{
    if (m_slot)
        WriteSlot(m_slot, m_original);
}
