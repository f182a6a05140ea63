// Strict UTF-8 to UTF-16 conversion: exactly the well-formed sequences of the Unicode
// Standard (shortest form, U+0000..U+10FFFF, no encoded surrogates), never a replacement.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum ConversionResult : int {
    ConversionOK = 0,
    SourceExhausted = 1,  // the last sequence is cut short by the end of the source
    TargetExhausted = 2,  // no room for the next one or two units
    SourceIllegal = 3,    // ill-formed, an encoded surrogate, or above U+10FFFF
};

// Whether `length` bytes at `source` form one well-formed sequence.
bool IsLegalUtf8(const uint8_t* source, int length);

// Converts sequence by sequence and advances both cursors past what was converted. On
// results 1 to 3 the source cursor stays at the sequence that stopped the conversion.
ConversionResult ConvertUtf8ToUtf16(const uint8_t*& sourceStart, const uint8_t* sourceEnd,
                                    uint16_t*& targetStart, const uint16_t* targetEnd);

// Decodes all bytes of `text` (zero bytes included; a U+0000 ends the returned text).
// Throws std::runtime_error("La falla!") on any ill-formed input.
std::wstring Utf8ToWide(std::string_view text);
