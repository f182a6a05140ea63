// Composition of one log line, kept free of Windows headers so it builds natively too.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

// The local time stamp that starts every line: "YYYY-MM-DD hh:mm:ss" and a tab.
std::string FormatLogStamp(const std::tm& localTime);

// Stamp, message and line end as the bytes stored in the file. The file keeps the C locale's
// one-byte character set, so U+0000..U+00FF are stored as themselves and every other character
// (a surrogate pair counts as one) as '?'. Each "\n" becomes CR LF, as a text-mode stream would
// store it, so a message with line breaks continues on unstamped lines.
std::string EncodeLogLine(const std::tm& localTime, std::wstring_view message);
