// One URL fetched with an HTTP GET and returned as text: up to three attempts, every failure
// logged, the system's credential dialog for 401 and 407, and bounds on waiting and size.
#pragma once

#include <string>

#include "update/internet_handles.h"

namespace http_text {
// An attempt fails when the server sends nothing for this long...
inline constexpr unsigned long kSilenceLimitMs = 30000;
// ...or when its reply, headers and body, is not complete this long after the attempt began.
inline constexpr unsigned long kAttemptLimitMs = 60000;
// A reply body larger than this fails the attempt; none of it is kept.
inline constexpr unsigned long kMaxBodyBytes = 1024 * 1024;
}  // namespace http_text

// True when a 200 reply was read to its announced end and decoded as UTF-8; `replyText` then
// holds the body up to its first zero byte. The handles are empty again when this returns.
bool HttpGetText(InternetHandles& handles, const wchar_t* url, std::wstring& replyText);
