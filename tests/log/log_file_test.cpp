#include <gtest/gtest.h>

#include "log/log_file.h"
#include "support/test_support.h"

using namespace test_support;

namespace {

std::wstring LogPath()
{
    return DocumentsDir() + L"\\Osker\\log_tests.log";
}

}  // namespace

TEST(LogFile, FollowsTheExecutableNameInTheOskerFolder)
{
    wchar_t name[MAX_PATH] = {};
    ASSERT_TRUE(GetLogFileName(name));
    EXPECT_STREQ(L"log_tests.log", name);

    wchar_t path[MAX_PATH] = {};
    ASSERT_TRUE(GetLogFilePath(path));
    EXPECT_EQ(LogPath(), path);
}

TEST(LogFile, AppendsStampedCrLfLinesAndKeepsEarlierOnes)
{
    const int64_t before = FileSize(LogPath());
    WriteLog(GetLogFile(), L"wide %s and %d and %I64d", L"Ωtext", 42, 5000000000LL);
    WriteLog(GetLogFile(), L"exit\n");

    const std::string bytes = ReadFileBytes(LogPath());
    ASSERT_GT(static_cast<int64_t>(bytes.size()), before);
    const auto lines = SplitCrLfLines(bytes.substr(before < 0 ? 0 : static_cast<size_t>(before)));
    ASSERT_EQ(3u, lines.size());
    EXPECT_TRUE(HasStamp(lines[0]));
    EXPECT_EQ("wide ?text and 42 and 5000000000", StripStamp(lines[0]));
    EXPECT_EQ("exit", StripStamp(lines[1]));
    EXPECT_EQ("", lines[2]);
}
