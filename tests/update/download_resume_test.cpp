// The decisions of a resumed download: which part goes on, which reply continues it, when the
// workflow resumes without asking.
#include <gtest/gtest.h>

#include "update/download_resume.h"

namespace {

const std::wstring kUrl = L"http://files.example/Setup.exe";
const std::wstring kMd5 = L"7007d9ba10b9a5e64a9f92df87e94a06";

ResumeRecord Record(std::wstring validator = L"\"v1\"", std::wstring md5 = kMd5)
{
    return ResumeRecord{kUrl, 1000, md5, validator, 600};
}

}  // namespace

TEST(ResumeRecord, ReadsBackWhatItWroteAndNothingElse)
{
    const ResumeRecord written{kUrl, 5000000000, kMd5, L"\"abc\"", 3000000000};
    ResumeRecord read;
    ASSERT_TRUE(ParseResumeRecord(FormatResumeRecord(written), read));
    EXPECT_EQ(FormatResumeRecord(written), FormatResumeRecord(read));

    const std::wstring text = FormatResumeRecord(written);
    for (const std::wstring& damaged :
         {text.substr(0, text.size() - 1), text.substr(0, text.size() / 2), text + L"x\n",
          std::wstring(), L"x" + text}) {
        EXPECT_FALSE(ParseResumeRecord(damaged, read)) << damaged.size();
    }
    std::wstring negative = text;
    negative.replace(negative.find(L"size=") + 5, 1, L"-");
    EXPECT_FALSE(ParseResumeRecord(negative, read));
}

TEST(ResumeStart, GoesOnOnlyFromThePartOfThisOffer)
{
    const ResumeRecord record = Record();
    const ResumeRecord noValidator = Record(L"");
    const ResumeRecord noValidatorNoMd5 = Record(L"", L"");
    const struct {
        const char* name;
        const ResumeRecord* record;
        std::wstring url;
        int64_t size;
        std::wstring md5;
        int64_t part;
        int64_t start;
    } cases[] = {
        {"matching part", &record, kUrl, 1000, kMd5, 600, 600},
        {"part shorter than recorded", &record, kUrl, 1000, kMd5, 400, 400},
        {"MD5 in another case", &record, kUrl, 1000, L"7007D9BA10B9A5E64A9F92DF87E94A06", 600, 600},
        {"no record", nullptr, kUrl, 1000, kMd5, 600, 0},
        {"other URL", &record, kUrl + L"?2", 1000, kMd5, 600, 0},
        {"other size", &record, kUrl, 1001, kMd5, 600, 0},
        {"other MD5", &record, kUrl, 1000, L"00000000000000000000000000000000", 600, 0},
        {"part longer than recorded", &record, kUrl, 1000, kMd5, 601, 0},
        {"no part", &record, kUrl, 1000, kMd5, -1, 0},
        {"empty part", &record, kUrl, 1000, kMd5, 0, 0},
        {"complete part", &record, kUrl, 1000, kMd5, 1000, 0},
        {"no validator, MD5 announced", &noValidator, kUrl, 1000, kMd5, 600, 600},
        {"no validator, no MD5", &noValidatorNoMd5, kUrl, 1000, L"", 600, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.start, ResumeStart(c.record, c.url, c.size, c.md5, c.part)) << c.name;
    }
}

TEST(ChooseValidator, PrefersAStrongETag)
{
    EXPECT_EQ(L"\"a\"", ChooseValidator(L"\"a\"", L"Mon, 07 Dec 2026 10:00:00 GMT"));
    EXPECT_EQ(L"Mon, 07 Dec 2026 10:00:00 GMT",
              ChooseValidator(L"W/\"a\"", L"Mon, 07 Dec 2026 10:00:00 GMT"));
    EXPECT_EQ(L"Mon, 07 Dec 2026 10:00:00 GMT",
              ChooseValidator(L"", L"Mon, 07 Dec 2026 10:00:00 GMT"));
    EXPECT_EQ(L"", ChooseValidator(L"W/\"a\"", L""));
    EXPECT_EQ(L"Range: bytes=600-\r\nIf-Range: \"a\"\r\n", RangeRequestHeaders(600, L"\"a\""));
    EXPECT_EQ(L"Range: bytes=600-\r\n", RangeRequestHeaders(600, L""));
}

TEST(JudgeRangeReply, OnlyExactlyTheRestContinuesThePart)
{
    const struct {
        unsigned long status;
        const wchar_t* range;
        const wchar_t* length;
        RangeReply reply;
    } cases[] = {
        {206, L"bytes 600-999/1000", L"400", RangeReply::Resumed},
        {200, L"", L"1000", RangeReply::Whole},
        {416, L"bytes */1000", L"0", RangeReply::Refused},
        {206, L"bytes 0-999/1000", L"1000", RangeReply::Refused},
        {206, L"bytes 600-998/1000", L"399", RangeReply::Refused},
        {206, L"bytes 600-999/1001", L"400", RangeReply::Refused},
        {206, L"bytes 600-999/*", L"400", RangeReply::Refused},
        {206, L"bytes 600-999/1000", L"401", RangeReply::Refused},
        {206, L"bytes 600-999/1000", L"", RangeReply::Refused},
        {206, L"", L"400", RangeReply::Refused},
        {500, L"", L"10", RangeReply::Failed},
        {404, L"", L"10", RangeReply::Failed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.reply, JudgeRangeReply(c.status, c.range, c.length, 600, 1000))
            << c.status << " " << testing::PrintToString(std::wstring(c.range));
    }
}

TEST(ResumeAtOnce, WhileEachAttemptBringsBytesAtMostFiveTimes)
{
    EXPECT_TRUE(ResumeAtOnce(0, 1, 0));
    EXPECT_TRUE(ResumeAtOnce(600, 700, 4));
    EXPECT_FALSE(ResumeAtOnce(600, 700, 5));
    EXPECT_FALSE(ResumeAtOnce(600, 600, 0));
    EXPECT_FALSE(ResumeAtOnce(600, 0, 0));  // the part was dropped
    EXPECT_FALSE(ResumeAtOnce(0, 0, 0));
}
