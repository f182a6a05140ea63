// The log: stamped CR LF lines appended to <Documents>\<log folder>\<executable name>.log.
// Tests that need a fresh process (another executable name, a missing folder, a second
// writer) run copies of this program that execute only LogChild.DISABLED_WritesTaggedLines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "base/brand.h"
#include "log/log_file.h"
#include "support/test_support.h"

using namespace test_support;

namespace {

constexpr wchar_t kReadyName[] = L"Local\\LogTestsWriterReady";
constexpr wchar_t kGoName[] = L"Local\\LogTestsWritersGo";

std::wstring LogFolder()
{
    return DocumentsDir() + L"\\" LAUNCHER_BRAND_LOG_FOLDER;
}

std::wstring LogPathOf(const std::wstring& baseName)
{
    return LogFolder() + L"\\" + baseName + L".log";
}

int64_t SizeOrZero(const std::wstring& path)
{
    const int64_t size = FileSize(path);
    return size < 0 ? 0 : size;
}

std::vector<std::string> LinesSince(const std::wstring& path, int64_t offset)
{
    const std::string bytes = ReadFileBytes(path);
    if (static_cast<int64_t>(bytes.size()) < offset)
        return {};
    return SplitCrLfLines(bytes.substr(static_cast<size_t>(offset)));
}

std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring EnvironmentValue(const wchar_t* name)
{
    wchar_t value[256] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 256);
    return length > 0 && length < 256 ? value : L"";
}

// The padding makes lines long enough that one torn apart by another writer would show.
std::string ChildLine(const std::string& tag, int index)
{
    return "child " + tag + " " + std::to_string(index) + " " + std::string(120, tag[0]);
}

// A copy of this test program under `fileName` in a private folder of the build tree.
std::wstring CopyOfThisProgram(const std::wstring& fileName)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring folder = BuildPath(L"tests\\log-copies");
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring copy = folder + L"\\" + fileName;
    EXPECT_TRUE(CopyFileTo(self, copy)) << "cannot copy the test program to " << copy;
    return copy;
}

std::wstring ChildCommandLine(const std::wstring& program)
{
    return L"\"" + program +
           L"\" --gtest_also_run_disabled_tests --gtest_filter=LogChild.DISABLED_WritesTaggedLines";
}

std::map<std::wstring, std::wstring> ChildEnvironment(const std::string& tag, int count)
{
    return {{L"LOG_CHILD_TAG", Widen(tag)}, {L"LOG_CHILD_COUNT", std::to_wstring(count)}};
}

// Runs one copy to its end; true when it wrote its lines and exited with 0.
bool RunChild(const std::wstring& program, const std::string& tag, int count = 1)
{
    ChildProcess child(ChildCommandLine(program), ChildEnvironment(tag, count));
    DWORD exitCode = 1;
    return child.Started() && child.Wait(60000, &exitCode) && exitCode == 0;
}

// Every line is a whole, stamped line of one of the two writers, and each writer's lines keep
// their order.
void ExpectWholeLinesOf(const std::vector<std::string>& lines, const std::string& firstTag,
                        const std::string& secondTag, int linesEach)
{
    int next[2] = {0, 0};
    for (const std::string& line : lines) {
        ASSERT_TRUE(HasStamp(line)) << line;
        const std::string text = StripStamp(line);
        const int writer = text == ChildLine(firstTag, next[0])    ? 0
                           : text == ChildLine(secondTag, next[1]) ? 1
                                                                   : -1;
        ASSERT_NE(-1, writer) << "torn or out-of-order line: " << text;
        ++next[writer];
    }
    EXPECT_EQ(linesEach, next[0]);
    EXPECT_EQ(linesEach, next[1]);
}

}  // namespace

// Runs only inside the copies started by the tests below.
TEST(LogChild, DISABLED_WritesTaggedLines)
{
    const std::wstring tag = EnvironmentValue(L"LOG_CHILD_TAG");
    const int count = _wtoi(EnvironmentValue(L"LOG_CHILD_COUNT").c_str());
    ASSERT_FALSE(tag.empty());
    ASSERT_TRUE(GetLogFile().IsOpen());
    // When started as one of several writers: report ready, then start with the others.
    if (!EnvironmentValue(L"LOG_CHILD_TOGETHER").empty()) {
        HANDLE ready = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, kReadyName);
        HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, kGoName);
        ASSERT_TRUE(ready && go);
        ReleaseSemaphore(ready, 1, nullptr);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(go, 30000));
        CloseHandle(ready);
        CloseHandle(go);
    }
    const std::wstring padding(120, tag[0]);
    for (int i = 0; i < count; ++i)
        WriteLog(GetLogFile(), L"child %s %d %s", tag.c_str(), i, padding.c_str());
}

TEST(LogFile, WritesFormattedStampedCrLfLinesToTheFileNamedAfterTheProgram)
{
    wchar_t name[MAX_PATH] = {};
    ASSERT_TRUE(GetLogFileName(name));
    EXPECT_STREQ(L"log_tests.log", name);
    wchar_t path[MAX_PATH] = {};
    ASSERT_TRUE(GetLogFilePath(path));
    EXPECT_EQ(LogPathOf(L"log_tests"), path);

    const int64_t start = SizeOrZero(path);
    WriteLog(GetLogFile(), L"path: %s, %d, %I64d, %I64d", L"C:\\Users\\\u5F20\u4E09\\x", -7,
             5000000000LL, -9000000000LL);
    WriteLog(GetLogFile(), L"check update answer:\n %s", L"<ReturnCode>1</ReturnCode>\n<MD5/>");
    WriteLog(GetLogFile(), L"exit\n");

    // Split on CR LF only: a bare LF would stay inside a line and spoil its comparison.
    const std::string bytes = ReadFileBytes(path).substr(static_cast<size_t>(start));
    const auto lines = SplitCrLfLines(bytes);
    ASSERT_EQ(6u, lines.size());
    for (size_t i : {0u, 1u, 4u})
        EXPECT_TRUE(HasStamp(lines[i])) << lines[i];
    EXPECT_EQ("path: C:\\Users\\??\\x, -7, 5000000000, -9000000000", StripStamp(lines[0]));
    EXPECT_EQ("check update answer:", StripStamp(lines[1]));
    EXPECT_EQ(" <ReturnCode>1</ReturnCode>", lines[2]);
    EXPECT_EQ("<MD5/>", lines[3]);
    EXPECT_EQ("exit", StripStamp(lines[4]));
    EXPECT_EQ("", lines[5]);
}

