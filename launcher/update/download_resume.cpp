#include "update/download_resume.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

#include "update/update_reply.h"

namespace {

constexpr wchar_t kRecordFormat[] = L"launcher download record 1";
constexpr const wchar_t* kFieldNames[] = {L"url", L"size", L"md5", L"validator", L"written"};

// Only digits, at least one, within 63 bits.
bool ReadCount(const std::wstring& text, int64_t& value)
{
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of(L"0123456789") != std::wstring::npos ||
        (text.size() == 19 && text > L"9223372036854775807"))
        return false;
    value = std::accumulate(text.begin(), text.end(), int64_t{0},
                            [](int64_t sum, wchar_t c) { return sum * 10 + (c - L'0'); });
    return true;
}

// MD5 texts are hexadecimal: their case does not matter.
bool SameIgnoringAsciiCase(const std::wstring& a, const std::wstring& b)
{
    const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

bool HasLineBreak(const std::wstring& text)
{
    return text.find_first_of(L"\r\n") != std::wstring::npos;
}

}  // namespace

int64_t RecordedReach(int64_t held, int64_t size)
{
    constexpr int64_t kLeastStep = 1 << 20;
    return (std::min)(size, held + (std::max)(held, kLeastStep));
}

std::wstring FormatResumeRecord(const ResumeRecord& record)
{
    // A value that would break the line format is left out; the record then matches nothing.
    const std::wstring values[] = {
        HasLineBreak(record.url) ? std::wstring() : record.url,
        std::to_wstring(record.size),
        HasLineBreak(record.md5) ? std::wstring() : record.md5,
        HasLineBreak(record.validator) ? std::wstring() : record.validator,
        std::to_wstring(record.written),
    };
    std::wstring text = kRecordFormat;
    text += L'\n';
    for (size_t i = 0; i < 5; ++i) {
        text += kFieldNames[i];
        text += L'=';
        text += values[i];
        text += L'\n';
    }
    return text;
}

bool ParseResumeRecord(const std::wstring& text, ResumeRecord& record)
{
    std::vector<std::wstring> lines;
    size_t begin = 0;
    for (size_t end; (end = text.find(L'\n', begin)) != std::wstring::npos; begin = end + 1)
        lines.push_back(text.substr(begin, end - begin));
    if (begin != text.size() || lines.size() != 6 || lines[0] != kRecordFormat)
        return false;
    std::wstring values[5];
    for (size_t i = 0; i < 5; ++i) {
        const std::wstring prefix = std::wstring(kFieldNames[i]) + L'=';
        if (lines[i + 1].compare(0, prefix.size(), prefix) != 0)
            return false;
        values[i] = lines[i + 1].substr(prefix.size());
    }
    ResumeRecord parsed;
    parsed.url = values[0];
    parsed.md5 = values[2];
    parsed.validator = values[3];
    if (!ReadCount(values[1], parsed.size) || !ReadCount(values[4], parsed.written))
        return false;
    record = parsed;
    return true;
}

int64_t ResumeStart(const ResumeRecord* record, const std::wstring& url, int64_t size,
                    const std::wstring& md5, int64_t partSize)
{
    if (!record || record->url != url || record->size != size ||
        !SameIgnoringAsciiCase(record->md5, md5))
        return 0;
    // Without a validator only the MD5 at the end would notice a file changed on the server.
    if (record->validator.empty() && !IsCheckableMd5(md5))
        return 0;
    // A complete part is not trusted without its checks: it is fetched again.
    if (partSize <= 0 || partSize > record->written || partSize >= size)
        return 0;
    return partSize;
}

std::wstring ChooseValidator(const std::wstring& etag, const std::wstring& lastModified)
{
    if (!etag.empty() && etag.compare(0, 2, L"W/") != 0)
        return etag;
    return lastModified;
}

std::wstring RangeRequestHeaders(int64_t start, const std::wstring& validator)
{
    std::wstring headers = L"Range: bytes=" + std::to_wstring(start) + L"-\r\n";
    if (!validator.empty())
        headers += L"If-Range: " + validator + L"\r\n";
    return headers;
}

RangeReply JudgeRangeReply(unsigned long status, const std::wstring& contentRange,
                           const std::wstring& contentLength, int64_t start, int64_t size)
{
    if (status == 200)
        return RangeReply::Whole;
    if (status == 416)
        return RangeReply::Refused;
    if (status != 206)
        return RangeReply::Failed;
    const std::wstring expected = L"bytes " + std::to_wstring(start) + L"-" +
                                  std::to_wstring(size - 1) + L"/" + std::to_wstring(size);
    int64_t length = -1;
    if (contentRange != expected || !ReadCount(contentLength, length) || length != size - start)
        return RangeReply::Refused;
    return RangeReply::Resumed;
}

bool ResumeAtOnce(int64_t partBefore, int64_t partAfter, int resumesInARow)
{
    return partAfter > partBefore && resumesInARow < kMaxResumesInARow;
}
