// The decisions of a resumed download: which part goes on, and which reply continues it.
#include <gtest/gtest.h>

#include "update/download_resume.h"

namespace {
const std::wstring kUrl = L"http://files.example/Setup.exe";
const std::wstring kMd5 = L"7007d9ba10b9a5e64a9f92df87e94a06";
const std::wstring kDate = L"Mon, 07 Dec 2026 10:00:00 GMT";
}  // namespace

TEST(ResumeStart, GoesOnOnlyFromThePartOfThisOffer)
{
    const ResumeRecord record{kUrl, 1000, kMd5, L"\"v1\"", 600};
    const ResumeRecord noValidator{kUrl, 1000, kMd5, L"", 600};
    const ResumeRecord nothingToCheck{kUrl, 1000, L"", L"", 600};
    const struct {
        const char* name;
        const ResumeRecord* record;
        std::wstring url, md5;
        int64_t size, part, start;
    } cases[] = {
        {"matching part", &record, kUrl, kMd5, 1000, 600, 600},
        {"part shorter than recorded", &record, kUrl, kMd5, 1000, 400, 400},
        {"MD5 in capitals", &record, kUrl, L"7007D9BA10B9A5E64A9F92DF87E94A06", 1000, 600, 600},
        {"no record", nullptr, kUrl, kMd5, 1000, 600, 0},
        {"other URL", &record, kUrl + L"?2", kMd5, 1000, 600, 0},
        {"other size", &record, kUrl, kMd5, 1001, 600, 0},
        {"other MD5", &record, kUrl, L"00000000000000000000000000000000", 1000, 600, 0},
        {"part longer than recorded", &record, kUrl, kMd5, 1000, 601, 0},
        {"no part", &record, kUrl, kMd5, 1000, -1, 0},
        {"complete part", &record, kUrl, kMd5, 1000, 1000, 0},
        {"no validator, MD5 announced", &noValidator, kUrl, kMd5, 1000, 600, 600},
        {"no validator, no MD5", &nothingToCheck, kUrl, L"", 1000, 600, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.start, ResumeStart(c.record, c.url, c.size, c.md5, c.part)) << c.name;
}

TEST(RecordedReach, StaysAheadOfThePartButNeverPastTheFile)
{
    constexpr int64_t kMiB = 1 << 20;
    const struct {
        int64_t held, size, reach;
    } cases[] = {
        {0, 100 * kMiB, kMiB},           // at least 1 MiB ahead
        {1000, 100 * kMiB, 1000 + kMiB},
        {kMiB, 100 * kMiB, 2 * kMiB},
        {10 * kMiB, 100 * kMiB, 20 * kMiB},  // twice what is held
        {60 * kMiB, 100 * kMiB, 100 * kMiB},
        {1000, 5000, 5000},              // never past the file
        {5000, 5000, 5000},
        {3 * 1024 * kMiB, 5 * 1024 * kMiB, 5 * 1024 * kMiB},  // beyond 32 bits
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.reach, RecordedReach(c.held, c.size)) << c.held << " of " << c.size;
}

TEST(RangeRequestHeaders, CarryAStrongETagElseLastModified)
{
    EXPECT_EQ(L"Range: bytes=600-\r\nIf-Range: \"a\"\r\n",
              RangeRequestHeaders(600, ChooseValidator(L"\"a\"", kDate)));
    EXPECT_EQ(L"Range: bytes=600-\r\nIf-Range: " + kDate + L"\r\n",
              RangeRequestHeaders(600, ChooseValidator(L"W/\"a\"", kDate)));
    EXPECT_EQ(L"Range: bytes=600-\r\n", RangeRequestHeaders(600, ChooseValidator(L"", L"")));
}

TEST(JudgeRangeReply, OnlyExactlyTheRestContinuesThePart)
{
    const struct {
        unsigned long status;
        const wchar_t *range, *length;
        RangeReply reply;
    } cases[] = {
        {206, L"bytes 600-999/1000", L"400", RangeReply::Resumed},
        {200, L"", L"1000", RangeReply::Whole},
        {416, L"bytes */1000", L"0", RangeReply::Refused},
        {206, L"bytes 0-999/1000", L"1000", RangeReply::Refused},
        {206, L"bytes 600-998/1000", L"399", RangeReply::Refused},
        {206, L"bytes 600-999/1001", L"400", RangeReply::Refused},
        {206, L"bytes 600-999/1000", L"401", RangeReply::Refused},
        {206, L"", L"400", RangeReply::Refused},
        {503, L"", L"10", RangeReply::Failed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.reply, JudgeRangeReply(c.status, c.range, c.length, 600, 1000)) << c.status;
}
