// The install step in this prefix's real application directory, with the stand-in application
// and the stand-in installer (fixtures\setup-2.6\Setup.exe) at the setup path. The step runs on
// a worker thread set up as the launcher's; this thread owns the window that the prompt belongs
// to and keeps pumping its messages, since the prompt disables it from the other thread.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <functional>

#include "base/brand.h"
#include "environment/application_backup.h"
#include "environment/locations.h"
#include "environment/managed_application.h"
#include "environment/processes.h"
#include "log/log_file.h"
#include "presentation/ui_language.h"
#include "shell/install_step.h"
#include "shell/launcher_status.h"
#include "support/test_support.h"

using namespace test_support;

namespace {

constexpr DWORD kStepMs = 60000;
constexpr DWORD kPromptMs = 30000;

std::wstring SetupPath()
{
    return GetDownloadDirectory() + kSetupFileName;
}

std::wstring ApplicationFile()
{
    return GetApplicationDirectory() + kApplicationExeName;
}

std::wstring TempFile(const wchar_t* name)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + name;
}

std::string Utf8(const std::wstring& text)
{
    std::string out(text.size() * 3, '\0');
    out.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(),
                                                       static_cast<int>(text.size()), out.data(),
                                                       static_cast<int>(out.size()), nullptr,
                                                       nullptr)));
    return out;
}

void EndApplications()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (std::wstring(kApplicationExeName) != entry.szExeFile)
            continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process) {
            TerminateProcess(process, 99);
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
}

// Build 2.5 installed with a stray file and folder beside it, and the 2.6 installer downloaded.
void PrepareMachine()
{
    // No splash window in this process: the install step must not wait for one.
    AnnounceSplashWindow(nullptr);
    EndApplications();
    RemoveTree(GetApplicationDirectory());
    RemoveTree(GetApplicationBackupDirectory());
    CreateDirectoryW(GetApplicationDirectory().c_str(), nullptr);
    ASSERT_TRUE(CopyFileTo(BuildPath(L"fixtures\\app-2.5\\" LAUNCHER_BRAND_APP_EXE), ApplicationFile()));
    ASSERT_TRUE(WriteFileBytes(GetApplicationDirectory() + L"stray.txt", "stray"));
    CreateDirectoryW((GetApplicationDirectory() + L"maps").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(GetApplicationDirectory() + L"maps\\region.dat", "map"));
    ASSERT_TRUE(CopyFileTo(BuildPath(L"fixtures\\setup-2.6\\Setup.exe"), SetupPath()));
}

DWORD WINAPI WorkerLikeTheLaunchers(void*)
{
    ApplyUiLanguage(false);
    HeldInstaller held;
    InstallUpdate(SetupPath(), BuildVersion{2, 6}, held);
    return 0;
}

// Pumps this thread's messages until `condition` holds or the time is up.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    return true;
}

