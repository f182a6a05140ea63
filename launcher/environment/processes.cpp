#include "environment/processes.h"

#include <tlhelp32.h>

#include <vector>

DWORD FindProcessByName(const std::wstring& exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry;
    ZeroMemory(&entry, sizeof entry);
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (exeName == entry.szExeFile) {
            found = entry.th32ProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return found;
}

std::string WideToAnsi(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::vector<char> buffer;
    try {
        buffer.resize(static_cast<size_t>(size));
    } catch (...) {
        return std::string();
    }
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, buffer.data(), size, nullptr, nullptr);
    buffer.back() = '\0';
    return std::string(buffer.data());
}

UINT RunProgram(const std::wstring& path)
{
    // Unquoted, "C:\Program Files\X\app.exe" would start C:\Program.exe if one existed.
    const std::string commandLine = WideToAnsi(L"\"" + path + L"\"");
    return WinExec(commandLine.c_str(), SW_SHOW);
}
