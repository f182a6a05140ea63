// An independent strict UTF-8 decoder to check the launcher's decoder against. It follows the
// Unicode Standard's table of well-formed byte sequences range by range (a different method
// from the launcher's trailing-byte and offset tables), and is kept small enough to read at a
// glance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace reference {

struct Range {
    uint8_t low, high;
};

// For each lead byte: the number of continuation bytes and the allowed range of the second
// byte; every later continuation byte is 80..BF.
struct LeadRule {
    int continuations;
    Range second;
};

inline std::optional<LeadRule> RuleFor(uint8_t lead)
{
    if (lead <= 0x7F)
        return LeadRule{0, {0, 0}};
    if (lead >= 0xC2 && lead <= 0xDF)
        return LeadRule{1, {0x80, 0xBF}};
    if (lead == 0xE0)
        return LeadRule{2, {0xA0, 0xBF}};
    if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF)
        return LeadRule{2, {0x80, 0xBF}};
    if (lead == 0xED)
        return LeadRule{2, {0x80, 0x9F}};
    if (lead == 0xF0)
        return LeadRule{3, {0x90, 0xBF}};
    if (lead >= 0xF1 && lead <= 0xF3)
        return LeadRule{3, {0x80, 0xBF}};
    if (lead == 0xF4)
        return LeadRule{3, {0x80, 0x8F}};
    return std::nullopt;
}

// UTF-16 units of well-formed input; nothing for anything else.
inline std::optional<std::u16string> DecodeStrict(const uint8_t* bytes, size_t size)
{
    std::u16string units;
    size_t i = 0;
    while (i < size) {
        const std::optional<LeadRule> rule = RuleFor(bytes[i]);
        if (!rule || size - i < static_cast<size_t>(rule->continuations) + 1)
            return std::nullopt;
        uint32_t value =
            rule->continuations == 0 ? bytes[i] : bytes[i] & (0x3Fu >> rule->continuations);
        for (int k = 1; k <= rule->continuations; ++k) {
            const uint8_t b = bytes[i + k];
            const Range allowed = k == 1 ? rule->second : Range{0x80, 0xBF};
            if (b < allowed.low || b > allowed.high)
                return std::nullopt;
            value = (value << 6) | (b & 0x3Fu);
        }
        i += static_cast<size_t>(rule->continuations) + 1;
        if (value < 0x10000) {
            units += static_cast<char16_t>(value);
        } else {
            units += static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
        }
    }
    return units;
}

// What the launcher's Utf8ToWide must give for these bytes: the units up to the first U+0000,
// or nothing when it must throw.
inline std::optional<std::u16string> ExpectedWideText(const uint8_t* bytes, size_t size)
{
    std::optional<std::u16string> units = DecodeStrict(bytes, size);
    if (units) {
        const size_t zero = units->find(u'\0');
        if (zero != std::u16string::npos)
            units->resize(zero);
    }
    return units;
}

}  // namespace reference
