// Running the real launcher.exe against a loopback stand-in for the update service, and reading
// what it appended to its log.
#pragma once

#include <shlobj.h>

#include <map>
#include <string>
#include <vector>

#include "base/brand.h"
#include "support/test_support.h"

namespace launcher_process {

inline std::wstring LauncherExe()
{
    return test_support::BuildPath(L"launcher.exe");
}

inline std::wstring LauncherCommandLine()
{
    return L"\"" + LauncherExe() + L"\"";
}

// WinINet sends every request to this proxy, so the compiled-in host is never looked up.
inline std::map<std::wstring, std::wstring> ServiceThrough(unsigned short port)
{
    return {{L"http_proxy", L"http://127.0.0.1:" + std::to_wstring(port) + L"/"}};
}

inline std::wstring LauncherLog()
{
    return test_support::DocumentsDir() + L"\\" LAUNCHER_BRAND_LOG_FOLDER L"\\launcher.log";
}

inline int64_t LogSize()
{
    const int64_t size = test_support::FileSize(LauncherLog());
    return size < 0 ? 0 : size;
}

inline std::vector<std::string> LogLinesSince(int64_t offset)
{
    const std::string bytes = test_support::ReadFileBytes(LauncherLog());
    if (static_cast<int64_t>(bytes.size()) < offset)
        return {};
    return test_support::SplitCrLfLines(bytes.substr(static_cast<size_t>(offset)));
}

inline std::wstring ProgramFiles()
{
    wchar_t folder[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE);
    return folder;
}

inline std::wstring ApplicationDirectory()
{
    return ProgramFiles() + L"\\" LAUNCHER_BRAND_VENDOR_FOLDER L"\\" LAUNCHER_BRAND_PRODUCT_FOLDER;
}

inline std::wstring ApplicationPath()
{
    return ApplicationDirectory() + L"\\" LAUNCHER_BRAND_APP_EXE;
}

inline std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

}  // namespace launcher_process
