#include "update/signer_pins.h"

#include <algorithm>
#include <utility>

namespace {

constexpr size_t kFingerprintDigits = 64;

bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

wchar_t ToLowerAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool IsSeparator(wchar_t c)
{
    return c == L';' || c == L',' || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

// The 64 lower-case digits of one entry, or an empty string when it is not a fingerprint.
std::wstring NormaliseFingerprint(const std::wstring& entry)
{
    std::wstring digits;
    for (const wchar_t c : entry) {
        if (c == L':')
            continue;
        if (!IsHexDigit(c))
            return std::wstring();
        digits += ToLowerAscii(c);
    }
    return digits.size() == kFingerprintDigits ? digits : std::wstring();
}

}  // namespace

std::wstring HexDigits(const uint8_t* bytes, size_t length)
{
    static constexpr wchar_t kHex[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
    return text;
}

std::vector<std::wstring> ParsePinnedSigners(const std::wstring& list)
{
    std::vector<std::wstring> pins;
    size_t begin = 0;
    while (begin < list.size()) {
        size_t end = begin;
        while (end < list.size() && !IsSeparator(list[end]))
            ++end;
        if (end > begin) {
            std::wstring pin = NormaliseFingerprint(list.substr(begin, end - begin));
            if (!pin.empty())
                pins.push_back(std::move(pin));
        }
        begin = end + 1;
    }
    return pins;
}

bool IsPinnedSigner(const std::vector<std::wstring>& pins, const std::wstring& fingerprint)
{
    const std::wstring wanted = NormaliseFingerprint(fingerprint);
    if (wanted.empty())
        return false;
    return std::find(pins.begin(), pins.end(), wanted) != pins.end();
}
