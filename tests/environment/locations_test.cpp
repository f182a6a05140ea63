// The application and download locations, the file version and the presence of the application.
// Paths are computed once per process, so the folders are removed before any test runs: the
// first call, whichever test makes it, has to create both levels.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "base/brand.h"
#include "environment/locations.h"
#include "environment/managed_application.h"
#include "log/log_file.h"
#include "support/test_support.h"

using namespace test_support;

namespace {

int64_t g_logStart = 0;

std::wstring SystemProgramFiles()
{
    wchar_t folder[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE);
    return folder;
}

std::wstring SystemTemp()
{
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return folder;
}

std::wstring OwnLog()
{
    return DocumentsDir() + L"\\" LAUNCHER_BRAND_LOG_FOLDER L"\\locations_tests.log";
}

bool IsDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring StandIn(const std::wstring& version)
{
    return BuildPath(L"fixtures\\app-" + version + L"\\" + kApplicationExeName);
}

class FreshMachine : public testing::Environment {
public:
    void SetUp() override
    {
        RemoveTree(SystemProgramFiles() + L"\\" + kVendorFolder);
        RemoveTree(SystemTemp() + kVendorFolder);
        const int64_t size = FileSize(OwnLog());
        g_logStart = size < 0 ? 0 : size;
    }
};

const auto* const g_freshMachine = testing::AddGlobalTestEnvironment(new FreshMachine);

}  // namespace

TEST(Locations, BuildsThePathsFromTheSystemFoldersCreatingBothFolderLevels)
{
    const std::wstring programFiles = SystemProgramFiles();
    const std::wstring temp = SystemTemp();
    EXPECT_EQ(programFiles, GetProgramFilesDirectory());

    const std::wstring vendor = kVendorFolder;
    const std::wstring applicationDirectory = programFiles + L"\\" + vendor + L"\\" +
                                              kProductFolder + L"\\";
    EXPECT_EQ(applicationDirectory, GetApplicationDirectory());
    EXPECT_EQ(applicationDirectory + kApplicationExeName, GetApplicationPath());
    EXPECT_TRUE(IsDirectory(programFiles + L"\\" + vendor));
    EXPECT_TRUE(IsDirectory(applicationDirectory));

    // The temporary folder brings its own trailing backslash; none is doubled.
    const std::wstring downloadDirectory = temp + vendor + L"\\" + kProductFolder + L"\\";
    EXPECT_EQ(downloadDirectory, GetDownloadDirectory());
    EXPECT_TRUE(IsDirectory(temp + vendor));
    EXPECT_TRUE(IsDirectory(downloadDirectory));
}

TEST(Locations, BuildsOnlyOnAFolderLookupThatGaveAFullPath)
{
    // A failed Program Files or temporary folder lookup must not turn into "\<vendor>\..." on
    // whatever drive is current: the folder is then empty and the install refused.
    EXPECT_TRUE(IsUsableFolderPath(true, L"C:\\Program Files"));
    EXPECT_TRUE(IsUsableFolderPath(true, L"D:\\"));
    EXPECT_TRUE(IsUsableFolderPath(true, L"\\\\server\\share\\Temp\\"));
    EXPECT_FALSE(IsUsableFolderPath(false, L"C:\\Program Files"));  // the call failed
    EXPECT_FALSE(IsUsableFolderPath(true, L""));
    EXPECT_FALSE(IsUsableFolderPath(true, nullptr));
    EXPECT_FALSE(IsUsableFolderPath(true, L"\\"));
    EXPECT_FALSE(IsUsableFolderPath(true, L"\\Program Files"));
    EXPECT_FALSE(IsUsableFolderPath(true, L"C:Program Files"));
    EXPECT_FALSE(IsUsableFolderPath(true, L"Program Files"));
}

TEST(Locations, LogsTheApplicationPathOnceHoweverOftenItIsAsked)
{
    for (int i = 0; i < 3; ++i)
        GetApplicationPath();
    IsApplicationFilePresent();

    const std::string expected = LAUNCHER_BRAND_UPDATER " path: " +
                                 std::string(GetApplicationPath().begin(), GetApplicationPath().end());
    const std::string bytes = ReadFileBytes(OwnLog());
    ASSERT_GE(static_cast<int64_t>(bytes.size()), g_logStart);
    int count = 0;
    for (const std::string& line : SplitCrLfLines(bytes.substr(static_cast<size_t>(g_logStart)))) {
        if (StripStamp(line).rfind(LAUNCHER_BRAND_UPDATER " path:", 0) == 0) {
            EXPECT_EQ(expected, StripStamp(line));
            ++count;
        }
    }
    EXPECT_EQ(1, count);
}

TEST(FileVersion, GivesTheFirstTwoNumbersOfTheFileVersion)
{
    struct Case {
        std::wstring version;
        uint16_t major;
        uint16_t minor;
    };
    for (const Case& c : {Case{L"2.5", 2, 5}, Case{L"2.6", 2, 6}, Case{L"3.7.12.5", 3, 7},
                          Case{L"2.10", 2, 10}}) {
        uint16_t major = 0;
        uint16_t minor = 0;
        EXPECT_TRUE(GetFileVersion(StandIn(c.version).c_str(), major, minor)) << c.version;
        EXPECT_EQ(c.major, major) << c.version;
        EXPECT_EQ(c.minor, minor) << c.version;
    }
}

TEST(FileVersion, FailsWithoutTouchingTheOutputsWhenThereIsNoVersion)
{
    const std::wstring textFile = BuildPath(L"tests\\locations-no-version.txt");
    ASSERT_TRUE(WriteFileBytes(textFile, "no version here\r\n"));
    const std::wstring missing = BuildPath(L"tests\\no-such-program.exe");
    DeleteFileW(missing.c_str());

    // A program built without a version resource, a plain text file, a missing file.
    for (const std::wstring& path :
         {BuildPath(L"fixtures\\tell_stand_in_exit.exe"), textFile, missing}) {
        uint16_t major = 77;
        uint16_t minor = 88;
        EXPECT_FALSE(GetFileVersion(path.c_str(), major, minor)) << path;
        EXPECT_EQ(77, major) << path;
        EXPECT_EQ(88, minor) << path;
    }
    DeleteFileW(textFile.c_str());
}

TEST(ApplicationFile, CountsOnlyAnExistingFileWithContentAsPresent)
{
    const std::wstring path = GetApplicationPath();
    DeleteFileW(path.c_str());
    EXPECT_FALSE(IsApplicationFilePresent()) << "missing file";

    ASSERT_TRUE(WriteFileBytes(path, ""));
    EXPECT_FALSE(IsApplicationFilePresent()) << "empty file";

    ASSERT_TRUE(CopyFileTo(StandIn(L"2.5"), path));
    EXPECT_TRUE(IsApplicationFilePresent()) << "the stand-in application";

    DeleteFileW(path.c_str());
}
