#include "environment/locations.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

#include "base/brand.h"
#include "base/unique_resource.h"
#include "environment/managed_application.h"
#include "log/log_file.h"

namespace {

void CreateFolderIfMissing(const std::wstring& path)
{
    if (!PathFileExistsW(path.c_str()))
        CreateDirectoryW(path.c_str(), nullptr);
}

// Appends the two folder levels to `base`, creating each one that is missing.
std::wstring BuildProductFolder(std::wstring base)
{
    base += kVendorFolder;
    CreateFolderIfMissing(base);
    base += L'\\';
    base += kProductFolder;
    CreateFolderIfMissing(base);
    base += L'\\';
    return base;
}

}  // namespace

bool IsUsableFolderPath(bool found, const wchar_t* path)
{
    if (!found || !path)
        return false;
    // "C:\..." or "\\server\share...": "\Vendor" or "Vendor" would be on the current drive or in
    // the current folder.
    const bool drive = path[0] != L'\0' && path[1] == L':' && path[2] == L'\\';
    const bool share = path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\0';
    return drive || share;
}

const std::wstring& GetProgramFilesDirectory()
{
    static std::wstring directory;
    static bool asked = false;
    if (!asked) {
        asked = true;
        wchar_t buffer[MAX_PATH] = {};
        const BOOL found =
            SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_PROGRAM_FILES, FALSE);
        if (IsUsableFolderPath(found != FALSE, buffer))
            directory = buffer;
        else
            WriteLog(GetLogFile(), L"program files path error, answer: %s", buffer);
    }
    return directory;
}

const std::wstring& GetApplicationDirectory()
{
    static std::wstring directory;
    if (directory.empty() && !GetProgramFilesDirectory().empty())
        directory = BuildProductFolder(GetProgramFilesDirectory() + L'\\');
    return directory;
}

const std::wstring& GetApplicationBackupDirectory()
{
    static std::wstring directory;
    if (directory.empty() && !GetApplicationDirectory().empty()) {
        directory = GetApplicationDirectory();
        directory.pop_back();
        directory += L" backup";
    }
    return directory;
}

const std::wstring& GetApplicationPath()
{
    static std::wstring path;
    if (path.empty() && !GetApplicationDirectory().empty()) {
        path = GetApplicationDirectory() + kApplicationExeName;
        WriteLog(GetLogFile(), L"" LAUNCHER_BRAND_UPDATER L" path: %s", path.c_str());
    }
    return path;
}

const std::wstring& GetDownloadDirectory()
{
    static std::wstring directory;
    if (directory.empty()) {
        wchar_t buffer[MAX_PATH] = {};
        const DWORD length = GetTempPathW(MAX_PATH, buffer);
        // A failed or cut-off temporary path stays empty: appended to, it would name a folder
        // relative to the current directory.
        if (length == 0 || length >= MAX_PATH || !IsUsableFolderPath(true, buffer))
            return directory;
        // The temporary folder already ends with a backslash.
        directory = BuildProductFolder(buffer);
    }
    return directory;
}

bool GetFileVersion(const wchar_t* path, uint16_t& major, uint16_t& minor)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0)
        return false;

    std::vector<unsigned char> block;
    try {
        block.resize(size);
    } catch (...) {
        return false;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedLength = 0;
    if (!GetFileVersionInfoW(path, 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedLength) ||
        fixed == nullptr || fixedLength < sizeof(VS_FIXEDFILEINFO))
        return false;

    major = HIWORD(fixed->dwFileVersionMS);
    minor = LOWORD(fixed->dwFileVersionMS);
    return true;
}

bool IsApplicationFilePresent()
{
    return MeasureFileSize(GetApplicationPath()) > 0;
}

int64_t MeasureFileSize(const std::wstring& path)
{
    LARGE_INTEGER size;
    size.QuadPart = -1;
    // FILE_READ_EA: enough to read the size, even while the application runs.
    const UniqueHandle file(CreateFileW(path.c_str(), FILE_READ_EA, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    if (file)
        GetFileSizeEx(file.Get(), &size);
    return size.QuadPart;
}
