#include "update/utf8.h"

#include <stdexcept>
#include <vector>

namespace {

// Number of bytes that follow each possible first byte. Continuation bytes count 0, so one
// met in first position is tested as a one-byte sequence and refused.
constexpr int TrailingBytesFor(uint8_t first)
{
    if (first < 0xC0) return 0;
    if (first < 0xE0) return 1;
    if (first < 0xF0) return 2;
    if (first < 0xF8) return 3;
    if (first < 0xFC) return 4;
    return 5;
}

// Removes the marker bits of the first and the continuation bytes after summing with shifts.
constexpr uint32_t kOffsetsFromUtf8[6] = {0x00000000UL, 0x00003080UL, 0x000E2080UL,
                                          0x03C82080UL, 0xFA082080UL, 0x82082080UL};

}  // namespace

bool IsLegalUtf8(const uint8_t* source, int length)
{
    if (length < 1 || length > 4)
        return false;
    if (length == 4 && (source[3] < 0x80 || source[3] > 0xBF))
        return false;
    if (length >= 3 && (source[2] < 0x80 || source[2] > 0xBF))
        return false;
    if (length >= 2) {
        const uint8_t second = source[1];
        // A continuation byte after every lead, also after 0xED and 0xF4, whose checks below
        // only bound it from above: ED 00 80 would otherwise pass as U+B000.
        if (second < 0x80 || second > 0xBF)
            return false;
        switch (source[0]) {
        case 0xE0: if (second < 0xA0) return false; break;  // overlong
        case 0xED: if (second > 0x9F) return false; break;  // surrogates
        case 0xF0: if (second < 0x90) return false; break;  // overlong
        case 0xF4: if (second > 0x8F) return false; break;  // above U+10FFFF
        default: if (second < 0x80) return false;
        }
    }
    if ((source[0] >= 0x80 && source[0] < 0xC2) || source[0] > 0xF4)
        return false;
    return true;
}

namespace {

// Writes one code point as one or two UTF-16 units; nothing when there is no room for it or
// it is a surrogate or beyond U+10FFFF.
ConversionResult PutCodePoint(uint32_t value, uint16_t*& target, const uint16_t* targetEnd)
{
    if (target >= targetEnd)
        return TargetExhausted;
    if (value <= 0xFFFF) {
        if (value >= 0xD800 && value <= 0xDFFF)
            return SourceIllegal;
        *target++ = static_cast<uint16_t>(value);
        return ConversionOK;
    }
    if (value > 0x10FFFF)
        return SourceIllegal;
    if (target + 1 >= targetEnd)
        return TargetExhausted;
    value -= 0x10000;
    *target++ = static_cast<uint16_t>(0xD800 + (value >> 10));
    *target++ = static_cast<uint16_t>(0xDC00 + (value & 0x3FF));
    return ConversionOK;
}

}  // namespace

ConversionResult ConvertUtf8ToUtf16(const uint8_t*& sourceStart, const uint8_t* sourceEnd,
                                    uint16_t*& targetStart, const uint16_t* targetEnd)
{
    ConversionResult result = ConversionOK;
    const uint8_t* source = sourceStart;
    uint16_t* target = targetStart;
    while (source < sourceEnd) {
        const int extra = TrailingBytesFor(*source);
        if (extra >= sourceEnd - source) {
            result = SourceExhausted;
            break;
        }
        if (!IsLegalUtf8(source, extra + 1)) {
            result = SourceIllegal;
            break;
        }
        const uint8_t* sequence = source;
        uint32_t value = 0;
        for (int i = 0; i < extra; ++i) {
            value += *source++;
            value <<= 6;
        }
        value += *source++;
        value -= kOffsetsFromUtf8[extra];

        result = PutCodePoint(value, target, targetEnd);
        if (result != ConversionOK) {
            source = sequence;
            break;
        }
    }
    sourceStart = source;
    targetStart = target;
    return result;
}

std::wstring Utf8ToWide(std::string_view text)
{
    // A sequence of k bytes never yields more than k units.
    std::vector<uint16_t> buffer(text.size() + 1, 0);
    const auto* source = reinterpret_cast<const uint8_t*>(text.data());
    uint16_t* target = buffer.data();
    if (ConvertUtf8ToUtf16(source, source + text.size(), target, buffer.data() + text.size()) !=
        ConversionOK)
        throw std::runtime_error("La falla!");
    *target = 0;

    std::wstring wide;
    for (const uint16_t* unit = buffer.data(); *unit != 0; ++unit)
        wide += static_cast<wchar_t>(*unit);
    return wide;
}
