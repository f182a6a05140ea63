// The pinned-signer list: what the build hands the launcher, read the way openssl and people
// write fingerprints, and compared without letting a near match through.
#include "update/signer_pins.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kA = L"846e047f707a3789bdc5a8fea959acedbe3dfb7288da26daf3528aac5733a2c1";
const std::wstring kB = L"e158fce856b69b79f9a0061821316a1ad04d91bb959cd018b934a80feb53204c";

std::wstring Upper(std::wstring text)
{
    for (wchar_t& c : text)
        if (c >= L'a' && c <= L'f')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    return text;
}

std::wstring WithColons(const std::wstring& digits)
{
    std::wstring text;
    for (size_t i = 0; i < digits.size(); i += 2)
        text += (i ? L":" : L"") + digits.substr(i, 2);
    return text;
}

}  // namespace

TEST(ParsePinnedSigners, ReadsEveryWayAListIsWrittenAndDropsWhatIsNoFingerprint)
{
    const struct {
        std::wstring list;
        std::vector<std::wstring> pins;
    } cases[] = {
        {L"", {}},
        {L" ;, ", {}},
        {kA, {kA}},
        {Upper(kA), {kA}},
        {kA + L";" + kB, {kA, kB}},
        {L"  " + kA + L" , " + Upper(kB) + L"\r\n", {kA, kB}},
        {WithColons(Upper(kA)), {kA}},
        // One digit short, one too many, a letter past f: none pins anything.
        {kA.substr(1), {}},
        {kA + L"0", {}},
        {kA.substr(1) + L"g", {}},
        {kA.substr(0, 32) + L" " + kA.substr(32), {}},
        {L"x;" + kB, {kB}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "list: " << std::string(c.list.begin(), c.list.end()));
        EXPECT_EQ(c.pins, ParsePinnedSigners(c.list));
    }
}

TEST(IsPinnedSigner, MatchesWholeFingerprintsInEitherCaseOnly)
{
    const std::vector<std::wstring> pins = ParsePinnedSigners(kA + L";" + kB);
    EXPECT_TRUE(IsPinnedSigner(pins, kA));
    EXPECT_TRUE(IsPinnedSigner(pins, Upper(kB)));
    EXPECT_FALSE(IsPinnedSigner(pins, kA.substr(0, 63) + L"0"));
    EXPECT_FALSE(IsPinnedSigner(pins, kA.substr(0, 40)));
    EXPECT_FALSE(IsPinnedSigner(pins, L""));
    EXPECT_FALSE(IsPinnedSigner({}, kA));
}

TEST(HexDigits, WritesTwoLowerCaseDigitsPerByte)
{
    const uint8_t bytes[] = {0x00, 0x0F, 0xA0, 0xFF, 0x5C};
    EXPECT_EQ(L"000fa0ff5c", HexDigits(bytes, sizeof bytes));
    EXPECT_EQ(L"", HexDigits(bytes, 0));
}
