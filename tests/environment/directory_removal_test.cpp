// Emptying a directory tree. Run by removal_fixture.sh, which prepares what Wine cannot make
// from the inside: C:\removal-fixture\tree\B\link, a Unix symbolic link (listed as a reparse
// point) to C:\removal-fixture\outside, and B\file-link, one (listed as a plain file) to
// outside\kept.txt; and drive R:, whose root is a scratch folder holding
// folder\kept.txt, so that a removal reaching for "the root of the current drive" finds only
// that.
#include <gtest/gtest.h>

#include "environment/directory_removal.h"
#include "support/test_support.h"

using namespace test_support;

namespace {

const std::wstring kFixture = L"C:\\removal-fixture";

// The first call of the process fixes the one directory that is emptied but kept. Every test
// goes through here first, so that call is always this one, on A with its trailing backslash
// (still missing then, so nothing happens), as the launcher's own first call looks.
const std::wstring& ProtectedA()
{
    static const std::wstring a = [] {
        const std::wstring path = kFixture + L"\\A\\";
        DeleteDirectoryTree(path);
        return path;
    }();
    return a;
}

void MakeFile(const std::wstring& path)
{
    ASSERT_TRUE(WriteFileBytes(path, "data")) << "cannot write " << path;
}

void MakeFolders(const std::wstring& path)
{
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
}

bool IsEmptyFolder(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool empty = true;
    do {
        const std::wstring name = found.cFileName;
        empty = empty && (name == L"." || name == L"..");
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return empty;
}

// A with files at every level and the folders B and B\C.
void MakeTreeA()
{
    const std::wstring a = kFixture + L"\\A";
    MakeFolders(a + L"\\B\\C");
    MakeFile(a + L"\\top.txt");
    MakeFile(a + L"\\B\\middle.txt");
    MakeFile(a + L"\\B\\C\\bottom.txt");
}

}  // namespace

TEST(DeleteDirectoryTree, EmptiesTheFirstDirectoryAsSpelledAndRemovesAnyOther)
{
    const std::wstring& a = ProtectedA();
    MakeTreeA();
    DeleteDirectoryTree(a);
    EXPECT_TRUE(IsEmptyFolder(kFixture + L"\\A"));

    // Only the exact spelling of the first call is protected.
    MakeTreeA();
    DeleteDirectoryTree(kFixture + L"\\A");
    EXPECT_FALSE(FileExists(kFixture + L"\\A"));

    const std::wstring x = kFixture + L"\\X";
    MakeFolders(x + L"\\Y");
    MakeFile(x + L"\\Y\\file.txt");
    DeleteDirectoryTree(x + L"\\");
    EXPECT_FALSE(FileExists(x));
}

TEST(DeleteDirectoryTree, KeepsAReadOnlyFileAndTheFoldersAboveIt)
{
    const std::wstring& a = ProtectedA();
    MakeTreeA();
    const std::wstring readOnly = kFixture + L"\\A\\B\\read-only.txt";
    MakeFile(readOnly);
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);

    DeleteDirectoryTree(a);
    EXPECT_TRUE(FileExists(readOnly));
    EXPECT_FALSE(FileExists(kFixture + L"\\A\\top.txt"));
    EXPECT_FALSE(FileExists(kFixture + L"\\A\\B\\middle.txt"));
    EXPECT_FALSE(FileExists(kFixture + L"\\A\\B\\C"));

    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveTree(kFixture + L"\\A\\B");
}

TEST(DeleteDirectoryTree, NeverReachesThroughALinkOutOfItsTree)
{
    ProtectedA();
    const std::wstring tree = kFixture + L"\\tree";
    const DWORD link = GetFileAttributesW((tree + L"\\B\\link").c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, link) << "run through removal_fixture.sh";
    ASSERT_TRUE(link & FILE_ATTRIBUTE_REPARSE_POINT);
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((tree + L"\\B\\file-link").c_str()));
    MakeFile(tree + L"\\B\\beside-the-link.txt");
    MakeFile(tree + L"\\top.txt");

    DeleteDirectoryTree(tree);
    EXPECT_FALSE(FileExists(tree + L"\\B\\beside-the-link.txt"));
    EXPECT_FALSE(FileExists(tree + L"\\top.txt"));
    EXPECT_EQ("keep", ReadFileBytes(kFixture + L"\\outside\\kept.txt"));
    EXPECT_EQ("keep", ReadFileBytes(kFixture + L"\\outside\\inner\\kept.txt"));
    // Known only by its final path, the file link can't be removed without its target: it stays.
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((tree + L"\\B\\file-link").c_str()));
    // So does one whose final path is longer than any fixed buffer (the wrapper checks its target).
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((tree + L"\\B\\deep-file-link").c_str()));
}

