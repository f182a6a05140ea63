#include "update/internet_handles.h"

namespace internet {

HINTERNET OpenSession()
{
    return InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
}

HINTERNET OpenUrl(HINTERNET session, const wchar_t* url)
{
    return InternetOpenUrlW(session, url, nullptr, 0, INTERNET_FLAG_NO_CACHE_WRITE, 0);
}

DWORD QueryStatusCode(HINTERNET request)
{
    DWORD status = 0;
    DWORD length = sizeof status;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &length, nullptr))
        return 0;
    return status;
}

bool AskForCredentials(HINTERNET request)
{
    const DWORD flags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                        FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;
    return InternetErrorDlg(GetDesktopWindow(), request, ERROR_INTERNET_INCORRECT_PASSWORD, flags,
                            nullptr) == ERROR_INTERNET_FORCE_RETRY;
}

}  // namespace internet
