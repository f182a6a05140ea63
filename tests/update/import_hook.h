// Redirects one function that this program imports from a DLL, for as long as the hook lives:
// the program's import address table entry is rewritten, so every call the launcher code
// makes goes to the replacement, which may call the original.
#pragma once

#include <cstdint>

class ImportHook {
public:
    ImportHook(const char* dll, const char* function, const void* replacement);
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    // False when the program does not import the function (nothing is redirected then).
    bool Installed() const { return m_slot != nullptr; }

    // The original function, as a pointer of its own type.
    template <typename Function> Function Original() const
    {
        return reinterpret_cast<Function>(m_original);
    }

private:
    uintptr_t* m_slot = nullptr;
    uintptr_t m_original = 0;
};
