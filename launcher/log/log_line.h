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

// A value from outside (a server's reply, a header) for the middle of a message: every
// control character (C0 including CR and LF, DEL, C1) is written as \xHH, so the value stays
// on its line.
std::wstring EscapeControls(std::wstring_view text);

// A text from outside of several lines, for the end of a message: each of its lines (ended by
// CR LF, CR or LF) follows on a line of its own that starts with a blank, with the other
// control characters escaped as above. A stamped line starts with a digit, so no reply can
// write a line that looks like one of the launcher's. Tabs stay, for indented replies.
std::wstring QuoteLines(std::wstring_view text);
