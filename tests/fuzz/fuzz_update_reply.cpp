// libFuzzer target: the reply parser on any text (one character per input byte, so that the
// dictionary's tags come through), and the decimal reading against the C library's strtoll.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "update/update_reply.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

const wchar_t* const kKeys[] = {L"ReturnCode", L"LatestSKU", L"LatestVersion", L"UpdateAvailable",
                                L"ServerPath", L"FileName",  L"FileSize",      L"MD5"};

// Whatever GetReplyValue reports is borne out by the text itself.
void CheckValue(const std::wstring& text, const std::wstring& key, const UpdateRecord& record)
{
    std::wstring value;
    const bool found = GetReplyValue(key, value, record);
    const std::wstring opening = L"<" + key + L">";
    const std::wstring closing = L"</" + key + L">";
    const size_t open = text.find(opening);
    if (!found) {
        Require(open == std::wstring::npos ||
                text.find(closing, open + opening.size()) == std::wstring::npos);
        return;
    }
    Require(open != std::wstring::npos);
    const size_t start = open + opening.size();
    Require(text.compare(start, value.size(), value) == 0);
    Require(text.compare(start + value.size(), closing.size(), closing) == 0);
    Require(value.find(closing) == std::wstring::npos);
}

void CheckDecimal(const std::string& narrow)
{
    // strtoll reads up to the first zero byte; ParseDecimal64 stops there as well.
    errno = 0;
    const long long expected = std::strtoll(narrow.c_str(), nullptr, 10);
    Require(ParseDecimal64(std::wstring(narrow.begin(), narrow.end())) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::wstring text;
    std::string narrow;
    for (size_t i = 0; i < size; ++i) {
        text += static_cast<wchar_t>(data[i]);
        narrow += static_cast<char>(data[i] & 0x7F);  // ASCII only: strtoll's blanks are the C ones
    }

    UpdateRecord record;
    record.replyText = text;
    for (const wchar_t* key : kKeys)
        CheckValue(text, key, record);

    const bool parsed = ParseUpdateReply(record);
    if (parsed) {
        std::wstring value;
        Require(record.info.ReturnCode == 1);
        Require(GetReplyValue(L"ReturnCode", value, record) && ParseDecimal64(value) == 1);
        Require(GetReplyValue(L"MD5", value, record) && value == record.info.MD5);
        Require(GetReplyValue(L"FileSize", value, record) && value == record.info.FileSize);
        Require(GetReplyValue(L"UpdateAvailable", value, record) &&
                record.info.UpdateAvailable == (value == L"Y" ? 1 : 0));
    } else {
        bool allFound = true;
        std::wstring value;
        for (const wchar_t* key : kKeys)
            allFound = GetReplyValue(key, value, record) && allFound;
        Require(!allFound || record.info.ReturnCode != 1);
    }

    CheckDecimal(narrow);
    return 0;
}