BOOL CALLBACK MatchPrompt(HWND window, LPARAM found)
{
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring(name) != L"#32770" || !IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

class Worker {
public:
    Worker() : m_thread(CreateThread(nullptr, 0, WorkerLikeTheLaunchers, nullptr, 0, &m_id)) {}
    // A step still running here is stuck; the process ends it on exit.
    ~Worker() { CloseHandle(m_thread); }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    bool Ended() const { return WaitForSingleObject(m_thread, 0) == WAIT_OBJECT_0; }

    // The worker's visible message box, if one is up.
    HWND Prompt() const
    {
        HWND found = nullptr;
        EnumThreadWindows(m_id, MatchPrompt, reinterpret_cast<LPARAM>(&found));
        return found;
    }

private:
    DWORD m_id = 0;
    HANDLE m_thread;
};

std::wstring TextOf(HWND window)
{
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

void Press(HWND box, int button)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

}  // namespace

TEST(InstallUpdate, WithTheApplicationClosedReplacesItThroughTheInstaller)
{
    PrepareMachine();
    const size_t starts = ReadFileBytes(TempFile(L"stand-in-app-starts.log")).size();
    const size_t offset = OwnLogSize();

    Worker worker;
    ASSERT_TRUE(PumpUntil([&] { return worker.Ended(); }, kStepMs));

    const std::vector<std::string> lines = OwnLogLinesSince(offset);
    const std::string backup = Utf8(GetApplicationBackupDirectory());
    ASSERT_EQ(7u, lines.size());
    EXPECT_EQ("Get OS version information success", lines[0]);
    EXPECT_EQ("check whether application is running", lines[1]);
    EXPECT_EQ("delete application dir", lines[2]);
    EXPECT_EQ("application dir set aside: " + backup, lines[3]);
    EXPECT_EQ("run setup: " + Utf8(SetupPath()), lines[4]);
    const std::string waitLine = "Wait Application run: retrun code : ";
    ASSERT_EQ(waitLine, lines[5].substr(0, waitLine.size()));
    EXPECT_GT(std::stoi(lines[5].substr(waitLine.size())), 31);
    EXPECT_EQ("application installed, backup removed: " + backup, lines[6]);
    EXPECT_FALSE(FileExists(GetApplicationBackupDirectory()));

    EXPECT_NE(0u, FindProcessByName(kApplicationExeName));
    uint16_t major = 0, minor = 0;
    EXPECT_TRUE(GetFileVersion(ApplicationFile().c_str(), major, minor));
    EXPECT_EQ(2, major);
    EXPECT_EQ(6, minor);
    EXPECT_FALSE(FileExists(GetApplicationDirectory() + L"stray.txt"));
    EXPECT_FALSE(FileExists(GetApplicationDirectory() + L"maps"));
    EXPECT_TRUE(WaitFor(
        [&] {
            const std::string log = ReadFileBytes(TempFile(L"stand-in-app-starts.log"));
            return log.find("started 2.6 ", starts) == starts;
        },
        10000));
    EndApplications();
}

TEST(InstallUpdate, WithTheApplicationRunningAsksAgainOnRetryAndStopsOnCancel)
{
    PrepareMachine();
    ChildProcess app(L"\"" + ApplicationFile() + L"\"");
    ASSERT_TRUE(WaitFor([&] { return FindProcessByName(kApplicationExeName) == app.Id(); }, 20000));
    const size_t setupRuns = ReadFileBytes(TempFile(L"stand-in-setup.log")).size();

    HWND launcherWindow = CreateWindowExW(0, L"STATIC", L"launcher", WS_POPUP | WS_VISIBLE, 0, 0,
                                          350, 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, launcherWindow);
    AnnounceSplashWindow(launcherWindow);
    const size_t offset = OwnLogSize();
    Worker worker;

    HWND box = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (box = worker.Prompt()) != nullptr; }, kPromptMs));
    EXPECT_EQ(launcherWindow, GetWindow(box, GW_OWNER));
    EXPECT_FALSE(IsWindowEnabled(launcherWindow));
    EXPECT_EQ(L"" LAUNCHER_BRAND_PRODUCT_ZH_TW L"正在執行", TextOf(box));
    EXPECT_EQ(L"請先關閉 " LAUNCHER_BRAND_PRODUCT_ZH_TW, TextOf(GetDlgItem(box, 0xFFFF)));
    EXPECT_NE(nullptr, GetDlgItem(box, IDRETRY));
    EXPECT_NE(nullptr, GetDlgItem(box, IDCANCEL));
    EXPECT_EQ(nullptr, GetDlgItem(box, IDOK));

    Press(box, IDRETRY);
    HWND again = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(box) && (again = worker.Prompt()) != nullptr; },
                          kPromptMs));
    EXPECT_EQ(L"" LAUNCHER_BRAND_PRODUCT_ZH_TW L"正在執行", TextOf(again));

    Press(again, IDCANCEL);
    ASSERT_TRUE(PumpUntil([&] { return worker.Ended(); }, kPromptMs));
    EXPECT_TRUE(IsWindowEnabled(launcherWindow));
    EXPECT_EQ((std::vector<std::string>{"Get OS version information success",
                                        "check whether application is running"}),
              OwnLogLinesSince(offset));
    EXPECT_EQ(app.Id(), FindProcessByName(kApplicationExeName));
    EXPECT_TRUE(FileExists(GetApplicationDirectory() + L"stray.txt"));
    EXPECT_TRUE(FileExists(GetApplicationDirectory() + L"maps\\region.dat"));
    EXPECT_EQ(setupRuns, ReadFileBytes(TempFile(L"stand-in-setup.log")).size());

    AnnounceSplashWindow(nullptr);
    DestroyWindow(launcherWindow);
}