TEST(LogFile, IsNamedAfterTheRunningExecutableAndAppendsAcrossRuns)
{
    struct Case {
        std::wstring fileName;
        std::wstring logBaseName;
    };
    for (const Case& c : {Case{L"setup2.exe", L"setup2"}, Case{L"a.b.exe", L"a.b"},
                         Case{L"plain_name", L"plain_name"}}) {
        const std::wstring program = CopyOfThisProgram(c.fileName);
        const std::wstring log = LogPathOf(c.logBaseName);
        const std::string earlier = ReadFileBytes(log);

        ASSERT_TRUE(RunChild(program, "first"));
        ASSERT_TRUE(RunChild(program, "second"));

        const std::string now = ReadFileBytes(log);
        ASSERT_GE(now.size(), earlier.size());
        EXPECT_EQ(earlier, now.substr(0, earlier.size())) << "earlier runs' lines were changed";
        const auto lines = SplitCrLfLines(now.substr(earlier.size()));
        ASSERT_EQ(2u, lines.size());
        EXPECT_TRUE(HasStamp(lines[0]) && HasStamp(lines[1]));
        EXPECT_EQ(ChildLine("first", 0), StripStamp(lines[0]));
        EXPECT_EQ(ChildLine("second", 0), StripStamp(lines[1]));
    }
}

TEST(LogFile, CreatesTheLogFolderWhenItIsMissing)
{
    // The folder is moved aside for the run and put back afterwards, whatever happens.
    struct FolderSetAside {
        std::wstring folder = LogFolder();
        std::wstring aside = LogFolder() + L"-kept-by-log-tests";
        bool moved = false;
        FolderSetAside()
        {
            RemoveTree(aside);
            moved = FileExists(folder) && MoveFileW(folder.c_str(), aside.c_str());
        }
        ~FolderSetAside()
        {
            if (moved) {
                RemoveTree(folder);
                MoveFileW(aside.c_str(), folder.c_str());
            }
        }
    } setAside;
    ASSERT_FALSE(FileExists(LogFolder()));

    ASSERT_TRUE(RunChild(CopyOfThisProgram(L"fresh_folder.exe"), "fresh"));

    EXPECT_TRUE(GetFileAttributesW(LogFolder().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    const auto lines = LinesSince(LogPathOf(L"fresh_folder"), 0);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(ChildLine("fresh", 0), StripStamp(lines[0]));
}

TEST(LogFile, LinesWrittenAtOnceByTwoThreadsOrTwoProcessesStayWhole)
{
    constexpr int kLines = 1000;

    // Two threads of this process.
    {
        const std::wstring path = LogPathOf(L"log_tests");
        WriteLog(GetLogFile(), L"opened");
        const int64_t start = SizeOrZero(path);
        auto writer = [](const wchar_t* tag) {
            const std::wstring padding(120, tag[0]);
            for (int i = 0; i < kLines; ++i)
                WriteLog(GetLogFile(), L"child %s %d %s", tag, i, padding.c_str());
        };
        std::thread first(writer, L"left");
        std::thread second(writer, L"right");
        first.join();
        second.join();

        ExpectWholeLinesOf(LinesSince(path, start), "left", "right", kLines);
    }

    // Two processes appending to the same file, released at the same moment.
    {
        const std::wstring program = CopyOfThisProgram(L"shared_writer.exe");
        const std::wstring path = LogPathOf(L"shared_writer");
        const int64_t start = SizeOrZero(path);
        HANDLE ready = CreateSemaphoreW(nullptr, 0, 2, kReadyName);
        HANDLE go = CreateEventW(nullptr, TRUE, FALSE, kGoName);
        ASSERT_TRUE(ready && go);
        auto environment = [](const std::string& tag) {
            auto variables = ChildEnvironment(tag, kLines);
            variables[L"LOG_CHILD_TOGETHER"] = L"1";
            return variables;
        };
        ChildProcess first(ChildCommandLine(program), environment("up"));
        ChildProcess second(ChildCommandLine(program), environment("down"));
        const bool bothReady = WaitForSingleObject(ready, 30000) == WAIT_OBJECT_0 &&
                               WaitForSingleObject(ready, 30000) == WAIT_OBJECT_0;
        SetEvent(go);
        DWORD firstCode = 1;
        DWORD secondCode = 1;
        const bool bothEnded = first.Wait(60000, &firstCode) && second.Wait(60000, &secondCode);
        CloseHandle(ready);
        CloseHandle(go);
        ASSERT_TRUE(bothReady);
        ASSERT_TRUE(bothEnded);
        EXPECT_EQ(0u, firstCode);
        EXPECT_EQ(0u, secondCode);

        ExpectWholeLinesOf(LinesSince(path, start), "up", "down", kLines);
    }
}
