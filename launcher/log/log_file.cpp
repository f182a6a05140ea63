#include "log/log_file.h"

#include <psapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <cwchar>
#include <string>

#include "base/brand.h"
#include "log/log_line.h"

namespace {

LogFile g_logSlot;
bool g_logInitialised = false;

// A writer that holds the lock longer than this is presumed stuck; the line is written anyway.
constexpr DWORD kWriteLockWaitMs = 2000;

void CloseLogFileAtExit()
{
    g_logSlot.m_hFile.Reset();
    g_logSlot.m_hWriteLock.Reset();
}

// One lock per log file name for all processes of the session.
HANDLE CreateWriteLock()
{
    wchar_t name[MAX_PATH] = {};
    GetLogFileName(name);
    CharLowerW(name);
    const std::wstring lockName = std::wstring(L"Local\\" LAUNCHER_BRAND_LOG_LOCK L" ") + name;
    return CreateMutexW(nullptr, FALSE, lockName.c_str());
}

// Formats with the C runtime's own wide printf (%s = wide string), whatever the stdio
// conformance mode the C++ library selected for swprintf.
std::wstring FormatMessageText(const wchar_t* format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    const int length = _vscwprintf(format, measure);
    va_end(measure);
    if (length <= 0)
        return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    _vsnwprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

}  // namespace

LogFile& GetLogFile()
{
    if (!g_logInitialised) {
        g_logInitialised = true;
        OpenLogFile();
        std::atexit(CloseLogFileAtExit);
    }
    return g_logSlot;
}

void OpenLogFile()
{
    g_logSlot.m_hFile.Reset();
    wchar_t path[MAX_PATH] = {};
    if (!GetLogFilePath(path))
        return;
    // Append-only access makes every write land at the current end of the file. Other readers
    // and writers stay welcome.
    g_logSlot.m_hFile.Reset(CreateFileW(path, FILE_APPEND_DATA | FILE_READ_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (g_logSlot.IsOpen())
        g_logSlot.m_hWriteLock.Reset(CreateWriteLock());
}

bool GetLogFilePath(wchar_t* destination)
{
    wchar_t folder[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PERSONAL, FALSE);
    PathAddBackslashW(folder);
    PathAppendW(folder, L"" LAUNCHER_BRAND_LOG_FOLDER);
    PathAddBackslashW(folder);
    if (!PathFileExistsW(folder))
        CreateDirectoryW(folder, nullptr);

    wchar_t name[MAX_PATH] = {};
    GetLogFileName(name);
    PathAppendW(folder, name);
    if (destination)
        lstrcpynW(destination, folder, MAX_PATH);
    return true;
}

bool GetLogFileName(wchar_t* destination)
{
    wchar_t name[MAX_PATH] = {};
    // psapi.dll's own export (the build sets PSAPI_VERSION 1): kernel32's K32 alias of it
    // exists only from Windows 7 on.
    GetModuleBaseNameW(GetCurrentProcess(), nullptr, name, MAX_PATH);
    wchar_t* extension = PathFindExtensionW(name);
    while (*extension)
        *extension++ = L'\0';
    // Appended rather than added with PathAddExtensionW, which leaves a name that still looks
    // as if it had an extension ("a.b" of "a.b.exe") without ".log".
    const size_t length = std::wcslen(name);
    if (length + 4 < MAX_PATH)
        std::wcscpy(name + length, L".log");
    if (destination)
        lstrcpynW(destination, name, MAX_PATH);
    return true;
}

void WriteLog(LogFile& slot, const wchar_t* format, ...)
{
    if (!slot.IsOpen())
        return;

    const __time64_t now = _time64(nullptr);
    std::tm localTime = {};
    _localtime64_s(&localTime, &now);

    va_list args;
    va_start(args, format);
    const std::wstring message = FormatMessageText(format, args);
    va_end(args);

    // One write per line, and one writer at a time: appending is not atomic everywhere (Wine
    // finds the end of the file and writes there in two steps), so two writers at once could
    // land on the same offset and tear or overwrite each other's lines.
    const std::string line = EncodeLogLine(localTime, message);
    const DWORD waited =
        slot.m_hWriteLock ? WaitForSingleObject(slot.m_hWriteLock.Get(), kWriteLockWaitMs) : WAIT_FAILED;
    // An abandoned lock (its holder ended mid-line) is ours now, as after a normal wait.
    const HeldMutex held(slot.m_hWriteLock.Get(), waited);
    DWORD written = 0;
    WriteFile(slot.m_hFile.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
