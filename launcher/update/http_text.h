// One URL fetched with an HTTP GET and returned as text: up to three attempts, every failure
// logged, the system's credential dialog for 401 and 407.
#pragma once

#include <string>

#include "update/internet_handles.h"

// True when a 200 reply was read to its end and decoded as UTF-8; `replyText` then holds the
// body up to its first zero byte. The handle pair is empty again when this returns.
bool HttpGetText(InternetHandles& handles, const wchar_t* url, std::wstring& replyText);
