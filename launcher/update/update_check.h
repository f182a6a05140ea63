// Asks the update service whether another build than the installed one is offered.
#pragma once

#include <functional>
#include <string>

#include "update/update_record.h"

// What the check shows while it pauses before giving its answer; the caller puts it on screen.
enum class CheckNotice { CheckFailed, ReplyInvalid, NoUpdate };
using ShowCheckNotice = std::function<void(CheckNotice)>;

// The installed application's version (first two numbers of its file version); 0.00 when
// the application file is absent or has no version.
void ReadLocalVersion(UpdateRecord& record);

// True when the service offers a build whose version text differs from the installed one.
// On false the matching notice has been shown for its fixed time and logged.
bool CheckUpdate(UpdateRecord& record, const ShowCheckNotice& show);

// The service's origin ("http://host" or "https://host:port"), fixed per executable by the
// build before the worker starts; the check's path and query follow it.
void SetUpdateOrigin(const wchar_t* origin);
const std::wstring& GetUpdateOrigin();

// The request URL for the given installed version.
std::wstring FormatCheckUpdateUrl(uint16_t major, uint16_t minor);
