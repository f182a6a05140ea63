// The strict decoder, built natively with AddressSanitizer and UndefinedBehaviorSanitizer.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <vector>

#include "strict_utf8_reference.h"
#include "update/utf8.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string AsString(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// Utf8ToWide as UTF-16 units (wchar_t is wider here than on Windows), or nothing when it threw
// the decoder's own exception.
std::optional<std::u16string> Decode(const Bytes& bytes)
{
    try {
        const std::wstring wide = Utf8ToWide(AsString(bytes));
        std::u16string units;
        for (const wchar_t unit : wide) {
            EXPECT_LE(static_cast<uint32_t>(unit), 0xFFFFu);
            units += static_cast<char16_t>(unit);
        }
        return units;
    } catch (const std::exception& e) {
        EXPECT_STREQ("La falla!", e.what());
        return std::nullopt;
    }
}

std::string Show(const Bytes& bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
        text += ' ';
    }
    return text;
}

testing::AssertionResult SameAsReference(const Bytes& bytes)
{
    const std::optional<std::u16string> expected =
        reference::ExpectedWideText(bytes.data(), bytes.size());
    const std::optional<std::u16string> actual = Decode(bytes);
    if (expected.has_value() != actual.has_value())
        return testing::AssertionFailure()
               << Show(bytes) << (expected ? "refused, but is well-formed" : "accepted");
    if (expected && *expected != *actual)
        return testing::AssertionFailure() << Show(bytes) << "decoded differently";
    return testing::AssertionSuccess();
}

}  // namespace

TEST(Utf8ToWide, DecodesWellFormedTextAndRefusesEverythingElse)
{
    const struct {
        Bytes bytes;
        std::optional<std::u16string> units;  // nothing: must throw
    } cases[] = {
        {{}, u""},
        {{'a', 'b', 'c'}, u"abc"},
        {{0xC3, 0xA9}, u"\u00E9"},
        {{0xE2, 0x82, 0xAC}, u"\u20AC"},
        {{0xF0, 0x9F, 0x98, 0x80}, u"\xD83D\xDE00"},
        {{0xEF, 0xBF, 0xBF}, u"\uFFFF"},
        {{0xF4, 0x8F, 0xBF, 0xBF}, u"\xDBFF\xDFFF"},
        {{0xED, 0x9F, 0xBF}, u"\uD7FF"},
        {{0xEE, 0x80, 0x80}, u"\uE000"},
        {{0xC2, 0x80}, u"\u0080"},
        {{0xDF, 0xBF}, u"\u07FF"},
        {{0xE0, 0xA0, 0x80}, u"\u0800"},
        {{0xF0, 0x90, 0x80, 0x80}, u"\xD800\xDC00"},
        // a zero byte is U+0000 and ends the returned text
        {{'a', 0x00, 'b'}, u"a"},
        {{0x00}, u""},
        // but what follows it must still be well-formed
        {{'a', 0x00, 0xFF}, std::nullopt},
        // cut short by the end of the input
        {{0xE2, 0x82}, std::nullopt},
        {{'a', 0xF0, 0x9F, 0x98}, std::nullopt},
        {{0xC3}, std::nullopt},
        // overlong forms
        {{0xC0, 0x80}, std::nullopt},
        {{0xC1, 0xBF}, std::nullopt},
        {{0xE0, 0x80, 0x80}, std::nullopt},
        {{0xE0, 0x9F, 0xBF}, std::nullopt},
        {{0xF0, 0x80, 0x80, 0x80}, std::nullopt},
        {{0xF0, 0x8F, 0xBF, 0xBF}, std::nullopt},
        // encoded surrogates
        {{0xED, 0xA0, 0x80}, std::nullopt},
        {{0xED, 0xBF, 0xBF}, std::nullopt},
        // above U+10FFFF, and leads that can never start a sequence
        {{0xF4, 0x90, 0x80, 0x80}, std::nullopt},
        {{0xF5, 0x80, 0x80, 0x80}, std::nullopt},
        {{0xF8, 0x88, 0x80, 0x80, 0x80}, std::nullopt},
        {{0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}, std::nullopt},
        {{0xFE}, std::nullopt},
        {{0xFF}, std::nullopt},
        // stray continuation bytes, alone and inside good text
        {{0x80}, std::nullopt},
        {{0xBF}, std::nullopt},
        {{'a', 0x80, 'b'}, std::nullopt},
        {{0xC3, 0xA9, 0xA9}, std::nullopt},
        // a lead byte followed by something that is not a continuation byte
        {{0xC3, 'a'}, std::nullopt},
        {{0xE2, 0x82, 'a'}, std::nullopt},
        {{0xE2, 0xC3, 0xA9}, std::nullopt},
        // leads whose second byte has only an upper bound of its own
        {{0xED, 0x00, 0x80}, std::nullopt},
        {{0xED, 0x7F, 0xBF}, std::nullopt},
        {{0xF4, 0x61, 0x80, 0xBF}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Show(c.bytes));
        const std::optional<std::u16string> actual = Decode(c.bytes);
        ASSERT_EQ(c.units.has_value(), actual.has_value());
        if (c.units) {
            EXPECT_TRUE(*c.units == *actual);
        }
    }
}

