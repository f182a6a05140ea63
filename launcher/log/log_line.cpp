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
