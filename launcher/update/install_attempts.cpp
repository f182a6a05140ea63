#include "update/install_attempts.h"

#include <numeric>
#include <vector>

namespace {

constexpr wchar_t kRecordFormat[] = L"launcher install attempts 1";
constexpr const wchar_t* kFieldNames[] = {L"file", L"size", L"md5", L"version", L"failures",
                                          L"last"};
constexpr size_t kFields = 6;
constexpr uint64_t kMaxFailures = 1000000;

// Only digits, at least one, no leading zero, at most `limit`.
bool ReadNumber(const std::wstring& text, uint64_t limit, uint64_t& value)
{
    if (text.empty() || text.size() > 19 || text[0] == L'0' ||
        text.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    // 19 digits fit in 64 unsigned bits.
    value = std::accumulate(text.begin(), text.end(), uint64_t{0}, [](uint64_t sum, wchar_t c) {
        return sum * 10 + static_cast<uint64_t>(c - L'0');
    });
    return value <= limit;
}

}  // namespace

std::wstring FormatAttemptRecord(const AttemptRecord& record)
{
    const std::wstring values[kFields] = {
        record.build.fileName,
        record.build.fileSize,
        record.build.md5,
        record.build.version,
        std::to_wstring(record.failures),
        std::to_wstring(record.lastFailure),
    };
    std::wstring text = kRecordFormat;
    text += L'\n';
    for (size_t i = 0; i < kFields; ++i)
        text += std::wstring(kFieldNames[i]) + L'=' + values[i] + L'\n';
    return text;
}

bool ParseAttemptRecord(const std::wstring& text, AttemptRecord& record)
{
    std::vector<std::wstring> lines;
    size_t begin = 0;
    for (size_t end; (end = text.find(L'\n', begin)) != std::wstring::npos; begin = end + 1)
        lines.push_back(text.substr(begin, end - begin));
    if (begin != text.size() || lines.size() != kFields + 1 || lines[0] != kRecordFormat)
        return false;
    std::wstring values[kFields];
    for (size_t i = 0; i < kFields; ++i) {
        const std::wstring prefix = std::wstring(kFieldNames[i]) + L'=';
        if (lines[i + 1].compare(0, prefix.size(), prefix) != 0 ||
            lines[i + 1].find(L'\r') != std::wstring::npos)
            return false;
        values[i] = lines[i + 1].substr(prefix.size());
    }
    uint64_t failures = 0;
    uint64_t last = 0;
    // A FILETIME is a signed 64-bit count.
    if (!ReadNumber(values[4], kMaxFailures, failures) ||
        !ReadNumber(values[5], 0x7FFFFFFFFFFFFFFFull, last))
        return false;
    record = AttemptRecord{{values[0], values[1], values[2], values[3]},
                           static_cast<uint32_t>(failures), last};
    return true;
}

uint32_t FailuresFor(const AttemptRecord* record, const Announcement& offered)
{
    return record && record->build == offered ? record->failures : 0;
}

bool IsHeldBack(const AttemptRecord* record, const Announcement& offered, uint64_t now)
{
    if (FailuresFor(record, offered) < kFailuresBeforeHoldBack || now < record->lastFailure)
        return false;
    return now - record->lastFailure < kHoldBackTime;
}

AttemptRecord AfterFailure(const AttemptRecord* record, const Announcement& offered,
                           uint64_t now)
{
    const uint32_t before = FailuresFor(record, offered);
    return AttemptRecord{offered, before < kMaxFailures ? before + 1 : before, now};
}
