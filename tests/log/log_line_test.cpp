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

namespace {

// A reply that tries to pass a line of its own for one of the launcher's.
const wchar_t kForged[] =
    L"<MD5/>\r\n2026-01-01 00:00:00\tapplication dir restored from backup: FORGED";

TEST(LogLine, ForeignTextCannotStartALineOfItsOwn)
{
    const struct {
        const wchar_t* text;
        const wchar_t* quoted;
    } cases[] = {
        {L"<a>1</a>", L"\n <a>1</a>"},
        // CR LF, a lone LF and a lone CR each end a line; every line starts with a blank
        {kForged, L"\n <MD5/>\n 2026-01-01 00:00:00\tapplication dir restored from backup: FORGED"},
        {L"a\nb\rc\r\n", L"\n a\n b\n c\n "},
        {L"a\r\n\r\nb", L"\n a\n \n b"},
        // the other controls, C1 and DEL included, are shown as codes; tabs stay
        {L"\x01\x1B[2J\x7F\x85\tx\\", L"\n \\x01\\x1B[2J\\x7F\\x85\tx\\"},
        {L"", L"\n "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::wstring(c.quoted), QuoteLines(c.text));
}

TEST(LogLine, EscapedValueStaysOnItsLine)
{
    EXPECT_EQ(L"563200", EscapeControls(L"563200"));
    EXPECT_EQ(L"1\\x0D\\x0A2026-01-01 00:00:00\\x09exit", EscapeControls(L"1\r\n2026-01-01 00:00:00\texit"));
    EXPECT_EQ(L"\\x00\\x9F\u00A0\u00FF\u4E2D", EscapeControls(std::wstring(L"\0\x9F\u00A0\u00FF\u4E2D", 5)));
}

}  // namespace