TEST(InstallUpdate, DecidesWhatWineCannotShow)
{
    constexpr DWORD kMinute = 60000;
    // A person at the installer's wizard is waited for; what it leaves gets 5 minutes.
    EXPECT_EQ(WaitEnd::None, DecideWaitEnd(true, true, 0, 0));
    EXPECT_EQ(WaitEnd::None, DecideWaitEnd(false, true, 5 * kMinute - 1000, 0));
    EXPECT_EQ(WaitEnd::Leftovers, DecideWaitEnd(false, true, 5 * kMinute, 0));
    EXPECT_EQ(WaitEnd::None, DecideWaitEnd(false, false, 5 * kMinute, kMinute - 1000));
    EXPECT_EQ(WaitEnd::Grace, DecideWaitEnd(false, false, kMinute, kMinute));

    // A scanner or an open file refuses the rename for a moment: tried again, then the
    // installer runs over the folder. Nothing is ever emptied in place.
    EXPECT_EQ(SetAsideRoad::SetAside, DecideAfterSetAside(true, 0, 0));
    for (const DWORD error : {DWORD{ERROR_SHARING_VIOLATION}, DWORD{ERROR_ACCESS_DENIED}}) {
        EXPECT_EQ(SetAsideRoad::Retry, DecideAfterSetAside(false, error, 0));
        EXPECT_EQ(SetAsideRoad::Retry, DecideAfterSetAside(false, error, 3));
        EXPECT_EQ(SetAsideRoad::InstallOver, DecideAfterSetAside(false, error, 4));
    }
    EXPECT_EQ(SetAsideRoad::InstallOver, DecideAfterSetAside(false, ERROR_ALREADY_EXISTS, 0));
    EXPECT_EQ(SetAsideRoad::NothingToMove, DecideAfterSetAside(false, ERROR_FILE_NOT_FOUND, 0));

    EXPECT_TRUE(IsInstallLockTaken(true, WAIT_OBJECT_0));
    EXPECT_TRUE(IsInstallLockTaken(true, WAIT_ABANDONED));  // its launcher ended mid-install
    EXPECT_FALSE(IsInstallLockTaken(true, WAIT_TIMEOUT));   // another launcher installs
    EXPECT_FALSE(IsInstallLockTaken(false, WAIT_FAILED));   // another user's: access denied
}

TEST(InstallUpdate, KeepsOnlyTheOfferedBuildAndNeverTouchesANameItDidNotMake)
{
    const BuildVersion offered{2, 6};
    const struct {
        std::optional<BuildVersion> folder;
        bool afterInstall, counts;
    } builds[] = {
        {BuildVersion{2, 6}, true, true},    {BuildVersion{2, 10}, true, true},
        {BuildVersion{3, 0}, true, true},    {BuildVersion{2, 5}, true, false},
        {std::nullopt, true, false},  // missing, cut short or unreadable
        // At start the folder must be newer than the backup's build to win over it.
        {BuildVersion{2, 6}, false, false},  {BuildVersion{2, 7}, false, true},
        {std::nullopt, false, false},
    };
    for (const auto& b : builds)
        EXPECT_EQ(b.counts, FolderBuildCounts(b.folder, offered, !b.afterInstall))
            << (b.folder ? b.folder->minor : -1) << (b.afterInstall ? " after" : " at start");
    EXPECT_EQ(BackupAction::Restore, DecideForBackup(true, false));
    EXPECT_EQ(BackupAction::RemoveBackup, DecideForBackup(true, true));
    EXPECT_EQ(BackupAction::RemoveBackup, DecideForBackup(false, false));  // nothing to put back

    constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
    constexpr DWORD kLink = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_EQ(BackupName::Free, ClassifyBackupName(INVALID_FILE_ATTRIBUTES, false, false));
    EXPECT_EQ(BackupName::Ours, ClassifyBackupName(kFolder, false, true));
    EXPECT_EQ(BackupName::Ours, ClassifyBackupName(kFolder | FILE_ATTRIBUTE_READONLY, false, true));
    EXPECT_EQ(BackupName::Foreign, ClassifyBackupName(kFolder, false, false));  // the user's
    EXPECT_EQ(BackupName::Foreign, ClassifyBackupName(kLink, false, true));     // a junction
    EXPECT_EQ(BackupName::Foreign, ClassifyBackupName(kFolder, true, true));    // Wine's link
    EXPECT_EQ(BackupName::Foreign, ClassifyBackupName(FILE_ATTRIBUTE_ARCHIVE, false, true));
}

TEST(InstallUpdate, ReadsABuildOnlyFromAWholeProgramImage)
{
    const std::string image = ReadFileBytes(BuildPath(L"fixtures\\app-2.6\\" LAUNCHER_BRAND_APP_EXE));
    ASSERT_GT(image.size(), 8192u);
    const auto* bytes = reinterpret_cast<const unsigned char*>(image.data());
    const auto size = static_cast<int64_t>(image.size());
    EXPECT_TRUE(IsImageComplete(bytes, image.size(), size));
    EXPECT_FALSE(IsImageComplete(bytes, 4096, 4096));  // an installer cut short
    EXPECT_FALSE(IsImageComplete(bytes, image.size(), size - 1));
    EXPECT_FALSE(IsImageComplete(reinterpret_cast<const unsigned char*>("MZ garbage"), 10, 10));

    const std::wstring path = TempFile(L"cut-short.exe");
    ASSERT_TRUE(WriteFileBytes(path, image.substr(0, 4096)));
    EXPECT_FALSE(ReadBuild(path).has_value());
    ASSERT_TRUE(WriteFileBytes(path, image));
    EXPECT_EQ((BuildVersion{2, 6}), ReadBuild(path));
    DeleteFileW(path.c_str());
    EXPECT_FALSE(ReadBuild(path).has_value());
}
