// Whole runs of the real launcher.exe that end by themselves: the update service is unreachable
// (nothing listens on the proxy port), so each run checks, fails, starts the application when
// it should, and exits.
#include <gtest/gtest.h>

#include "shell/launcher_process.h"

#include <tlhelp32.h>

using namespace test_support;
using namespace launcher_process;

namespace {

constexpr DWORD kRunLimitMs = 60000;

std::string UpdateUrl(int major, int minor)
{
    return LAUNCHER_UPDATE_ORIGIN LAUNCHER_BRAND_CHECK_PATH "?SKU=" LAUNCHER_BRAND_SKU "&Major=" +
           std::to_string(major) + "&Minor=" + std::to_string(minor);
}

// The lines of a run whose request fails three times, in order and without their stamps;
// "*" stands for the error code. No local version line when `localVersion` is empty.
std::vector<std::string> ExpectedUnreachableRun(const std::string& localVersion, int major,
                                                int minor)
{
    std::vector<std::string> lines = {
        "Get OS version information success",
        // Wine reports Windows 7 by default and ignores the thread UI language.
        "Language set through the thread UI language and the thread locale on Windows 6.1",
        "System language: Chinese(Taiwan)",
        "Get OS version information success",
        "version: 0.01",
        "start to check update",
        LAUNCHER_BRAND_UPDATER " path: " + Narrow(ApplicationPath()),
    };
    if (!localVersion.empty())
        lines.push_back("local version: " + localVersion);
    lines.push_back(UpdateUrl(major, minor));
    for (int attempt = 0; attempt < 3; ++attempt)
        lines.push_back("InternetOpenUrl error, code: *");
    lines.push_back("request check update error");
    lines.push_back("exit");
    lines.push_back("");
    return lines;
}

void ExpectLogLines(const std::vector<std::string>& expected,
                    const std::vector<std::string>& actual)
{
    ASSERT_EQ(expected.size(), actual.size()) << "lines written: " << testing::PrintToString(actual);
    for (size_t i = 0; i < expected.size(); ++i) {
        const std::string& line = actual[i];
        if (expected[i].empty()) {
            EXPECT_EQ("", line) << "line " << i;
            continue;
        }
        EXPECT_TRUE(HasStamp(line)) << line;
        const std::string text = StripStamp(line);
        const size_t wildcard = expected[i].find('*');
        if (wildcard == std::string::npos) {
            EXPECT_EQ(expected[i], text) << "line " << i;
        } else {
            const std::string prefix = expected[i].substr(0, wildcard);
            EXPECT_EQ(prefix, text.substr(0, prefix.size())) << "line " << i;
            const std::string number = text.substr(std::min(prefix.size(), text.size()));
            EXPECT_TRUE(!number.empty() &&
                        number.find_first_not_of("0123456789") == std::string::npos)
                << "line " << i << ": " << text;
        }
    }
}

struct RunResult {
    bool ended = false;
    DWORD exitCode = 99;
    std::vector<std::string> lines;
};

RunResult RunWithServiceUnreachable()
{
    RunResult result;
    const int64_t logStart = LogSize();
    ChildProcess launcher(LauncherCommandLine(), ServiceThrough(UnusedPort()));
    if (!launcher.Started())
        return result;
    result.ended = launcher.Wait(kRunLimitMs, &result.exitCode);
    result.lines = LogLinesSince(logStart);
    return result;
}

int CountApplicationProcesses()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (std::wstring(entry.szExeFile) == L"" LAUNCHER_BRAND_APP_EXE)
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

void EndStandInApplications()
{
    ChildProcess teller(L"\"" + BuildPath(L"fixtures\\tell_stand_in_exit.exe") + L"\" 10000");
    teller.Wait(15000);
}

// The application file in place for one test; removed, and every instance ended, afterwards.
class InstalledApplication {
public:
    explicit InstalledApplication(const std::wstring& version)
    {
        EndStandInApplications();
        CreateDirectoryW((ProgramFiles() + L"\\" LAUNCHER_BRAND_VENDOR_FOLDER).c_str(), nullptr);
        CreateDirectoryW(ApplicationDirectory().c_str(), nullptr);
        m_installed = CopyFileTo(
            BuildPath(L"fixtures\\app-" + version + L"\\" LAUNCHER_BRAND_APP_EXE), ApplicationPath());
    }
    ~InstalledApplication()
    {
        EndStandInApplications();
        DeleteFileW(ApplicationPath().c_str());
    }
    bool Installed() const { return m_installed; }

private:
    bool m_installed = false;
};

}  // namespace

TEST(LauncherRun, WithNothingInstalledLogsEveryStepStartsNothingAndEnds)
{
    EndStandInApplications();
    DeleteFileW(ApplicationPath().c_str());

    const RunResult run = RunWithServiceUnreachable();
    ASSERT_TRUE(run.ended) << "the launcher did not end by itself";
    EXPECT_EQ(0u, run.exitCode);
    ExpectLogLines(ExpectedUnreachableRun("", 0, 0), run.lines);
    EXPECT_EQ(0, CountApplicationProcesses());
}

TEST(LauncherRun, StartsTheInstalledApplicationOnlyWhenItIsNotRunning)
{
    InstalledApplication application(L"2.5");
    ASSERT_TRUE(application.Installed());
    const RunResult first = RunWithServiceUnreachable();
    ASSERT_TRUE(first.ended) << "the launcher did not end by itself";
    EXPECT_EQ(0u, first.exitCode);
    ExpectLogLines(ExpectedUnreachableRun("2.05", 2, 5), first.lines);
    ASSERT_TRUE(WaitFor([] { return CountApplicationProcesses() == 1; }, 15000));

    // The application runs now: a second run leaves it alone. WinExec returns only once the
    // process exists, so a second start would already show.
    const RunResult second = RunWithServiceUnreachable();
    ASSERT_TRUE(second.ended) << "the launcher did not end by itself";
    EXPECT_EQ(0u, second.exitCode);
    ExpectLogLines(ExpectedUnreachableRun("2.05", 2, 5), second.lines);
    EXPECT_EQ(1, CountApplicationProcesses());
}

TEST(LauncherRun, RunsToItsEndWithoutALogWhileAnotherProgramLocksTheFile)
{
    InstalledApplication application(L"2.5");
    ASSERT_TRUE(application.Installed());
    CreateDirectoryW((DocumentsDir() + L"\\" LAUNCHER_BRAND_LOG_FOLDER).c_str(), nullptr);
    HANDLE lock = CreateFileW(LauncherLog().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    LARGE_INTEGER before = {};
    GetFileSizeEx(lock, &before);

    const RunResult run = RunWithServiceUnreachable();
    LARGE_INTEGER after = {};
    GetFileSizeEx(lock, &after);
    CloseHandle(lock);

    ASSERT_TRUE(run.ended) << "the launcher did not end by itself";
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(before.QuadPart, after.QuadPart);
    // The workflow still went all the way: it started the application.
    EXPECT_TRUE(WaitFor([] { return CountApplicationProcesses() == 1; }, 15000));
}
