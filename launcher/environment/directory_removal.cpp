#include "environment/directory_removal.h"

#include <winioctl.h>

#include <memory>
#include <vector>

#include "base/unique_resource.h"
#include "environment/system_functions.h"
#include "log/log_file.h"

namespace {

std::wstring& ProtectedRoot()
{
    static std::wstring root;
    return root;
}

bool g_rootRecorded = false;

using GetFinalPathNameByHandleWFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// Vista and later; null on XP.
GetFinalPathNameByHandleWFn FinalPathFunction()
{
    static const auto function =
        FindKernel32Function<GetFinalPathNameByHandleWFn>("GetFinalPathNameByHandleW");
    return function;
}

// Opens the entry itself, not what a reparse point in its place leads to.
UniqueHandle OpenEntry(const std::wstring& path)
{
    return UniqueHandle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                    nullptr));
}

// Where the system says the entry really is; empty when that cannot be found out. The buffer
// is sized from the length the call asks for: a link's target may lie deeper than any fixed
// buffer reaches.
std::wstring FinalPath(const std::wstring& path)
{
    const GetFinalPathNameByHandleWFn function = FinalPathFunction();
    if (!function)
        return std::wstring();
    const UniqueHandle entry = OpenEntry(path);
    if (!entry)
        return std::wstring();
    std::wstring buffer(MAX_PATH, L'\0');
    // A second try with the size asked for; a third only if the path grew meanwhile.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD length = function(entry.Get(), buffer.data(),
                                      static_cast<DWORD>(buffer.size()), 0);
        if (length == 0)
            return std::wstring();
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.assign(length, L'\0');
    }
    return std::wstring();
}

// The tag from the search record, or asked of the file system where the record has none
// (FSCTL_GET_REPARSE_POINT exists since Windows 2000).
bool ReadReparseTag(const std::wstring& path, DWORD listedTag, DWORD& tag)
{
    if (listedTag != 0) {
        tag = listedTag;
        return true;
    }
    const UniqueHandle entry = OpenEntry(path);
    if (!entry)
        return false;
    auto buffer = std::make_unique<unsigned char[]>(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD returned = 0;
    if (!DeviceIoControl(entry.Get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.get(),
                         MAXIMUM_REPARSE_DATA_BUFFER_SIZE, &returned, nullptr) ||
        returned < sizeof(DWORD))
        return false;
    tag = *reinterpret_cast<const DWORD*>(buffer.get());
    return true;
}

void RemoveLink(const std::wstring& path, bool isDirectory)
{
    if (isDirectory && RemoveDirectoryW(path.c_str()))
        return;
    DeleteFileW(path.c_str());
}

std::wstring WithoutTrailingBackslash(const std::wstring& directory)
{
    std::wstring base = directory;
    if (!base.empty() && base.back() == L'\\')
        base.pop_back();
    return base;
}

// Clears the read-only attribute of an entry known to be no link, so that it can go; true when
// it was set. Folders too: Windows refuses to remove a read-only folder, and Wine maps the
// attribute to a folder whose entries cannot be deleted.
bool ClearReadOnly(const std::wstring& path, DWORD attributes)
{
    if (!(attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    return SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != FALSE;
}

// Deletes one file; with `clearReadOnly` a read-only one too, its attribute put back when the
// file stays after all (held open, say).
void DeleteOneFile(const std::wstring& path, DWORD attributes, bool clearReadOnly)
{
    const bool cleared = clearReadOnly && ClearReadOnly(path, attributes);
    if (!DeleteFileW(path.c_str()) && cleared)
        SetFileAttributesW(path.c_str(), attributes);
}

void EmptyFolder(const std::wstring& base, bool clearReadOnly,
                 const std::vector<std::wstring>* keep = nullptr);

bool IsKept(const std::vector<std::wstring>* keep, const std::wstring& name)
{
    if (!keep)
        return false;
    for (const std::wstring& kept : *keep) {
        if (lstrcmpiW(kept.c_str(), name.c_str()) == 0)
            return true;
    }
    return false;
}

void RemoveEntry(const std::wstring& path, DWORD attributes, EntryTreatment treatment,
                 bool clearReadOnly)
{
    switch (treatment) {
    case EntryTreatment::RemoveLink:
        RemoveLink(path, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
        break;
    case EntryTreatment::EmptyAndRemove:
        if (clearReadOnly)
            ClearReadOnly(path, attributes);
        EmptyFolder(path, clearReadOnly);
        if (path != ProtectedRoot())
            RemoveDirectoryW(path.c_str());
        break;
    case EntryTreatment::DeleteFile:
        DeleteOneFile(path, attributes, clearReadOnly);
        break;
    case EntryTreatment::Leave:
        break;
    }
}

// Removes what `base` holds, depth first, as far as possible; `base` itself stays, and so do
// the entries of its own named in `keep` (each removal of another is logged).
void EmptyFolder(const std::wstring& base, bool clearReadOnly,
                 const std::vector<std::wstring>* keep)
{
    // Each entry must resolve to this folder's own final path and its name; Wine shows a Unix
    // link to a file as a plain file, and only the final path gives it away. Where the system
    // can tell final paths (Vista and later), an entry whose final path can't be read is left:
    // it might be such a link.
    const bool finalPathsKnowable = FinalPathFunction() != nullptr;
    const std::wstring finalBase = FinalPath(base);

    WIN32_FIND_DATAW found;
    const UniqueFindHandle search(FindFirstFileW((base + L"\\*.*").c_str(), &found));
    if (search) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L".." || IsKept(keep, name))
                continue;
            const std::wstring path = base + L'\\' + name;
            const DWORD attributes = found.dwFileAttributes;
            DWORD tag = 0;
            bool tagKnown = false;
            bool resolvesElsewhere = false;
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                // dwReserved0 holds the tag when the entry is a reparse point.
                tagKnown = ReadReparseTag(path, found.dwReserved0, tag);
            }
            if (finalPathsKnowable) {
                const std::wstring finalEntry =
                    finalBase.empty() ? std::wstring() : FinalPath(path);
                resolvesElsewhere = finalEntry.empty() ||
                    lstrcmpiW(finalEntry.c_str(), (finalBase + L'\\' + name).c_str()) != 0;
            }
            if (keep)
                WriteLog(GetLogFile(), L"removed from download folder: %s", name.c_str());
            RemoveEntry(path, attributes, ClassifyEntry(attributes, tag, tagKnown, resolvesElsewhere),
                        clearReadOnly);
        } while (FindNextFileW(search.Get(), &found));
    }
}

}  // namespace

