#include "log/log_line.h"

#include <cstdio>

std::string FormatLogStamp(const std::tm& localTime)
{
    char stamp[64] = {};
    std::snprintf(stamp, sizeof stamp, "%02d-%02d-%02d %02d:%02d:%02d\t", localTime.tm_year + 1900,
                  localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min,
                  localTime.tm_sec);
    return stamp;
}

namespace {

void AppendNarrowed(std::string& out, std::wstring_view text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const auto unit = static_cast<unsigned long>(text[i]);
        if (unit == L'\n') {
            out += "\r\n";
        } else if (unit <= 0xFF) {
            out += static_cast<char>(unit);
        } else {
            // A high surrogate followed by a low one is one character: one '?', not two.
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
                const auto next = static_cast<unsigned long>(text[i + 1]);
                if (next >= 0xDC00 && next <= 0xDFFF)
                    ++i;
            }
            out += '?';
        }
    }
}

}  // namespace

std::string EncodeLogLine(const std::tm& localTime, std::wstring_view message)
{
    std::string line = FormatLogStamp(localTime);
    line.reserve(line.size() + message.size() + 2);
    AppendNarrowed(line, message);
    line += "\r\n";
    return line;
}

namespace {

bool IsControl(wchar_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

void AppendEscaped(std::wstring& out, std::wstring_view text, bool keepTabs)
{
    for (const wchar_t c : text) {
        if (!IsControl(c) || (keepTabs && c == L'\t')) {
            out += c;
            continue;
        }
        // Controls are all below U+00A0: two hexadecimal digits.
        constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
        out += L"\\x";
        out += kDigits[(c >> 4) & 0xF];
        out += kDigits[c & 0xF];
    }
}

}  // namespace

std::wstring EscapeControls(std::wstring_view text)
{
    std::wstring out;
    AppendEscaped(out, text, false);
    return out;
}

std::wstring QuoteLines(std::wstring_view text)
{
    std::wstring out;
    size_t begin = 0;
    for (;;) {
        const size_t end = text.find_first_of(L"\r\n", begin);
        out += L"\n ";
        AppendEscaped(out, text.substr(begin, end == std::wstring_view::npos ? end : end - begin),
                      true);
        if (end == std::wstring_view::npos)
            return out;
        begin = end + (text.compare(end, 2, L"\r\n") == 0 ? 2 : 1);
    }
}
