// Functions that only newer Windows versions export, looked up at run time: a static import of
// any of them would stop the loader on Windows XP before the launcher runs at all.
#pragma once

#include <windows.h>

// The kernel32 function `name` as `Function`, or null where this Windows lacks it.
template <typename Function>
Function FindKernel32Function(const char* name)
{
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel32 ? GetProcAddress(kernel32, name) : nullptr;
    // Through the generic function pointer type, which converts to any other without warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}
