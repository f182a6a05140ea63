#include "update/update_reply.h"

#include <cstdio>
#include <limits>

bool GetReplyValue(const std::wstring& key, std::wstring& value, const UpdateRecord& record)
{
    const std::wstring opening = L"<" + key + L">";
    const std::wstring closing = L"</" + key + L">";
    const size_t open = record.replyText.find(opening);
    if (open == std::wstring::npos)
        return false;
    const size_t start = open + opening.size();
    const size_t close = record.replyText.find(closing, start);
    if (close == std::wstring::npos)
        return false;
    value = record.replyText.substr(start, close - start);
    return true;
}

bool ParseUpdateReply(UpdateRecord& record)
{
    UpdateInfo& info = record.info;
    std::wstring value;

    if (!GetReplyValue(L"ReturnCode", value, record))
        return false;
    // Only the number 1 is accepted; "01" and " 1" read as 1 as well.
    if (ParseDecimal64(value) != 1)
        return false;
    info.ReturnCode = 1;

    if (!GetReplyValue(L"LatestSKU", value, record))
        return false;
    info.LatestSKU = value;
    if (!GetReplyValue(L"LatestVersion", value, record))
        return false;
    info.LatestVersion = value;
    if (!GetReplyValue(L"UpdateAvailable", value, record))
        return false;
    info.UpdateAvailable = value == L"Y" ? 1 : 0;
    if (!GetReplyValue(L"ServerPath", value, record))
        return false;
    info.ServerPath = value;
    if (!GetReplyValue(L"FileName", value, record))
        return false;
    info.FileName = value;
    if (!GetReplyValue(L"FileSize", value, record))
        return false;
    info.FileSize = value;
    if (!GetReplyValue(L"MD5", value, record))
        return false;
    info.MD5 = value;
    return true;
}

std::wstring FormatVersionText(uint16_t major, uint16_t minor)
{
    char text[32] = {};
    std::snprintf(text, sizeof text, "%u.%02u", static_cast<unsigned>(major),
                  static_cast<unsigned>(minor));
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

bool ParseVersionText(const std::wstring& text, uint16_t& major, uint16_t& minor)
{
    uint32_t numbers[2] = {};
    size_t i = 0;
    for (uint32_t& number : numbers) {
        const size_t first = i;
        for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
            number = number * 10 + static_cast<uint32_t>(text[i] - L'0');
            if (number > 0xFFFF)
                return false;
        }
        if (i == first)
            return false;
        if (&number == &numbers[0] && (i == text.size() || text[i++] != L'.'))
            return false;
    }
    if (i != text.size())
        return false;
    major = static_cast<uint16_t>(numbers[0]);
    minor = static_cast<uint16_t>(numbers[1]);
    return true;
}

int64_t ParseDecimal64(const std::wstring& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-'))
        negative = text[i++] == L'-';

    constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    uint64_t magnitude = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        const auto digit = static_cast<uint64_t>(text[i] - L'0');
        if (magnitude > (kLimit + 1 - digit) / 10) {
            magnitude = kLimit + 1;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (negative)
        return magnitude > kLimit ? std::numeric_limits<int64_t>::min()
                                  : -static_cast<int64_t>(magnitude);
    return magnitude > kLimit ? std::numeric_limits<int64_t>::max()
                              : static_cast<int64_t>(magnitude);
}

bool IsCheckableMd5(const std::wstring& digest)
{
    if (digest.size() != 32)
        return false;
    for (const wchar_t c : digest) {
        const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') ||
                         (c >= L'A' && c <= L'F');
        if (!hex)
            return false;
    }
    return true;
}

bool ReadInstallerSize(const std::wstring& text, int64_t& size)
{
    const auto isBlank = [](wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); };
    size_t first = 0;
    size_t end = text.size();
    while (first < end && isBlank(text[first]))
        ++first;
    while (end > first && isBlank(text[end - 1]))
        --end;
    if (first == end)
        return false;
    constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    uint64_t value = 0;
    for (size_t i = first; i < end; ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return false;
        const auto digit = static_cast<uint64_t>(text[i] - L'0');
        if (value > (kLimit - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    if (value == 0)
        return false;
    size = static_cast<int64_t>(value);
    return true;
}