TEST(DeleteDirectoryTree, RefusesAnEmptyPathAndALoneBackslash)
{
    ProtectedA();
    ASSERT_EQ("keep", ReadFileBytes(L"R:\\folder\\kept.txt")) << "run through removal_fixture.sh";
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    // Both would name the root of the current drive: let that be the scratch drive.
    ASSERT_TRUE(SetCurrentDirectoryW(L"R:\\folder"));
    DeleteDirectoryTree(L"");
    DeleteDirectoryTree(L"\\");
    SetCurrentDirectoryW(previous);
    EXPECT_EQ("keep", ReadFileBytes(L"R:\\folder\\kept.txt"));
}

TEST(DeleteDirectoryTree, TreatsOnlyNameSurrogatesAsLinks)
{
    constexpr DWORD kDirectory = FILE_ATTRIBUTE_DIRECTORY;
    constexpr DWORD kReparse = FILE_ATTRIBUTE_REPARSE_POINT;
    constexpr DWORD kCloudPlaceholder = 0x9000001A;  // IO_REPARSE_TAG_CLOUD_1: not a surrogate
    const struct {
        const char* entry;
        DWORD attributes;
        DWORD tag;
        bool tagKnown;
        bool elsewhere;
        EntryTreatment treatment;
    } cases[] = {
        {"file", FILE_ATTRIBUTE_ARCHIVE, 0, false, false, EntryTreatment::DeleteFile},
        {"folder", kDirectory, 0, false, false, EntryTreatment::EmptyAndRemove},
        {"junction", kDirectory | kReparse, IO_REPARSE_TAG_MOUNT_POINT, true, true,
         EntryTreatment::RemoveLink},
        {"folder link", kDirectory | kReparse, IO_REPARSE_TAG_SYMLINK, true, true,
         EntryTreatment::RemoveLink},
        {"file link", kReparse, IO_REPARSE_TAG_SYMLINK, true, true, EntryTreatment::RemoveLink},
        {"unreadable tag", kDirectory | kReparse, 0, false, true, EntryTreatment::RemoveLink},
        {"placeholder folder", kDirectory | kReparse, kCloudPlaceholder, true, false,
         EntryTreatment::EmptyAndRemove},
        {"placeholder file", kReparse, kCloudPlaceholder, true, false,
         EntryTreatment::DeleteFile},
        {"deduplicated file", kReparse, IO_REPARSE_TAG_DEDUP, true, false,
         EntryTreatment::DeleteFile},
        {"file resolving elsewhere", FILE_ATTRIBUTE_ARCHIVE, 0, false, true,
         EntryTreatment::Leave},
        {"folder resolving elsewhere", kDirectory, 0, false, true, EntryTreatment::Leave},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        EXPECT_EQ(c.treatment, ClassifyEntry(c.attributes, c.tag, c.tagKnown, c.elsewhere));
    }
}

TEST(ClearLinkAt, RemovesOnlyTheNameOfALinkAndRefusesWhatItCannotTellApart)
{
    constexpr DWORD kFile = FILE_ATTRIBUTE_ARCHIVE;
    const struct {
        const char* entry;
        DWORD attributes;
        DWORD links;
        bool elsewhere;
        NameAtFile action;
    } cases[] = {
        {"nothing", INVALID_FILE_ATTRIBUTES, 0, false, NameAtFile::Plain},
        {"own file", kFile, 1, false, NameAtFile::Plain},
        {"read-only own file", kFile | FILE_ATTRIBUTE_READONLY, 1, false, NameAtFile::Plain},
        {"file link", kFile | FILE_ATTRIBUTE_REPARSE_POINT, 1, true, NameAtFile::RemoveLink},
        {"junction", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 1, true,
         NameAtFile::RemoveLink},
        {"hard link", kFile, 2, false, NameAtFile::RemoveLink},
        {"Wine's file link", kFile, 1, true, NameAtFile::Refuse},
        {"folder", FILE_ATTRIBUTE_DIRECTORY, 1, false, NameAtFile::Refuse},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        EXPECT_EQ(c.action, ClassifyNameAtFile(c.attributes, c.links, c.elsewhere));
    }

    // Wine's stand-in for a file link, end to end on the file system: refused, target intact.
    const std::wstring part = kFixture + L"\\Setup.exe.part";
    const std::wstring target = kFixture + L"\\outside\\user.dat";
    EXPECT_TRUE(ResolvesElsewhere(part));
    EXPECT_FALSE(ClearLinkAt(part));
    EXPECT_EQ("user's own", ReadFileBytes(target));
}
