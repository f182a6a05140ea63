// Functions that only newer Windows versions export, looked up at run time: a static import of
// any of them would stop the loader on Windows XP before the launcher runs at all.
#pragma once

#include <windows.h>

// The function `name` of a module the launcher already imports (so loaded), as `Function`, or
// null where this Windows lacks it.
template <typename Function>
Function FindSystemFunction(const wchar_t* module, const char* name)
{
    const HMODULE loaded = GetModuleHandleW(module);
    const FARPROC found = loaded ? GetProcAddress(loaded, name) : nullptr;
    // Through the generic function pointer type, which converts to any other without warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

template <typename Function>
Function FindKernel32Function(const char* name)
{
    return FindSystemFunction<Function>(L"kernel32.dll", name);
}
