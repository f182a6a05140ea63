#include "update/update_check.h"

#include <windows.h>
#include <shlwapi.h>

#include "base/brand.h"
#include "environment/locations.h"
#include "log/log_file.h"
#include "log/log_line.h"
#include "update/http_text.h"
#include "update/installer_url.h"
#include "update/update_reply.h"

#ifndef LAUNCHER_UPDATE_URL
#error "LAUNCHER_UPDATE_URL must name the update service's origin"
#endif

namespace {

#define LAUNCHER_WIDEN2(text) L##text
#define LAUNCHER_WIDEN(text) LAUNCHER_WIDEN2(text)

constexpr wchar_t kCheckPath[] = L"" LAUNCHER_BRAND_CHECK_PATH;
constexpr wchar_t kSku[] = L"" LAUNCHER_BRAND_SKU;

constexpr DWORD kCheckFailedPauseMs = 3000;
constexpr DWORD kReplyInvalidPauseMs = 3000;
constexpr DWORD kNoUpdatePauseMs = 2000;

InternetHandles& GetCheckHandles()
{
    static InternetHandles handles;
    return handles;
}

std::wstring& UpdateOrigin()
{
    static std::wstring origin = LAUNCHER_WIDEN(LAUNCHER_UPDATE_URL);
    return origin;
}

}  // namespace

void SetUpdateOrigin(const wchar_t* origin)
{
    UpdateOrigin() = origin;
}

const std::wstring& GetUpdateOrigin()
{
    return UpdateOrigin();
}

std::wstring FormatCheckUpdateUrl(uint16_t major, uint16_t minor)
{
    wchar_t url[1024] = {};
    // Nothing is escaped: the origin is checked by the build, and the SKU and the numbers need
    // no escaping.
    wsprintfW(url, L"%s%s?SKU=%s&Major=%d&Minor=%d", GetUpdateOrigin().c_str(), kCheckPath, kSku,
              static_cast<int>(major), static_cast<int>(minor));
    return url;
}

void ReadLocalVersion(UpdateRecord& record)
{
    record.localMajor = 0;
    record.localMinor = 0;
    const std::wstring& path = GetApplicationPath();
    if (PathFileExistsW(path.c_str())) {
        GetFileVersion(path.c_str(), record.localMajor, record.localMinor);
        WriteLog(GetLogFile(), L"local version: %d.%02d", static_cast<int>(record.localMajor),
                 static_cast<int>(record.localMinor));
    }
}

bool CheckUpdate(UpdateRecord& record, const ShowCheckNotice& show)
{
    const std::wstring url = FormatCheckUpdateUrl(record.localMajor, record.localMinor);
    if (!HttpGetText(GetCheckHandles(), url.c_str(), record.replyText)) {
        show(CheckNotice::CheckFailed);
        Sleep(kCheckFailedPauseMs);
        WriteLog(GetLogFile(), L"request check update error");
        return false;
    }
    // A ServerPath with a password in it is not written to the log, and no line of the reply can
    // pass for one of the launcher's own.
    WriteLog(GetLogFile(), L"check update answer:%s",
             QuoteLines(HideUserInfo(record.replyText)).c_str());

    if (!ParseUpdateReply(record)) {
        show(CheckNotice::ReplyInvalid);
        Sleep(kReplyInvalidPauseMs);
        WriteLog(GetLogFile(), L"parse update error");
        return false;
    }

    // Versions are compared as texts: any difference, older builds included, is an update.
    const std::wstring localVersion = FormatVersionText(record.localMajor, record.localMinor);
    if (localVersion != record.info.LatestVersion) {
        WriteLog(GetLogFile(), L"has update");
        record.info.UpdateAvailable = 1;
        return true;
    }
    show(CheckNotice::NoUpdate);
    Sleep(kNoUpdatePauseMs);
    WriteLog(GetLogFile(), L"no update");
    record.info.UpdateAvailable = 0;
    return false;
}
