// Known-bad input for scripts/check-imports: newer functions imported statically (through the
// header's default Windows version and psapi's K32 alias), and a PE header asking for 6.0.
#include <windows.h>
#include <psapi.h>

int wmain()
{
    wchar_t name[MAX_PATH] = {};
    GetModuleBaseNameW(GetCurrentProcess(), nullptr, name, MAX_PATH);
    SetThreadUILanguage(0x0404);
    return static_cast<int>(GetTickCount64() & 1) + name[0];
}
