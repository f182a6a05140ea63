// Composition of one log line. Pure C++: built into the Windows log tests (two-byte wchar_t,
// where the surrogate pairs are real) and natively with the sanitizers (four-byte wchar_t).
#include <gtest/gtest.h>

#include <ctime>

#include "log/log_line.h"

namespace {

TEST(LogLine, StampIsZeroPaddedWithTheFullYear)
{
    std::tm time = {};
    time.tm_year = 2027 - 1900;
    time.tm_mon = 1;
    time.tm_mday = 3;
    time.tm_hour = 9;
    time.tm_min = 5;
    time.tm_sec = 0;
    EXPECT_EQ("2027-02-03 09:05:00\t", FormatLogStamp(time));
}

TEST(LogLine, KeepsLatin1BytesAndWritesOneQuestionMarkPerOtherCharacter)
{
    std::tm time = {};
    time.tm_year = 2026 - 1900;
    time.tm_mday = 1;
    const std::string stamp = FormatLogStamp(time);

    // é and ÿ are single bytes; Ω, 中 and the emoji (a surrogate pair) each become one '?';
    // a lone surrogate is still one character.
    EXPECT_EQ(stamp + "caf\xE9 \xFF|?|?|?|?x\r\n",
              EncodeLogLine(time, L"caf\u00E9 \u00FF|\u03A9|\u4E2D|\U0001F600|\xD800x"));
    // Line breaks inside the message continue without a stamp; the line ends with CR LF.
    EXPECT_EQ(stamp + "answer:\r\n <reply>\r\n", EncodeLogLine(time, L"answer:\n <reply>"));
    EXPECT_EQ(stamp + "exit\r\n\r\n", EncodeLogLine(time, L"exit\n"));
    EXPECT_EQ(stamp + "\r\n", EncodeLogLine(time, L""));
}

}  // namespace
