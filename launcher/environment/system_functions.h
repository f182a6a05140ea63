// Functions looked up at run time: those only newer Windows versions export (a static import of
// any of them would stop the loader on Windows XP before the launcher runs at all), and those of
// DLLs that only some roads need.
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

// The function `name` of `module` as `Function`, or null.
template <typename Function>
Function FindModuleFunction(HMODULE module, const char* name)
{
    const FARPROC found = module ? GetProcAddress(module, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// A system DLL that only some roads need, loaded when first needed rather than by the loader
// at every start. Taken from the system folder by its full path: never from the launcher's own
// folder, where a planted copy could wait. Null (GetLastError says why) when it can't be had.
inline HMODULE LoadSystemLibrary(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 1 + static_cast<UINT>(lstrlenW(name)) >= MAX_PATH) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return nullptr;
    }
    lstrcatW(path, L"\\");
    lstrcatW(path, name);
    return LoadLibraryW(path);
}

template <typename Function>
Function FindKernel32Function(const char* name)
{
    return FindSystemFunction<Function>(L"kernel32.dll", name);
}
