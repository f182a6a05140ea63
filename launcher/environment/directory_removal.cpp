#include "environment/directory_removal.h"

#include <windows.h>

namespace {

std::wstring& ProtectedRoot()
{
    static std::wstring root;
    return root;
}

bool g_rootRecorded = false;

// A junction or symbolic link: removing the link itself is all that may happen to it.
void RemoveLink(const std::wstring& path, bool isDirectory)
{
    if (isDirectory && RemoveDirectoryW(path.c_str()))
        return;
    DeleteFileW(path.c_str());
}

}  // namespace

void DeleteDirectoryTree(const std::wstring& directory)
{
    if (!g_rootRecorded) {
        g_rootRecorded = true;
        ProtectedRoot() = directory;
    }

    std::wstring base = directory;
    if (!base.empty() && base.back() == L'\\')
        base.pop_back();
    // An empty base would name the root of the current drive.
    if (base.empty())
        return;

    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((base + L"\\*.*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = base + L'\\' + name;
            const bool isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                RemoveLink(path, isDirectory);
            else if (isDirectory)
                DeleteDirectoryTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }

    if (directory != ProtectedRoot())
        RemoveDirectoryW(directory.c_str());
}