bool ResolvesElsewhere(const std::wstring& path)
{
    if (!FinalPathFunction())
        return false;
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return true;
    const std::wstring parent = FinalPath(path.substr(0, slash));
    const std::wstring own = FinalPath(path);
    return parent.empty() || own.empty() ||
           lstrcmpiW(own.c_str(), (parent + path.substr(slash)).c_str()) != 0;
}

NameAtFile ClassifyNameAtFile(DWORD attributes, DWORD links, bool resolvesElsewhere)
{
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return NameAtFile::Plain;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return NameAtFile::RemoveLink;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) || resolvesElsewhere)
        return NameAtFile::Refuse;
    return links > 1 ? NameAtFile::RemoveLink : NameAtFile::Plain;
}

bool ClearLinkAt(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    BY_HANDLE_FILE_INFORMATION info = {};
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        const UniqueHandle entry = OpenEntry(path);
        if (!entry || !GetFileInformationByHandle(entry.Get(), &info))
            info.nNumberOfLinks = 1;
    }
    const bool plain = !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    switch (ClassifyNameAtFile(attributes, info.nNumberOfLinks,
                               attributes != INVALID_FILE_ATTRIBUTES && plain &&
                                   ResolvesElsewhere(path))) {
    case NameAtFile::Plain:
        return true;
    case NameAtFile::RemoveLink:
        // Both calls remove a link itself, never what it points to.
        RemoveLink(path, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            WriteLog(GetLogFile(), L"link removed: %s", path.c_str());
            return true;
        }
        break;
    case NameAtFile::Refuse:
        break;
    }
    WriteLog(GetLogFile(), L"link or folder in the way, not written: %s", path.c_str());
    return false;
}

EntryTreatment ClassifyEntry(DWORD attributes, DWORD reparseTag, bool tagKnown,
                             bool resolvesElsewhere)
{
    const bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A tag that can't be read may be a link: it is never followed.
        if (!tagKnown || IsReparseTagNameSurrogate(reparseTag))
            return EntryTreatment::RemoveLink;
        // Other reparse points (a cloud placeholder, a deduplicated file) are the entry itself.
    }
    if (resolvesElsewhere)
        return EntryTreatment::Leave;
    return isDirectory ? EntryTreatment::EmptyAndRemove : EntryTreatment::DeleteFile;
}

void DeleteDirectoryTree(const std::wstring& directory)
{
    if (!g_rootRecorded) {
        g_rootRecorded = true;
        ProtectedRoot() = directory;
    }
    const std::wstring base = WithoutTrailingBackslash(directory);
    // An empty base would name the root of the current drive.
    if (base.empty())
        return;
    EmptyFolder(base, false);
    if (directory != ProtectedRoot())
        RemoveDirectoryW(directory.c_str());
}

bool RemoveDirectoryTree(const std::wstring& directory)
{
    const std::wstring base = WithoutTrailingBackslash(directory);
    if (base.empty())
        return false;
    const DWORD attributes = GetFileAttributesW(base.c_str());
    // The tree itself must be a plain folder: a link in its place is never followed.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    if (attributes != INVALID_FILE_ATTRIBUTES)
        ClearReadOnly(base, attributes);
    EmptyFolder(base, true);
    RemoveDirectoryW(base.c_str());
    return GetFileAttributesW(base.c_str()) == INVALID_FILE_ATTRIBUTES;
}

void ClearFolderExcept(const std::wstring& directory, const std::vector<std::wstring>& keep)
{
    const std::wstring base = WithoutTrailingBackslash(directory);
    if (!base.empty())
        EmptyFolder(base, true, &keep);
}
