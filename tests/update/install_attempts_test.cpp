// The record of failed installs: what it counts, when it holds a build back, and that anything
// but its own exact text counts as no failures.
#include <gtest/gtest.h>

#include "update/install_attempts.h"

namespace {

const Announcement kBuild{L"Setup-2.06.exe", L"123456", L"0123456789abcdef0123456789abcdef",
                          L"2.06"};
constexpr uint64_t kHour = 36000000000ull;
constexpr uint64_t kT = 133000000000000000ull;  // a FILETIME in 2022

}  // namespace

TEST(InstallAttempts, CountsInARowPerAnnouncedBuildAndHoldsBackForADay)
{
    Announcement renamed = kBuild, resized = kBuild, rehashed = kBuild, newer = kBuild;
    renamed.fileName = L"Setup.exe";
    resized.fileSize = L"123457";
    rehashed.md5[0] = L'f';
    newer.version = L"2.07";
    AttemptRecord three{kBuild, 3, kT};
    struct Row {
        const char* what;
        const AttemptRecord* record;
        Announcement offered;
        uint64_t now;
        bool heldBack;
        uint32_t failuresAfter;
    } rows[] = {
        {"no record", nullptr, kBuild, kT, false, 1},
        {"three, just now", &three, kBuild, kT, true, 4},
        {"three, 23 h ago", &three, kBuild, kT + 23 * kHour, true, 4},
        {"three, 24 h ago", &three, kBuild, kT + 24 * kHour, false, 4},
        {"three, clock set back", &three, kBuild, kT - kHour, false, 4},
        {"another file name", &three, renamed, kT, false, 1},
        {"another size", &three, resized, kT, false, 1},
        {"another MD5", &three, rehashed, kT, false, 1},
        {"another version", &three, newer, kT, false, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.heldBack, IsHeldBack(row.record, row.offered, row.now));
        const AttemptRecord after = AfterFailure(row.record, row.offered, row.now);
        EXPECT_EQ(row.failuresAfter, after.failures);
        EXPECT_EQ(row.now, after.lastFailure);
        EXPECT_TRUE(after.build == row.offered);
    }
    AttemptRecord two{kBuild, 2, kT};
    EXPECT_FALSE(IsHeldBack(&two, kBuild, kT));
    EXPECT_TRUE(IsHeldBack(&(two = AfterFailure(&two, kBuild, kT + kHour)), kBuild, kT + kHour));
}

TEST(InstallAttempts, ReadsOnlyItsOwnExactText)
{
    const AttemptRecord written{kBuild, 3, kT};
    const std::wstring text = FormatAttemptRecord(written);
    AttemptRecord read;
    ASSERT_TRUE(ParseAttemptRecord(text, read));
    EXPECT_TRUE(read.build == kBuild);
    EXPECT_EQ(3u, read.failures);
    EXPECT_EQ(kT, read.lastFailure);

    const auto replaced = [&](const std::wstring& from, const std::wstring& to) {
        std::wstring changed = text;
        return changed.replace(changed.find(from), from.size(), to);
    };
    const std::wstring garbage[] = {
        L"",
        L"garbage",
        text.substr(0, text.size() - 1),
        text + L"\n",
        text + L"extra=1\n",
        replaced(L"attempts 1", L"attempts 2"),
        replaced(L"failures=3", L"failures=0"),
        replaced(L"failures=3", L"failures=03"),
        replaced(L"failures=3", L"failures=-3"),
        replaced(L"failures=3", L"failures= 3"),
        replaced(L"failures=3", L"failures=1000001"),
        replaced(L"failures=3", L"failures=99999999999999999999999"),
        replaced(L"last=", L"last=99"),  // beyond a signed 64-bit FILETIME
        replaced(L"last=", L"last=x"),
        replaced(L"md5=", L"MD5="),
        replaced(L"\nfile=", L"\r\nfile="),
    };
    for (const std::wstring& bad : garbage) {
        AttemptRecord untouched{kBuild, 7, 1};
        EXPECT_FALSE(ParseAttemptRecord(bad, untouched)) << bad.size();
        EXPECT_EQ(7u, untouched.failures);
    }
    // The largest count is read, and one more failure does not wrap it round.
    AttemptRecord most;
    ASSERT_TRUE(ParseAttemptRecord(replaced(L"failures=3", L"failures=1000000"), most));
    EXPECT_EQ(1000000u, AfterFailure(&most, kBuild, kT).failures);
}