TEST(ConvertUtf8ToUtf16, ReportsHowItEndedAndWhereItStopped)
{
    const struct {
        Bytes bytes;
        size_t targetUnits;
        ConversionResult result;
        size_t sourceStop;  // bytes consumed
        size_t unitsWritten;
    } cases[] = {
        {{'a', 'b'}, 2, ConversionOK, 2, 2},
        {{'a', 0xE2, 0x82}, 3, SourceExhausted, 1, 1},
        // the cut is judged from the lead byte alone, before the bytes after it are looked at
        {{'a', 0xE2, 'b'}, 3, SourceExhausted, 1, 1},
        {{'a', 0xED, 0xA0, 0x80, 'b'}, 5, SourceIllegal, 1, 1},
        {{'a', 'b', 0x80}, 3, SourceIllegal, 2, 2},
        {{'a', 0xF4, 0x90, 0x80, 0x80}, 5, SourceIllegal, 1, 1},
        {{'a', 'b', 'c'}, 2, TargetExhausted, 2, 2},
        // a pair needs two units; one left is not enough
        {{'a', 0xF0, 0x9F, 0x98, 0x80}, 2, TargetExhausted, 1, 1},
        {{'a', 0xF0, 0x9F, 0x98, 0x80}, 3, ConversionOK, 5, 3},
        {{}, 0, ConversionOK, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Show(c.bytes) + "into " + std::to_string(c.targetUnits));
        std::vector<uint16_t> target(c.targetUnits + 1, 0xAAAA);
        const uint8_t* source = c.bytes.data();
        uint16_t* cursor = target.data();
        const ConversionResult result = ConvertUtf8ToUtf16(source, c.bytes.data() + c.bytes.size(),
                                                           cursor, target.data() + c.targetUnits);
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.sourceStop, static_cast<size_t>(source - c.bytes.data()));
        EXPECT_EQ(c.unitsWritten, static_cast<size_t>(cursor - target.data()));
        EXPECT_EQ(0xAAAA, target[c.targetUnits]) << "wrote past the target's end";
    }
}

// Every pair of bytes, and every lead byte with every second byte (where the rules of the
// leads differ); third and fourth bytes from the boundaries of the ranges that matter.
TEST(Utf8ToWide, AgreesWithAnIndependentStrictDecoderOnAllShortSequences)
{
    const uint8_t edges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F,
                             0xA0, 0xBF, 0xC0, 0xC2, 0xE0, 0xF4, 0xFF};
    for (int a = 0; a < 256; ++a) {
        const auto lead = static_cast<uint8_t>(a);
        ASSERT_TRUE(SameAsReference({lead}));
        for (int b = 0; b < 256; ++b) {
            const auto second = static_cast<uint8_t>(b);
            ASSERT_TRUE(SameAsReference({lead, second}));
            if (lead < 0xE0)
                continue;
            for (const uint8_t c : edges)
                ASSERT_TRUE(SameAsReference({lead, second, c}));
            if (lead < 0xF0)
                continue;
            for (const uint8_t c : edges)
                ASSERT_TRUE(SameAsReference({lead, second, c, 0x80}));
        }
        if (lead < 0xF0)
            continue;
        for (const uint8_t b : edges)
            for (const uint8_t c : edges)
                for (const uint8_t d : edges)
                    ASSERT_TRUE(SameAsReference({lead, b, c, d}));
    }
}

// Random text assembled from pieces that are well-formed, nearly well-formed or plain noise,
// so that both outcomes are common.
TEST(Utf8ToWide, AgreesWithAnIndependentStrictDecoderOnRandomText)
{
    std::mt19937 random(20240607);
    const std::vector<Bytes> pieces = {
        {'a'},
        {0x00},
        {0x7F},
        {0xC2, 0x80},
        {0xDF, 0xBF},
        {0xE0, 0xA0, 0x80},
        {0x80},
        {0xBF},
        {0xC0, 0x80},
        {0xED, 0x9F, 0xBF},
        {0xED, 0xA0, 0x80},
        {0xEF, 0xBF, 0xBF},
        {0xE2},
        {0xF0},
        {0xF4},
        {0xF0, 0x90, 0x80},
        {0xF4, 0x8F, 0xBF},
        {0xF4, 0x90},
        {0xF5},
        {0xFF},
        {0xE1, 0x80},
        {0xC3},
    };
    size_t accepted = 0;
    const int kRounds = 200000;
    for (int round = 0; round < kRounds; ++round) {
        Bytes bytes;
        const int count = static_cast<int>(random() % 8);
        for (int k = 0; k < count; ++k) {
            if (random() % 4 == 0) {
                bytes.push_back(static_cast<uint8_t>(random()));
            } else {
                const Bytes& piece = pieces[random() % pieces.size()];
                bytes.insert(bytes.end(), piece.begin(), piece.end());
            }
        }
        ASSERT_TRUE(SameAsReference(bytes));
        if (reference::DecodeStrict(bytes.data(), bytes.size()))
            ++accepted;
    }
    // Both outcomes were exercised in earnest.
    EXPECT_GT(accepted, static_cast<size_t>(kRounds / 20));
    EXPECT_LT(accepted, static_cast<size_t>(kRounds - kRounds / 20));
}
